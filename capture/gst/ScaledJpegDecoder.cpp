#include "capture/gst/ScaledJpegDecoder.h"

#include <gst/video/gstvideodecoder.h>
#include <gst/video/video.h>
#include <turbojpeg.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "capture/gst/GstHandles.h"
#include "capture/gst/JpegHeader.h"
#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

// Reductions with the decoder's fast scaled inverse DCTs, the largest first.
constexpr int kReductions[] = {8, 4, 2};

bool Offered(int reduction) {
    static const std::vector<int> offered = [] {
        std::vector<int> found;
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        for (int i = 0; factors && i < count; ++i)
            if (factors[i].num == 1) found.push_back(factors[i].denom);
        return found;
    }();
    return std::find(offered.begin(), offered.end(), reduction) != offered.end();
}

int32_t Reduced(int32_t length, int reduction) { return TJSCALED(length, (tjscalingfactor{1, reduction})); }

// The preview's 32-bit layout (see VideoFrame) in the decoder's words and GStreamer's.
constexpr int kPreviewPixels = G_BYTE_ORDER == G_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
constexpr GstVideoFormat kPreviewFormat =
    G_BYTE_ORDER == G_LITTLE_ENDIAN ? GST_VIDEO_FORMAT_BGRx : GST_VIDEO_FORMAT_xRGB;

// Whole, the planes as the JPEG holds them, so that nothing is upsampled or
// converted here (as jpegdec does). Reduced, in the preview's layout: the
// decoder then scales the colour up by its inverse DCT too, so the colour
// keeps the resolution of the picture shown. Other JPEGs (RGB, CMYK, rare
// subsamplings) always in the preview's layout.
GstVideoFormat OutputFormat(int subsampling, int colorspace, int reduction) {
    if (colorspace == TJCS_GRAY || subsampling == TJSAMP_GRAY) return GST_VIDEO_FORMAT_GRAY8;
    if (colorspace == TJCS_YCbCr && reduction == 1) {
        switch (subsampling) {
            case TJSAMP_420: return GST_VIDEO_FORMAT_I420;
            case TJSAMP_422: return GST_VIDEO_FORMAT_Y42B;
            case TJSAMP_444: return GST_VIDEO_FORMAT_Y444;
            default: break;
        }
    }
    return kPreviewFormat;
}

// Whether what follows the decoder takes `format` (a mirror's videoflip
// takes no 4:2:2, say).
bool DownstreamTakes(GstVideoDecoder* decoder, GstVideoFormat format) {
    const CapsPtr wanted(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                             gst_video_format_to_string(format), nullptr));
    const CapsPtr taken(gst_pad_peer_query_caps(GST_VIDEO_DECODER_SRC_PAD(decoder), wanted.get()));
    return taken && !gst_caps_is_empty(taken.get());
}

// A warning (a picture cut short, say) still leaves a picture to show; a
// handle that failed is replaced, as after a header it could not read.
bool Decoded(tjhandle& handle, int result) {
    if (result == 0) return true;
    const bool warned = tjGetErrorCode(handle) == TJERR_WARNING;
    RenewJpegHandle(handle);
    return warned;
}

struct DecoderState {
    std::shared_ptr<PreviewDecodeScale> scale = std::make_shared<PreviewDecodeScale>();
    WholePictureTaker taker;
    tjhandle handle = nullptr;
    GstVideoCodecState* input = nullptr;
    GstVideoFormat format = GST_VIDEO_FORMAT_UNKNOWN;  // the output's, as last set
    // The layout last wanted and the one chosen for it: what follows is
    // asked once, not for every picture.
    GstVideoFormat wanted = GST_VIDEO_FORMAT_UNKNOWN, chosen = GST_VIDEO_FORMAT_UNKNOWN;
    PictureSize size;
    std::vector<uint8_t> whole;  // the grabber's picture

    void DropInput() {
        if (input) gst_video_codec_state_unref(input);
        input = nullptr;
    }
};

struct LumoraScaledJpegDec {
    GstVideoDecoder parent;
    DecoderState* state;
};

struct LumoraScaledJpegDecClass {
    GstVideoDecoderClass parent_class;
};

G_DEFINE_TYPE(LumoraScaledJpegDec, lumora_scaled_jpeg_dec, GST_TYPE_VIDEO_DECODER)

DecoderState& StateOf(GstVideoDecoder* decoder) { return *reinterpret_cast<LumoraScaledJpegDec*>(decoder)->state; }

gboolean Start(GstVideoDecoder* decoder) {
    DecoderState& st = StateOf(decoder);
    st.handle = tjInitDecompress();
    return st.handle != nullptr;
}

gboolean Stop(GstVideoDecoder* decoder) {
    DecoderState& st = StateOf(decoder);
    if (st.handle) tjDestroy(st.handle);
    st.handle = nullptr;
    st.DropInput();
    st.format = st.wanted = GST_VIDEO_FORMAT_UNKNOWN;
    st.size = {};
    return TRUE;
}

// The output's size follows each picture's, so only the input is kept.
gboolean SetFormat(GstVideoDecoder* decoder, GstVideoCodecState* input) {
    DecoderState& st = StateOf(decoder);
    st.DropInput();
    st.input = gst_video_codec_state_ref(input);
    st.format = st.wanted = GST_VIDEO_FORMAT_UNKNOWN;
    return TRUE;
}

void SetOutput(GstVideoDecoder* decoder, GstVideoFormat format, PictureSize size) {
    DecoderState& st = StateOf(decoder);
    if (format == st.format && size == st.size) return;
    GstVideoCodecState* out = gst_video_decoder_set_output_state(decoder, format, size.width, size.height, st.input);
    if (GST_VIDEO_INFO_IS_YUV(&out->info)) {
        // JFIF: full-range BT.601.
        out->info.colorimetry.range = GST_VIDEO_COLOR_RANGE_0_255;
        out->info.colorimetry.matrix = GST_VIDEO_COLOR_MATRIX_BT601;
        out->info.colorimetry.transfer = GST_VIDEO_TRANSFER_UNKNOWN;
        out->info.colorimetry.primaries = GST_VIDEO_COLOR_PRIMARIES_UNKNOWN;
    }
    gst_video_codec_state_unref(out);
    st.format = format;
    st.size = size;
}

// The planes as the JPEG holds them where what follows takes them, else
// the preview's layout, which every road after the decoder takes.
GstVideoFormat TakenFormat(GstVideoDecoder* decoder, GstVideoFormat wanted) {
    DecoderState& st = StateOf(decoder);
    if (wanted == st.wanted) return st.chosen;
    st.wanted = wanted;
    st.chosen = wanted == kPreviewFormat || DownstreamTakes(decoder, wanted) ? wanted : kPreviewFormat;
    return st.chosen;
}

// The whole picture for the grabber, in the preview's layout.
void GiveWholePicture(DecoderState& st, const GstMapInfo& jpeg, PictureSize picture, GstClockTime pts) {
    const int stride = picture.width * 4;
    st.whole.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(picture.height));
    if (!Decoded(st.handle, tjDecompress2(st.handle, jpeg.data, jpeg.size, st.whole.data(), picture.width, stride,
                                          picture.height, kPreviewPixels, 0)))
        return;
    const double seconds = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND : 0.0;
    st.taker.take(seconds, VideoFrame{st.whole.data(), picture.width, picture.height, stride, nullptr});
}

bool DecodeInto(DecoderState& st, const GstMapInfo& jpeg, GstVideoFrame& out) {
    const GstVideoInfo& info = out.info;
    const int width = GST_VIDEO_INFO_WIDTH(&info), height = GST_VIDEO_INFO_HEIGHT(&info);
    if (GST_VIDEO_INFO_IS_RGB(&info))
        return Decoded(st.handle, tjDecompress2(st.handle, jpeg.data, jpeg.size,
                                                static_cast<unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&out, 0)), width,
                                                GST_VIDEO_FRAME_PLANE_STRIDE(&out, 0), height, kPreviewPixels, 0));
    unsigned char* planes[3] = {};
    int strides[3] = {};
    for (guint i = 0; i < GST_VIDEO_FRAME_N_PLANES(&out); ++i) {
        planes[i] = static_cast<unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&out, i));
        strides[i] = GST_VIDEO_FRAME_PLANE_STRIDE(&out, i);
    }
    return Decoded(st.handle,
                   tjDecompressToYUVPlanes(st.handle, jpeg.data, jpeg.size, planes, width, strides, height, 0));
}

GstFlowReturn HandleFrame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame) {
    DecoderState& st = StateOf(decoder);
    GstMapInfo jpeg;
    if (!gst_buffer_map(frame->input_buffer, &jpeg, GST_MAP_READ)) return gst_video_decoder_drop_frame(decoder, frame);
    JpegHeader header;
    // A broken picture from the camera is skipped, as the next one is whole.
    if (!ReadJpegHeader(st.handle, jpeg.data, jpeg.size, header)) {
        gst_buffer_unmap(frame->input_buffer, &jpeg);
        return gst_video_decoder_drop_frame(decoder, frame);
    }
    const auto [width, height, subsampling, colorspace] = header;
    const PictureSize picture{width, height};
    st.scale->NotePicture(picture);
    const int reduction = DecodeReduction(picture, st.scale->Shown());
    if (reduction > 1 && st.taker.wanted && st.taker.wanted()) GiveWholePicture(st, jpeg, picture, frame->pts);
    SetOutput(decoder, TakenFormat(decoder, OutputFormat(subsampling, colorspace, reduction)),
              {Reduced(width, reduction), Reduced(height, reduction)});
    GstFlowReturn flow = gst_video_decoder_allocate_output_frame(decoder, frame);
    bool decoded = false;
    if (flow == GST_FLOW_OK) {
        GstVideoCodecState* out = gst_video_decoder_get_output_state(decoder);
        GstVideoFrame mapped;
        if (out && gst_video_frame_map(&mapped, &out->info, frame->output_buffer, GST_MAP_WRITE)) {
            decoded = DecodeInto(st, jpeg, mapped);
            gst_video_frame_unmap(&mapped);
        }
        if (out) gst_video_codec_state_unref(out);
    }
    gst_buffer_unmap(frame->input_buffer, &jpeg);
    if (flow != GST_FLOW_OK) {
        gst_video_decoder_drop_frame(decoder, frame);
        return flow;
    }
    return decoded ? gst_video_decoder_finish_frame(decoder, frame) : gst_video_decoder_drop_frame(decoder, frame);
}

void Finalize(GObject* object) {
    auto* self = reinterpret_cast<LumoraScaledJpegDec*>(object);
    self->state->DropInput();
    delete self->state;
    self->state = nullptr;
    G_OBJECT_CLASS(lumora_scaled_jpeg_dec_parent_class)->finalize(object);
}

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                            GST_STATIC_CAPS("image/jpeg"));
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ I420, Y42B, Y444, GRAY8, BGRx, xRGB }")));

void lumora_scaled_jpeg_dec_class_init(LumoraScaledJpegDecClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = &Finalize;
    auto* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Scaled JPEG decoder", "Codec/Decoder/Image",
                                          "Decodes JPEG pictures reduced to the size the preview shows", "Lumora");
    auto* decoder = GST_VIDEO_DECODER_CLASS(klass);
    decoder->start = &Start;
    decoder->stop = &Stop;
    decoder->set_format = &SetFormat;
    decoder->handle_frame = &HandleFrame;
}

void lumora_scaled_jpeg_dec_init(LumoraScaledJpegDec* self) {
    self->state = new DecoderState();
    gst_video_decoder_set_packetized(GST_VIDEO_DECODER(self), TRUE);
}

// Registered once, without a plugin, so that the element has a factory name.
constexpr const char* kFactory = "lumorascaledjpegdec";

bool Registered() {
    static const bool registered =
        gst_element_register(nullptr, kFactory, GST_RANK_NONE, lumora_scaled_jpeg_dec_get_type());
    return registered;
}

}  // namespace

int DecodeReduction(PictureSize picture, PictureSize shown) {
    if (picture.width <= 0 || picture.height <= 0 || shown.width <= 0 || shown.height <= 0) return 1;
    for (int reduction : kReductions)
        if (Reduced(picture.width, reduction) >= shown.width && Reduced(picture.height, reduction) >= shown.height &&
            Offered(reduction))
            return reduction;
    return 1;
}

Result<GstElement*> MakeScaledJpegDecoder(std::shared_ptr<PreviewDecodeScale> scale, WholePictureTaker taker) {
    GstElement* element = Registered() ? gst_element_factory_make(kFactory, nullptr) : nullptr;
    if (!element) return Fail(messages::ElementMissing(kFactory));
    DecoderState& st = *reinterpret_cast<LumoraScaledJpegDec*>(element)->state;
    if (scale) st.scale = std::move(scale);
    st.taker = std::move(taker);
    return element;
}

}  // namespace lumora::gst

// The preview's JPEG decoder, reducing as it decodes: what it shows at a
// small size is the picture a whole decode scaled down shows.

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "capture/gst/GstHandles.h"
#include "capture/gst/ScaledJpegDecoder.h"

namespace {

using namespace lumora::gst;

constexpr int kWidth = 1280, kHeight = 720;
constexpr int kShownWidth = 280, kShownHeight = 157;  // letterboxed in the minimal window

// One picture of colour bars, as a camera's JPEG encoder would send it.
BufferPtr JpegPicture() {
    const std::string description = "videotestsrc pattern=smpte num-buffers=1 ! video/x-raw,format=I420,width=" +
                                    std::to_string(kWidth) + ",height=" + std::to_string(kHeight) +
                                    " ! jpegenc ! appsink name=out";
    ElementPtr pipeline = AdoptFloating(gst_parse_launch(description.c_str(), nullptr));
    if (!pipeline) return nullptr;
    const ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    const SamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink.get())));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return BufferPtr(sample ? gst_buffer_ref(gst_sample_get_buffer(sample.get())) : nullptr);
}

struct Shown {
    SamplePtr picture;  // BGRx at the shown size
    int decodedWidth = 0;  // what the decoder handed on
};

// jpeg -> `decoder` -> convert+scale -> BGRx at the shown size, scaled by
// `method` (the scaler's own by default).
Shown Show(GstBuffer* jpeg, GstElement* decoder, const char* method = nullptr) {
    Shown shown;
    ElementPtr pipeline = AdoptFloating(gst_pipeline_new(nullptr));
    GstElement* source = gst_element_factory_make("appsrc", nullptr);
    GstElement* scaler = gst_element_factory_make("videoconvertscale", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, decoder, scaler, sink, nullptr);
    const CapsPtr in(gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, kWidth, "height", G_TYPE_INT, kHeight,
                                         "framerate", GST_TYPE_FRACTION, 30, 1, nullptr));
    const CapsPtr out(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                          kShownWidth, "height", G_TYPE_INT, kShownHeight, nullptr));
    g_object_set(source, "caps", in.get(), "format", GST_FORMAT_TIME, nullptr);
    g_object_set(sink, "caps", out.get(), nullptr);
    if (method) gst_util_set_object_arg(G_OBJECT(scaler), "method", method);
    if (!gst_element_link_many(source, decoder, scaler, sink, nullptr)) return shown;
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GST_BUFFER_PTS(jpeg) = 0;
    gst_app_src_push_buffer(GST_APP_SRC(source), gst_buffer_ref(jpeg));
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    shown.picture.reset(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
    const PadPtr decoded(gst_element_get_static_pad(decoder, "src"));
    const CapsPtr caps(gst_pad_get_current_caps(decoded.get()));
    GstVideoInfo info;
    if (caps && gst_video_info_from_caps(&info, caps.get())) shown.decodedWidth = GST_VIDEO_INFO_WIDTH(&info);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return shown;
}

double Psnr(GstSample* a, GstSample* b) {
    GstMapInfo ma, mb;
    GstBuffer* ba = gst_sample_get_buffer(a);
    GstBuffer* bb = gst_sample_get_buffer(b);
    if (!gst_buffer_map(ba, &ma, GST_MAP_READ)) return 0;
    if (!gst_buffer_map(bb, &mb, GST_MAP_READ)) {
        gst_buffer_unmap(ba, &ma);
        return 0;
    }
    double squares = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < ma.size && i < mb.size; ++i) {
        if (i % 4 == 3) continue;  // the unused byte
        const double d = static_cast<double>(ma.data[i]) - static_cast<double>(mb.data[i]);
        squares += d * d;
        ++count;
    }
    const bool sameSize = ma.size == mb.size;
    gst_buffer_unmap(ba, &ma);
    gst_buffer_unmap(bb, &mb);
    if (!sameSize || count == 0) return 0;
    return squares == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(count) / squares);
}

TEST(ScaledJpegDecoder, ShowsWhatAWholeDecodeScaledDownShows) {
    gst_init(nullptr, nullptr);
    const BufferPtr jpeg = JpegPicture();
    ASSERT_TRUE(jpeg);

    // Scaled down from the whole picture over all the pixels it drops (plain
    // bilinear sampling would alias at this reduction).
    const Shown whole = Show(jpeg.get(), gst_element_factory_make("jpegdec", nullptr), "bilinear2");
    auto scale = std::make_shared<PreviewDecodeScale>();
    scale->Show(kShownWidth, kShownHeight);
    Result<GstElement*> decoder = MakeScaledJpegDecoder(scale, {});
    ASSERT_TRUE(decoder.ok()) << decoder.error();
    const Shown reduced = Show(jpeg.get(), decoder.value());

    ASSERT_TRUE(whole.picture && reduced.picture);
    EXPECT_EQ(whole.decodedWidth, kWidth);
    EXPECT_EQ(reduced.decodedWidth, kWidth / 4);  // the largest reduction that still covers 280 x 157
    EXPECT_EQ(scale->Picture(), (PictureSize{kWidth, kHeight}));
    EXPECT_GT(Psnr(whole.picture.get(), reduced.picture.get()), 35.0);
}

}  // namespace

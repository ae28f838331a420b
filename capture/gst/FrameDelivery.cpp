#include "capture/gst/FrameDelivery.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "capture/gst/GraphBus.h"
#include "capture/gst/GstGraph.h"
#include "capture/gst/NativeDisplay.h"

namespace lumora::gst {

namespace {

// A picture's pixels, mapped for as long as anyone holds the frame.
struct MappedSample {
    MappedSample(SamplePtr held, GstBuffer* buffer) : sample(std::move(held)), buffer(buffer) {}
    ~MappedSample() {
        if (mapped) gst_buffer_unmap(buffer, &map);
    }
    SamplePtr sample;
    GstBuffer* buffer;
    GstMapInfo map{};
    bool mapped = false;
};

// The frame of `sample` (laid out as `info` says), holding the sample and
// its mapping; an empty frame when it cannot be read.
VideoFrame HoldFrame(SamplePtr sample, const GstVideoInfo& info) {
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    if (!buffer) return {};
    auto mapped = std::make_shared<MappedSample>(std::move(sample), buffer);
    if (!gst_buffer_map(buffer, &mapped->map, GST_MAP_READ)) return {};
    mapped->mapped = true;
    VideoFrame frame{mapped->map.data, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                     GST_VIDEO_INFO_PLANE_STRIDE(&info, 0), nullptr};
    if (static_cast<gsize>(frame.stride) * static_cast<gsize>(frame.height) > mapped->map.size) return {};
    frame.keepAlive = std::move(mapped);
    return frame;
}

double PresentationSeconds(GstBuffer* buffer) {
    return GST_BUFFER_PTS_IS_VALID(buffer) ? static_cast<double>(GST_BUFFER_PTS(buffer)) / GST_SECOND : 0.0;
}

}  // namespace

const char* PreviewPixelFormat() { return G_BYTE_ORDER == G_LITTLE_ENDIAN ? "BGRx" : "xRGB"; }

// Streaming thread. The callback gets 24-bit rows bottom-up, as a bitmap
// stores them, each padded to 4 bytes -- laid out only when wanted.
void GstGrabber::Deliver(double time, const VideoFrame& frame) {
    ISampleGrabberCB* cb = callback.load();
    if (!cb || !cb->WantsBuffer()) return;
    const std::size_t width = static_cast<std::size_t>(frame.width);
    const std::size_t rowBytes = (width * 3 + 3) & ~std::size_t{3};
    bitmap.assign(rowBytes * static_cast<std::size_t>(frame.height), 0);
    for (int32_t row = 0; row < frame.height; ++row) {
        const uint8_t* in = frame.pixels + static_cast<std::size_t>(frame.stride) * row;
        uint8_t* out = &bitmap[rowBytes * static_cast<std::size_t>(frame.height - 1 - row)];
        for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
            uint32_t word;  // 0xffRRGGBB in the machine's order
            std::memcpy(&word, in, 4);
            out[0] = static_cast<uint8_t>(word);
            out[1] = static_cast<uint8_t>(word >> 8);
            out[2] = static_cast<uint8_t>(word >> 16);
        }
    }
    cb->SizedBufferCB(time, bitmap.data(), static_cast<int32_t>(bitmap.size()), frame.width, frame.height);
}

HRESULT GstGrabber::GetConnectedMediaType(ConnectedVideoFormat& format) {
    return graph ? graph->WaitForFormat(format) : E_FAIL;
}

bool FrameDelivery::NoteFormat(GstCaps* caps, GraphBus& bus) {
    if (caps == cachedCaps.get()) return true;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) return false;
    cachedCaps.reset(gst_caps_ref(caps));
    frameInfo = info;
    const PictureSize camera = decodeScale ? decodeScale->Picture() : PictureSize{};
    if (camera.width > 0)
        bus.FormatNegotiated({camera.width, camera.height});
    else
        bus.FormatNegotiated({GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info)});
    return true;
}

bool FrameDelivery::AtCameraSize(int32_t width, int32_t height) const {
    const PictureSize camera = decodeScale ? decodeScale->Picture() : PictureSize{};
    return camera.width <= 0 || (camera.width == width && camera.height == height);
}

void FrameDelivery::Deliver(GstSample* sample, GstGrabber* grabber, GraphBus& bus) {
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !NoteFormat(caps, bus)) return;
    VideoFrame frame = HoldFrame(SamplePtr(gst_sample_ref(sample)), frameInfo);
    if (!frame.pixels) return;
    if (grabber && AtCameraSize(frame.width, frame.height)) grabber->Deliver(PresentationSeconds(buffer), frame);
    frame.mirrored = paintMirrored.load();
    std::lock_guard lock(windowMutex);
    if (window) window->PresentFrame(frame);
}

void FrameDelivery::DeliverToGrabber(GstBuffer* buffer, GstGrabber* grabber) {
    if (!cachedCaps || !grabber || !grabber->Wanted() ||
        !AtCameraSize(GST_VIDEO_INFO_WIDTH(&frameInfo), GST_VIDEO_INFO_HEIGHT(&frameInfo)))
        return;
    // This one picture in the window's layout, for the grabber.
    GstVideoInfo laidOut;
    gst_video_info_set_format(&laidOut, gst_video_format_from_string(PreviewPixelFormat()),
                              GST_VIDEO_INFO_WIDTH(&frameInfo), GST_VIDEO_INFO_HEIGHT(&frameInfo));
    // A converter changes neither the rate nor the interlacing.
    GST_VIDEO_INFO_FPS_N(&laidOut) = GST_VIDEO_INFO_FPS_N(&frameInfo);
    GST_VIDEO_INFO_FPS_D(&laidOut) = GST_VIDEO_INFO_FPS_D(&frameInfo);
    GST_VIDEO_INFO_INTERLACE_MODE(&laidOut) = GST_VIDEO_INFO_INTERLACE_MODE(&frameInfo);
    std::vector<uint8_t> pixels(GST_VIDEO_INFO_SIZE(&laidOut));
    BufferPtr target(gst_buffer_new_wrapped_full(GstMemoryFlags(0), pixels.data(), pixels.size(), 0, pixels.size(),
                                                 nullptr, nullptr));
    GstVideoFrame in, out;
    if (!gst_video_frame_map(&in, &frameInfo, buffer, GST_MAP_READ)) return;
    if (gst_video_frame_map(&out, &laidOut, target.get(), GST_MAP_WRITE)) {
        if (GstVideoConverter* converter = gst_video_converter_new(&frameInfo, &laidOut, nullptr)) {
            gst_video_converter_frame(converter, &in, &out);
            gst_video_converter_free(converter);
        }
        gst_video_frame_unmap(&out);
    }
    gst_video_frame_unmap(&in);
    grabber->Deliver(PresentationSeconds(buffer), VideoFrame{pixels.data(), GST_VIDEO_INFO_WIDTH(&laidOut), GST_VIDEO_INFO_HEIGHT(&laidOut),
                                      GST_VIDEO_INFO_PLANE_STRIDE(&laidOut, 0), nullptr});
}

void FrameDelivery::FrameDrawn() {
    std::lock_guard lock(windowMutex);
    if (window) window->FrameDrawn();
}

uint64_t FrameDelivery::NativeWindow() {
    IVideoWindow* child = CurrentWindow();
    const uint64_t id = child ? child->NativeWindowId() : 0;
    if (child && !id) nativeRefused = true;
    return id;
}

void FrameDelivery::UseNativeSink(GstElement* sink) {
    ElementPtr held(sink ? GST_ELEMENT(gst_object_ref(sink)) : nullptr);
    std::lock_guard lock(sinkMutex);
    nativeSink.swap(held);
}

WindowRect FrameDelivery::NativePlacement() {
    IVideoWindow* child = CurrentWindow();
    return child ? child->NativePlacement() : WindowRect{};
}

bool FrameDelivery::HasNativeSink() {
    std::lock_guard lock(sinkMutex);
    return nativeSink != nullptr;
}

ElementPtr FrameDelivery::NativeSink() {
    std::lock_guard lock(sinkMutex);
    return ElementPtr(nativeSink ? GST_ELEMENT(gst_object_ref(nativeSink.get())) : nullptr);
}

void FrameDelivery::Redraw() { RedrawLatestFrame(NativeSink().get()); }

// The sink keeps the frame it drew last; held, not copied, when it is in
// the layout of VideoFrame.
VideoFrame FrameDelivery::LatestDrawn() {
    const ElementPtr sink = NativeSink();
    if (!sink) return {};
    GstSample* last = nullptr;
    g_object_get(sink.get(), "last-sample", &last, nullptr);
    SamplePtr sample(last);
    GstCaps* caps = sample ? gst_sample_get_caps(sample.get()) : nullptr;
    GstVideoInfo info;
    if (!caps || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != gst_video_format_from_string(PreviewPixelFormat()))
        return {};
    return HoldFrame(std::move(sample), info);
}

HRESULT FrameDelivery::PutOwner(IOwnerWindow* newOwner) {
    IOwnerWindow* oldOwner;
    IVideoWindow* oldWindow;
    {
        std::lock_guard lock(windowMutex);
        oldOwner = owner;
        oldWindow = window;
        owner = nullptr;
        window = nullptr;  // the streaming thread stops presenting here
    }
    if (oldWindow) oldWindow->SetNativeHandlers(nullptr, nullptr);
    if (oldOwner) oldOwner->DetachVideoWindow();
    if (!newOwner) return S_OK;
    IVideoWindow* child = newOwner->AttachVideoWindow();
    if (!child) return E_FAIL;
    child->SetNativeHandlers([this] { Redraw(); }, [this] { return LatestDrawn(); });
    std::lock_guard lock(windowMutex);
    owner = newOwner;
    window = child;
    return S_OK;
}

HRESULT FrameDelivery::PutVisible(bool visible) {
    IVideoWindow* child = CurrentWindow();
    if (!child) return E_FAIL;
    child->SetVisible(visible);
    return S_OK;
}

HRESULT FrameDelivery::SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) {
    IVideoWindow* child = CurrentWindow();
    if (!child) return E_FAIL;
    child->SetWindowPosition(left, top, width, height);
    return S_OK;
}

double FrameDelivery::PixelRatio() {
    IVideoWindow* child = CurrentWindow();
    return child ? child->PixelRatio() : 1.0;
}

IVideoWindow* FrameDelivery::CurrentWindow() {
    std::lock_guard lock(windowMutex);
    return window;
}

}  // namespace lumora::gst

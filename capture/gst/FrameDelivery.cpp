#include "capture/gst/FrameDelivery.h"

#include <cstring>

#include "capture/gst/GraphBus.h"
#include "capture/gst/GstGraph.h"

namespace lumora::gst {

// Streaming thread. The pipeline gives rows top-down; the callback gets
// them bottom-up, as a bitmap stores them -- laid out only when wanted.
void GstGrabber::Deliver(double time, const uint8_t* topDown, int32_t stride, int32_t height) {
    ISampleGrabberCB* cb = callback.load();
    if (!cb || !cb->WantsBuffer()) return;
    const std::size_t rowBytes = static_cast<std::size_t>(stride);
    bitmap.resize(rowBytes * static_cast<std::size_t>(height));
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(&bitmap[rowBytes * (height - 1 - row)], topDown + rowBytes * row, rowBytes);
    cb->BufferCB(time, bitmap.data(), static_cast<int32_t>(bitmap.size()));
}

HRESULT GstGrabber::GetConnectedMediaType(ConnectedVideoFormat& format) {
    return graph ? graph->WaitForFormat(format) : E_FAIL;
}

void FrameDelivery::Deliver(GstSample* sample, GstGrabber* grabber, GraphBus& bus) {
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer) return;
    if (caps != cachedCaps.get()) {
        GstVideoInfo info;
        if (!gst_video_info_from_caps(&info, caps)) return;
        cachedCaps.reset(gst_caps_ref(caps));
        frameInfo = info;
        bus.FormatNegotiated({GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info)});
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
    const double time = GST_BUFFER_PTS_IS_VALID(buffer)
                            ? static_cast<double>(GST_BUFFER_PTS(buffer)) / GST_SECOND
                            : 0.0;
    const int32_t width = GST_VIDEO_INFO_WIDTH(&frameInfo), height = GST_VIDEO_INFO_HEIGHT(&frameInfo);
    const int32_t stride = GST_VIDEO_INFO_PLANE_STRIDE(&frameInfo, 0);
    if (grabber) grabber->Deliver(time, map.data, stride, height);
    {
        std::lock_guard lock(windowMutex);
        if (window) window->PresentFrame(VideoFrame{map.data, width, height, stride});
    }
    gst_buffer_unmap(buffer, &map);
}

HRESULT FrameDelivery::PutOwner(IOwnerWindow* newOwner) {
    IOwnerWindow* oldOwner;
    {
        std::lock_guard lock(windowMutex);
        oldOwner = owner;
        owner = nullptr;
        window = nullptr;  // the streaming thread stops presenting here
    }
    if (oldOwner) oldOwner->DetachVideoWindow();
    if (!newOwner) return S_OK;
    IVideoWindow* child = newOwner->AttachVideoWindow();
    if (!child) return E_FAIL;
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

IVideoWindow* FrameDelivery::CurrentWindow() {
    std::lock_guard lock(windowMutex);
    return window;
}

}  // namespace lumora::gst

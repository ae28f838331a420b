#pragma once
// The preview's pictures, from the appsink's streaming thread to the
// grabber and the video window; and the video window itself.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "capture/CapturePlatform.h"
#include "capture/gst/GstHandles.h"

namespace lumora::gst {

class GraphBus;
class GstGraph;

class GstGrabber : public ISampleGrabber {
public:
    HRESULT SetMediaTypeRGB24() override { return S_OK; }  // the only type this grabber gives
    HRESULT GetConnectedMediaType(ConnectedVideoFormat& format) override;
    HRESULT SetBufferSamples(bool) override { return S_OK; }  // never keeps a copy
    HRESULT SetOneShot(bool oneShot) override { return oneShot ? E_FAIL : S_OK; }
    HRESULT SetCallback(ISampleGrabberCB* cb, int selector) override {
        callback.store(selector == 1 ? cb : nullptr);
        return S_OK;
    }

    void Deliver(double time, const uint8_t* topDown, int32_t stride, int32_t height);

    GstGraph* graph = nullptr;  // set when added to a graph

private:
    std::atomic<ISampleGrabberCB*> callback{nullptr};
    std::vector<uint8_t> bitmap;  // streaming thread only
};

class FrameDelivery {
public:
    // A new pipeline (nothing streams): its format is found anew.
    void Reset() { cachedCaps.reset(); }
    // Streaming thread: one BGR picture. A new format is told to `bus`.
    void Deliver(GstSample* sample, GstGrabber* grabber, GraphBus& bus);

    HRESULT PutOwner(IOwnerWindow* newOwner);
    HRESULT PutVisible(bool visible);
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height);

private:
    IVideoWindow* CurrentWindow();

    // Streaming thread only (reset while nothing streams).
    CapsPtr cachedCaps;
    GstVideoInfo frameInfo{};

    std::mutex windowMutex;
    IOwnerWindow* owner = nullptr;
    IVideoWindow* window = nullptr;
};

}  // namespace lumora::gst

#pragma once
// The preview's pictures, from the appsink's streaming thread to the
// grabber and the video window; and the video window itself. The window
// gets each picture as the pipeline made it, held rather than copied; only
// a picture the grabber's callback asks for is laid out as a bitmap.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/CapturePlatform.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/ScaledJpegDecoder.h"

namespace lumora::gst {

class GraphBus;
class GstGraph;

class GstGrabber : public ISampleGrabber {
public:
    HRESULT SetMediaTypeRGB24() override { return S_OK; }  // the only type this grabber gives
    HRESULT GetConnectedMediaType(ConnectedVideoFormat& format) override;
    HRESULT SetBufferSamples(bool) override { return S_OK; }  // never keeps a copy
    HRESULT SetOneShot(bool oneShot) override { return oneShot ? E_FAIL : S_OK; }
    // Streaming thread: the callback asks for the next picture.
    bool Wanted() {
        ISampleGrabberCB* cb = callback.load();
        return cb && cb->WantsBuffer();
    }
    HRESULT SetCallback(ISampleGrabberCB* cb, int selector) override {
        callback.store(selector == 1 ? cb : nullptr);
        return S_OK;
    }

    // `frame`: the preview's picture; the callback gets it as a bitmap.
    void Deliver(double time, const VideoFrame& frame);

    GstGraph* graph = nullptr;  // set when added to a graph

private:
    std::atomic<ISampleGrabberCB*> callback{nullptr};
    std::vector<uint8_t> bitmap;  // streaming thread only
};

// The 32-bit format of the preview's pictures (see VideoFrame), as
// GStreamer names it on this machine.
const char* PreviewPixelFormat();

class FrameDelivery {
public:
    // A new pipeline (nothing streams): its format is found anew. With
    // `decodeScale`, its pictures may come reduced (see ScaledJpegDecoder.h):
    // the format told is then the camera's size, and the grabber gets only
    // the pictures at that size (the decoder gives it the others whole).
    void Reset(std::shared_ptr<const PreviewDecodeScale> scale = nullptr) {
        cachedCaps.reset();
        decodeScale = std::move(scale);
    }
    // Streaming thread: one picture for the grabber and the window. A new
    // format is told to `bus`.
    void Deliver(GstSample* sample, GstGrabber* grabber, GraphBus& bus);
    // Streaming thread, when the platform's sink draws the window: the
    // format of the pictures as the camera sent them (false: no picture
    // format), and one such picture, converted only when the grabber's
    // callback asks for it.
    bool NoteFormat(GstCaps* caps, GraphBus& bus);
    void DeliverToGrabber(GstBuffer* buffer, GstGrabber* grabber);
    void FrameDrawn();

    // UI thread. The current window's native id (0: none, or it has none;
    // then NativeRefused() stays true for later pipelines).
    uint64_t NativeWindow();
    bool NativeRefused() const { return nativeRefused; }
    // UI thread: the sink drawing into the window (null: none), for redraws.
    void UseNativeSink(GstElement* sink);
    // Any thread: the window paints the pictures it is handed mirrored (the
    // grabber gets them as they are).
    void PaintMirrored(bool mirrored) { paintMirrored.store(mirrored); }
    // UI thread: where the window lies on its native surface.
    WindowRect NativePlacement();
    // UI thread: the sink may be called (no state change is under way).
    bool HasNativeSink();

    HRESULT PutOwner(IOwnerWindow* newOwner);
    HRESULT PutVisible(bool visible);
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height);
    // UI thread: the window's screen pixels per placement pixel (1 without one).
    double PixelRatio();

private:
    IVideoWindow* CurrentWindow();
    ElementPtr NativeSink();
    void Redraw();
    VideoFrame LatestDrawn();
    bool AtCameraSize(int32_t width, int32_t height) const;

    // Streaming thread only (reset while nothing streams).
    CapsPtr cachedCaps;
    GstVideoInfo frameInfo{};
    std::shared_ptr<const PreviewDecodeScale> decodeScale;

    bool nativeRefused = false;  // UI thread
    std::atomic<bool> paintMirrored{false};
    std::mutex sinkMutex;
    ElementPtr nativeSink;  // guarded by sinkMutex

    std::mutex windowMutex;
    IOwnerWindow* owner = nullptr;
    IVideoWindow* window = nullptr;
};

}  // namespace lumora::gst

#pragma once
// How the capture engine places its video window inside the view without
// knowing the UI toolkit: the view implements IOwnerWindow, the child widget
// that paints the live picture implements IVideoWindow.

#include <cstdint>
#include <functional>
#include <memory>

struct WindowRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const WindowRect&) const = default;
};

// One frame for display, in the layout screens and painters take without
// converting: each pixel a 32-bit word 0xffRRGGBB in the machine's byte
// order (blue, green, red, unused in memory on a little-endian machine),
// rows top-down (the first row is the top of the picture), each row
// `stride` bytes. `keepAlive` owns the pixels: whoever keeps a copy of the
// frame keeps them valid, so a window can hold the frame instead of copying.
struct VideoFrame {
    const uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    std::shared_ptr<const void> keepAlive;
    // To be shown mirrored left to right; the pixels are as the camera sent
    // them (the grabber's photos take the same frame).
    bool mirrored = false;
};

// The windows the platform's own video sink can draw the preview into, as
// the application knows them: which windowing system, and for Wayland the
// compositor connection its surfaces belong to (a wl_display*).
struct NativeVideoWindows {
    enum class System { None, X11, Wayland };
    System system = System::None;
    void* display = nullptr;
};

class IVideoWindow {
public:
    virtual ~IVideoWindow() = default;
    // UI thread: placement in the owner's client pixels, and visibility.
    virtual void SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
    virtual void SetVisible(bool visible) = 0;
    // UI thread: the screen's pixels per placement pixel (2 on a doubled
    // display), which frames painted into the window are drawn at.
    virtual double PixelRatio() const { return 1.0; }
    // Streaming thread: the window keeps the frame (not its pixels' copy)
    // and repaints on its own thread.
    virtual void PresentFrame(const VideoFrame& frame) = 0;

    // A platform with a video sink of its own may draw into the window
    // directly, which spares every frame a trip through the toolkit.
    // UI thread: the window becomes a native window and gives its id (an X11
    // window, or the wl_surface* it lies on), or 0 when it cannot; then
    // frames come through PresentFrame.
    virtual uint64_t NativeWindowId() { return 0; }
    // UI thread: where the window lies on the native surface it gave, in
    // that surface's pixels (on Wayland the top-level's surface holds it).
    virtual WindowRect NativePlacement() { return {}; }
    // UI thread: what the window calls when its native area was uncovered
    // and needs the latest frame again, and what gives it the latest frame
    // the sink drew, at the drawn size (for printing). Empty: none.
    virtual void SetNativeHandlers(std::function<void()> redraw, std::function<VideoFrame()> latest) {
        (void)redraw;
        (void)latest;
    }
    // Streaming thread: the platform's sink drew a frame into the window.
    virtual void FrameDrawn() {}
};

class IOwnerWindow {
public:
    virtual ~IOwnerWindow() = default;
    virtual WindowRect ClientRect() const = 0;
    // Makes (or returns) the video window as a child of this owner.
    virtual IVideoWindow* AttachVideoWindow() = 0;
    // Hides and removes the child; the pointer from AttachVideoWindow is dead after it.
    virtual void DetachVideoWindow() = 0;
};

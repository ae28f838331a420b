#pragma once
// How the capture engine places its video window inside the view without
// knowing the UI toolkit: the view implements IOwnerWindow, the child widget
// that paints the live picture implements IVideoWindow.

#include <cstdint>

struct WindowRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const WindowRect&) const = default;
};

// One frame for display: 24-bit blue-green-red, rows top-down (the first row
// is the top of the picture), each row `stride` bytes (a multiple of 4).
struct VideoFrame {
    const uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
};

class IVideoWindow {
public:
    virtual ~IVideoWindow() = default;
    // UI thread: placement in the owner's client pixels, and visibility.
    virtual void SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) = 0;
    virtual void SetVisible(bool visible) = 0;
    // Streaming thread: the frame is valid only during the call; the window
    // copies what it needs and repaints on its own thread.
    virtual void PresentFrame(const VideoFrame& frame) = 0;
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

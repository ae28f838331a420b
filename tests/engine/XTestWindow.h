#pragma once
// A window of its own on the X display, for a video sink to draw into, and
// what the tests read back from the server. Keeps Xlib's macros out of the
// tests.

#include <cstddef>
#include <cstdint>

class XTestWindow {
public:
    // Opens the display and maps a black window of this size at 0,0;
    // Valid() is false without an X display.
    XTestWindow(int width, int height);
    ~XTestWindow();
    XTestWindow(const XTestWindow&) = delete;
    XTestWindow& operator=(const XTestWindow&) = delete;

    bool Valid() const { return display != nullptr; }
    uint64_t Id() const { return window; }
    // The windows directly under the root window.
    std::size_t TopLevelWindows() const;
    // Whether any pixel of the area (clipped to what is on the screen) is not black.
    bool Drawn(int left, int top, int width, int height) const;
    // A hash of the area's pixels: a moving picture changes it.
    uint64_t Fingerprint(int left, int top, int width, int height) const;
    // Resizes the window, as the view does with the video window.
    void Resize(int width, int height);

private:
    // The part of the area inside the window and on the screen (reading
    // outside them is an X error, which ends the process); false: none.
    bool Clip(int& left, int& top, int& width, int& height) const;

    void* display = nullptr;
    uint64_t window = 0;
    int windowWidth = 0, windowHeight = 0;
};

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
    // Whether any pixel of the area is not black.
    bool Drawn(int left, int top, int width, int height) const;

private:
    void* display = nullptr;
    uint64_t window = 0;
};

#include "tests/engine/XTestWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

// A server whose last client leaves resets itself, and refuses clients for
// a moment while it does: one connection stays open for the whole run. It
// is held where the compiler cannot drop it, so the leak checker sees it.
Display* xTestServerKeeper = nullptr;

namespace {

Display* DisplayOf(void* display) { return static_cast<Display*>(display); }

void KeepServerUp() {
    if (!xTestServerKeeper) xTestServerKeeper = XOpenDisplay(nullptr);
}

}  // namespace

XTestWindow::XTestWindow(int width, int height) {
    KeepServerUp();
    Display* opened = XOpenDisplay(nullptr);
    if (!opened) return;
    display = opened;
    const Window created = XCreateSimpleWindow(opened, DefaultRootWindow(opened), 0, 0, static_cast<unsigned>(width),
                                               static_cast<unsigned>(height), 0, 0, 0);
    window = created;
    windowWidth = width;
    windowHeight = height;
    XMapWindow(opened, created);
    XSync(opened, False);
}

XTestWindow::~XTestWindow() {
    if (!display) return;
    XDestroyWindow(DisplayOf(display), static_cast<Window>(window));
    XCloseDisplay(DisplayOf(display));
}

std::size_t XTestWindow::TopLevelWindows() const {
    if (!display) return 0;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(DisplayOf(display), DefaultRootWindow(DisplayOf(display)), &root, &parent, &children, &count);
    if (children) XFree(children);
    return count;
}

bool XTestWindow::Clip(int& left, int& top, int& width, int& height) const {
    Display* shown = DisplayOf(display);
    const int right = std::min({left + width, windowWidth, DisplayWidth(shown, DefaultScreen(shown))});
    const int bottom = std::min({top + height, windowHeight, DisplayHeight(shown, DefaultScreen(shown))});
    left = std::max(left, 0);
    top = std::max(top, 0);
    width = right - left;
    height = bottom - top;
    return width > 0 && height > 0;
}

bool XTestWindow::Drawn(int left, int top, int width, int height) const {
    if (!display || !Clip(left, top, width, height)) return false;
    XSync(DisplayOf(display), False);
    XImage* image = XGetImage(DisplayOf(display), static_cast<Window>(window), left, top,
                              static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) return false;
    bool found = false;
    for (int y = 0; y < height && !found; ++y)
        for (int x = 0; x < width && !found; ++x) found = XGetPixel(image, x, y) != 0;
    XDestroyImage(image);
    return found;
}

uint64_t XTestWindow::Fingerprint(int left, int top, int width, int height) const {
    if (!display || !Clip(left, top, width, height)) return 0;
    XSync(DisplayOf(display), False);
    XImage* image = XGetImage(DisplayOf(display), static_cast<Window>(window), left, top,
                              static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) return 0;
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) hash = (hash ^ XGetPixel(image, x, y)) * 1099511628211ull;
    XDestroyImage(image);
    return hash;
}

void XTestWindow::Resize(int width, int height) {
    if (!display) return;
    XResizeWindow(DisplayOf(display), static_cast<Window>(window), static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    windowWidth = width;
    windowHeight = height;
    XSync(DisplayOf(display), False);
}

#pragma once
// The preview drawn by the platform's own video sink into a native child
// window of the view. Each frame is converted for the screen once into the
// sink's shared memory, and the display server shows it from there: nothing
// passes through the toolkit.
//
//   X11:     tee -> queue -> [JPEG decoder] -> mirror -> convert+scale -> window size -> ximagesink
//   Wayland: tee -> queue -> [JPEG decoder] -> mirror -> convert -> BGRx -> waylandsink
//                                          ^ the grabber's pictures and the format
//
// The mirror (a videoflip, passing its pictures through while the preview
// is not mirrored) comes after the grabber's pictures are taken, so photos
// stay as the camera sees; before the converter, in the camera's layout,
// where videoflip takes that layout, else after it.
//
// On X11 the element that converts also scales to the window. On Wayland
// the sink shows the picture in a subsurface of the window's surface, on
// the toolkit's own connection to the compositor, which scales it to the
// render rectangle (wp_viewporter).
//
// Until the window is known the sink is held back (a blocking probe before
// it): a sink without a window would open a top-level window of its own.

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "capture/VideoWindow.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/Result.h"

namespace lumora::gst {

// The sink for `windows` exists and there is a display to draw on.
bool NativeVideoSinkAvailable(const NativeVideoWindows& windows);

// The window's size, asked for on the UI thread and applied by the
// streaming thread between two pictures: a size changed while a picture is
// on its way from the scaler to the sink would fail that picture and stop
// the stream.
struct WindowSize {
    std::mutex mutex;
    int32_t width = 0, height = 0;  // guarded by mutex
    bool changed = false;           // guarded by mutex
    GstElement* filter = nullptr;   // the caps filter; lives as long as the pipeline
};

struct NativeDisplay {
    GstElement* sink = nullptr;
    GstElement* size = nullptr;  // the caps filter that sets the window's size
    GstElement* mirror = nullptr;  // the videoflip that mirrors the preview
    PadPtr heldPad;              // where the sink is held back
    gulong holdProbe = 0;
    std::shared_ptr<WindowSize> windowSize;
    NativeVideoWindows::System system = NativeVideoWindows::System::None;
    WindowRect placement;  // UI thread

    // Adds the mirror, the converter -> size or layout -> sink to `bin`
    // after `upstream`, held back.
    Status Build(GstBin* bin, GstElement* upstream, const NativeVideoWindows& windows, bool mirrored);
    // UI thread: draws into `window` from now on.
    void Show(uint64_t window);
    // UI thread: frames are scaled to this size (the letterboxed window, in
    // the screen's pixels).
    void Resize(int32_t width, int32_t height);
    // UI thread, while no state change is under way: a Wayland sink draws
    // into `area` of the surface from now on (on X11 the scaler takes the
    // size); without one, into the last area given.
    void Place(const WindowRect* area = nullptr);
    // Holds the sink back again: it draws nothing more.
    void Hold();
    bool Held() const { return holdProbe != 0; }
};

// UI thread: the sink draws its latest frame again (the window was exposed).
void RedrawLatestFrame(GstElement* sink);

}  // namespace lumora::gst

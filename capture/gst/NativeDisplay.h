#pragma once
// The preview drawn by the platform's own video sink into a native child
// window of the view. Each frame is converted for the screen once, by the
// element that also scales it to the window, into the sink's shared memory,
// and the X server draws it from there: nothing passes through the toolkit.
//
//   tee -> queue -> [JPEG decoder] -> mirror -> convert+scale -> window size -> ximagesink
//                                 ^ the grabber's pictures and the format
//
// The mirror (a videoflip, passing its pictures through while the preview
// is not mirrored) comes after the grabber's pictures are taken, so photos
// stay as the camera sees; before the scaler, in the camera's layout, where
// videoflip takes that layout, else after it.
//
// Until the window is known the sink is held back (a blocking probe before
// it): a sink without a window would open a top-level window of its own.

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "capture/gst/GstHandles.h"
#include "capture/gst/Result.h"

namespace lumora::gst {

// The sink exists and there is an X display to draw on.
bool NativeVideoSinkAvailable();

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

    // Adds mirror, convert+scale -> size -> sink to `bin` after `upstream`,
    // held back.
    Status Build(GstBin* bin, GstElement* upstream, bool mirrored);
    // UI thread: draws into `window` from now on.
    void Show(uint64_t window);
    // UI thread: frames are scaled to this size (the letterboxed window).
    void Resize(int32_t width, int32_t height);
    // Holds the sink back again: it draws nothing more.
    void Hold();
    bool Held() const { return holdProbe != 0; }
};

// UI thread: the sink draws its latest frame again (the window was exposed).
void RedrawLatestFrame(GstElement* sink);

}  // namespace lumora::gst

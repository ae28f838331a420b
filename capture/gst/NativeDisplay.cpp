#include "capture/gst/NativeDisplay.h"

#include <gst/video/videooverlay.h>

#include <cstdlib>
#include <string>

#include "capture/gst/FrameDelivery.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/PictureFlip.h"
#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

// The format and the pictures wait; the events before them (the stream's
// start) go on, or the format would never get as far as the probe.
GstPadProbeReturn HoldBack(GstPad*, GstPadProbeInfo* info, gpointer) {
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM &&
        GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_PASS;
    return GST_PAD_PROBE_OK;
}

// Streaming thread, before a picture enters the scaler.
GstPadProbeReturn ApplyWindowSize(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto& size = **static_cast<std::shared_ptr<WindowSize>*>(data);
    int32_t width, height;
    {
        std::lock_guard lock(size.mutex);
        if (!size.changed) return GST_PAD_PROBE_OK;
        size.changed = false;
        width = size.width;
        height = size.height;
    }
    const CapsPtr caps(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                           "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    g_object_set(size.filter, "caps", caps.get(), nullptr);
    return GST_PAD_PROBE_OK;
}

bool FactoryExists(const char* name) { return ObjectPtr<GstElementFactory>(gst_element_factory_find(name)) != nullptr; }

// The compositor connection the window's surface belongs to: the sink's
// subsurface must be made on it. The bin hands it to the sink now and
// answers the sink's later asking (NEED_CONTEXT) with it too.
void ShareWaylandDisplay(GstBin* bin, void* display) {
    // As gst_wl_display_handle_context_new makes it; the library is not
    // linked for this one call.
    GstContext* context = gst_context_new("GstWlDisplayHandleContextType", TRUE);
    gst_structure_set(gst_context_writable_structure(context), "display", G_TYPE_POINTER, display, nullptr);
    gst_element_set_context(GST_ELEMENT(bin), context);
    gst_context_unref(context);
}

}  // namespace

bool NativeVideoSinkAvailable(const NativeVideoWindows& windows) {
    switch (windows.system) {
        case NativeVideoWindows::System::X11: {
            const char* display = std::getenv("DISPLAY");
            return display && *display && FactoryExists("ximagesink") && FactoryExists("videoconvertscale");
        }
        case NativeVideoWindows::System::Wayland: return windows.display && FactoryExists("waylandsink");
        case NativeVideoWindows::System::None: break;
    }
    return false;
}

Status NativeDisplay::Build(GstBin* bin, GstElement* upstream, const NativeVideoWindows& windows, bool mirrored) {
    const bool mirrorBeforeScaler = FlipTakes(upstream);
    system = windows.system;
    const bool wayland = system == NativeVideoWindows::System::Wayland;
    Result<std::array<GstElement*, 3>> made =
        wayland ? AddElements(bin, {"videoconvert", "capsfilter", "waylandsink"})
                : AddElements(bin, {"videoconvertscale", "capsfilter", "ximagesink"});
    if (!made.ok()) return Fail(made.error());
    Result<GstElement*> flip = AddFlip(bin, MirrorDirection(mirrored));
    if (!flip.ok()) return Fail(flip.error());
    GstElement* convert = made.value()[0];
    size = made.value()[1];
    sink = made.value()[2];
    mirror = flip.value();
    // Drawn as it comes, as the preview of a live camera should be.
    g_object_set(sink, "sync", FALSE, "qos", FALSE, nullptr);
    if (wayland) {
        // A layout the compositor takes as it is, and the one the sink's
        // last picture is printed from.
        const CapsPtr layout(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, PreviewPixelFormat(),
                                                 "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
        g_object_set(size, "caps", layout.get(), nullptr);
        ShareWaylandDisplay(bin, windows.display);
    } else {
        // The window's events stay the toolkit's. Square pixels, as the
        // view's letterboxing assumes; the sink would otherwise guess the
        // screen's from its stated size in millimetres.
        g_object_set(sink, "handle-events", FALSE, "pixel-aspect-ratio", "1/1", nullptr);
        const CapsPtr square(gst_caps_new_simple("video/x-raw", "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
        g_object_set(size, "caps", square.get(), nullptr);
    }
    const bool linked = mirrorBeforeScaler ? gst_element_link_many(upstream, mirror, convert, size, sink, nullptr)
                                           : gst_element_link_many(upstream, convert, mirror, size, sink, nullptr);
    if (!linked) return Fail(messages::PreviewCannotReachWindow());
    heldPad.reset(gst_element_get_static_pad(size, "src"));
    Hold();
    windowSize = std::make_shared<WindowSize>();
    windowSize->filter = size;
    if (wayland) return Ok();
    const PadPtr scalerInput(gst_element_get_static_pad(convert, "sink"));
    gst_pad_add_probe(scalerInput.get(), GST_PAD_PROBE_TYPE_BUFFER, &ApplyWindowSize,
                      new std::shared_ptr<WindowSize>(windowSize),
                      [](gpointer data) { delete static_cast<std::shared_ptr<WindowSize>*>(data); });
    return Ok();
}

void NativeDisplay::Hold() {
    if (!heldPad || holdProbe) return;
    holdProbe = gst_pad_add_probe(
        heldPad.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER |
                                     GST_PAD_PROBE_TYPE_BUFFER_LIST | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        &HoldBack, nullptr, nullptr);
}

void NativeDisplay::Show(uint64_t window) {
    if (!sink || !window) return;
    gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(sink), static_cast<guintptr>(window));
    if (holdProbe) gst_pad_remove_probe(heldPad.get(), holdProbe);
    holdProbe = 0;
    Place();
}

void NativeDisplay::Resize(int32_t width, int32_t height) {
    if (!windowSize || width <= 0 || height <= 0) return;
    std::lock_guard lock(windowSize->mutex);
    if (width == windowSize->width && height == windowSize->height) return;
    windowSize->width = width;
    windowSize->height = height;
    windowSize->changed = true;
}

void NativeDisplay::Place(const WindowRect* area) {
    if (area) placement = *area;
    if (system != NativeVideoWindows::System::Wayland || Held()) return;
    if (placement.Width() > 0 && placement.Height() > 0)
        gst_video_overlay_set_render_rectangle(GST_VIDEO_OVERLAY(sink), placement.left, placement.top,
                                               placement.Width(), placement.Height());
}

void RedrawLatestFrame(GstElement* sink) {
    if (sink) gst_video_overlay_expose(GST_VIDEO_OVERLAY(sink));
}

}  // namespace lumora::gst

#pragma once
// The frames of the simulated camera: a moving pattern rendered once per
// layout and picture settings, and kept for the next camera element.

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

namespace lumora::gst {

// The picture settings a UVC webcam applies itself (0..255, 128 leaves the
// picture as it is). The frames are rendered with them, so a camera in
// its settings costs no more per frame than one without.
struct Balance {
    int brightness = 128;
    int contrast = 128;
    int saturation = 128;
    bool operator==(const Balance&) const = default;
    bool Neutral() const { return *this == Balance{}; }
    // For gst_parse_launch: always a '.' as the decimal point, whatever the locale.
    std::string Text() const {
        auto number = [](double value) {
            gchar text[G_ASCII_DTOSTR_BUF_SIZE];
            return std::string(g_ascii_formatd(text, sizeof text, "%.4f", value));
        };
        return "brightness=" + number((brightness - 128) / 128.0) + " contrast=" + number(contrast / 128.0) +
               " saturation=" + number(saturation / 128.0);
    }
};

// Frames made for one layout; they are never written to, so every camera
// element in that layout shares them.
struct FrameSet {
    std::vector<GstBuffer*> frames;
    GstBuffer* flash = nullptr;  // all white, with the sync signal
    ~FrameSet() {
        for (GstBuffer* frame : frames) gst_buffer_unref(frame);
        if (flash) gst_buffer_unref(flash);
    }
};

// LUMORA_TEST_SYNC_SIGNAL=SECONDS makes the test sources a sync signal for
// the tests of sound against picture: every SECONDS of running time the
// camera's picture turns white and the tone falls silent, for half a second.
GstClockTime SyncSignalPeriod();
bool SyncSignalFlashing(GstClockTime runningTime);

// The frames for `caps` (raw layouts or image/jpeg) with `balance`: the
// ones made last when they match, else rendered now (tens of milliseconds
// to a second). Empty when they cannot be made.
std::shared_ptr<const FrameSet> FramesFor(const GstCaps* caps, const Balance& balance);

}  // namespace lumora::gst

#pragma once
// The sound input's level, from GStreamer's `level` element: about ten
// readings a second, each the loudest channel's peak and RMS in dB of full
// scale. A graph meters its sound input with a short pipeline of its own
// while it previews (source -> level -> fakesink) and with a level element
// inside the recording's sound chain while it records, so the device is
// never opened twice at once; the device dialog uses the same short
// pipeline for the input it shows.

#include <gst/gst.h>

#include <functional>
#include <memory>
#include <string>

#include "capture/CapturePlatform.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/PipelineWorker.h"

namespace lumora::gst {

constexpr GstClockTime kLevelInterval = 100 * GST_MSECOND;

// A level element that posts a reading every kLevelInterval, added to `bin`.
Result<GstElement*> AddLevelElement(GstBin* bin);

// The reading of a `level` element's message; false for any other message.
// Silence (minus infinity) reads kSilentDecibels.
bool ReadLevelMessage(GstMessage* message, SoundLevel& level);

class GstSoundMeter : public ISoundMeter {
public:
    using Handler = std::function<void(const SoundLevel&)>;
    // `handler` is called on a streaming thread, never after the meter is
    // gone. Starting and stopping run on a worker, bounded, calling
    // `whileWaiting` (may be empty) meanwhile: an input that hangs while it
    // opens or closes is given up, not waited for.
    explicit GstSoundMeter(Handler handler, std::function<void()> whileWaiting = nullptr);
    ~GstSoundMeter() override;
    GstSoundMeter(const GstSoundMeter&) = delete;
    GstSoundMeter& operator=(const GstSoundMeter&) = delete;

    // Measures `source` (a sound input); fails when its pipeline could not
    // be made or started.
    Status Start(const GstFilter& source);

    // The bus's side: the handler, closed before the pipeline stops.
    struct Receiver;

private:
    std::shared_ptr<Receiver> receiver;
    std::function<void()> whileWaiting;
    ElementPtr pipeline;
    std::unique_ptr<PipelineWorker> worker;
};

}  // namespace lumora::gst

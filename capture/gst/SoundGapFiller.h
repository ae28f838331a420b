#pragma once
// Keeps the sound of a recording going when its input stops delivering.
//
// The AVI multiplexer interleaves pictures and sound and waits for both, so
// a sound device that hangs (or delivers far slower than real time) would
// hold up the recording, and through the tee the preview too. The filler
// watches the sound between the input's queue and the rest of the branch:
// once the sound lags the pipeline's clock by more than the limit, it says
// so once and hands on silence up to the present, and drops whatever the
// input delivers late for a stretch already filled.
//
// The sound also begins where the recording's pictures begin: what the
// input captured before the first picture is cut off, and a sound input
// that starts later is preceded by silence. An AVI file keeps no times, so
// the first sample and the first picture are played together.

#include <gst/gst.h>

#include "capture/gst/GstHandles.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace lumora::gst {

class SoundGapFiller {
public:
    // `queueOutput`: the source pad where the input's sound leaves its queue;
    // `pictureEntry`: where the recording's pictures enter it;
    // `pipeline`: gives the clock. `onStall` is called once, on the filler's thread.
    SoundGapFiller(GstElement* pipeline, GstPad* queueOutput, GstPad* pictureEntry, GstClockTime limit,
                   std::function<void()> onStall);
    ~SoundGapFiller();
    SoundGapFiller(const SoundGapFiller&) = delete;
    SoundGapFiller& operator=(const SoundGapFiller&) = delete;

    // UI thread: the graph runs (true), or is paused or stopped (false).
    void SetRunning(bool running);

private:
    static GstPadProbeReturn OnSound(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    static GstPadProbeReturn OnPicture(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    GstPadProbeReturn Pass(GstPadProbeInfo* info);
    // The first sound buffer, made to start at the first picture.
    GstBuffer* AlignStart(GstBuffer* buffer, GstClockTime start);
    void Watch();
    void FillUpTo(GstClockTime runningTime);
    GstClockTime RunningTimeNow() const;

    GstElement* pipeline;
    const PadPtr output;  // the queue's source pad
    const PadPtr target;  // its peer, where silence is handed in
    gulong probe = 0;
    const PadPtr pictures;
    gulong pictureProbe = 0;
    const GstClockTime limit;
    const std::function<void()> onStall;

    std::mutex mutex;
    std::condition_variable wake;
    GstClockTime soundEnd = GST_CLOCK_TIME_NONE;  // running time where the sound so far ends
    GstClockTime firstPicture = GST_CLOCK_TIME_NONE;  // running time of the recording's first picture
    GstSegment segment{};
    bool haveSegment = false;
    bool running = false;
    bool reported = false;
    bool quit = false;
    std::thread thread;
};

}  // namespace lumora::gst

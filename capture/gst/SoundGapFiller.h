#pragma once
// Keeps the sound of a recording in step with its pictures.
//
// An AVI file keeps no times: a player places each sample by its count from
// the first, and each picture by its number. So the sound must start where
// the recording's pictures start and its count must follow the clock: what
// the input captured before the first picture is cut off, a stretch with no
// sound (an input that starts late, a gap of any length, a device that is
// moved or lost) is filled with silence at its true place, and sound for a
// stretch already covered is cut off. The filler does this between the
// input's queue and the rest of the branch, by the running times at which
// the source captured each buffer.
//
// The AVI multiplexer waits for both streams, so a sound device that hangs
// would hold up the recording, and through the tee the preview too: once
// the sound lags the pipeline's clock by more than the limit, the filler
// says so once and hands on silence up to the present itself. Pictures
// that stop hold the sound in the multiplexer too: the lag is measured up
// to the latest picture, and from where the pictures came back.

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include "capture/gst/GstHandles.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace lumora::gst {

class SoundGapFiller {
public:
    // `queueOutput`: the source pad where the input's sound leaves its queue;
    // `pictureEntry`: where the recording's pictures enter it;
    // `pipeline`: gives the clock. `notify` tells the user (on the filler's
    // thread or the caller's) once per recording: `stallNote` when the
    // sound stalls, or what Report is given.
    SoundGapFiller(GstElement* pipeline, GstPad* queueOutput, GstPad* pictureEntry, GstClockTime limit,
                   std::string stallNote, std::string lostNote, std::function<void(const std::string&)> notify);
    ~SoundGapFiller();
    SoundGapFiller(const SoundGapFiller&) = delete;
    SoundGapFiller& operator=(const SoundGapFiller&) = delete;

    // UI thread: the graph runs (true), or is paused or stopped (false).
    void SetRunning(bool running);
    // Any thread: tells `note` unless something was told already.
    void Report(const std::string& note);
    // Any thread: the input failed for good; silence follows the clock
    // from now on, and the user is told (`lostNote`).
    void InputLost();

private:
    static GstPadProbeReturn OnSound(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    static GstPadProbeReturn OnPicture(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    GstPadProbeReturn Pass(GstPadProbeInfo* info);
    GstPadProbeReturn Place(GstBuffer* buffer, GstBuffer*& placed);
    GstBuffer* PlaceAt(GstBuffer* buffer, GstClockTime start, GstClockTime expected);
    void Count(GstBuffer* buffer, GstClockTime at);
    void NoteFormat(GstCaps* caps);
    static GstBuffer* Silence(const GstAudioInfo& info, guint64 frames);
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
    const std::string stallNote;
    const std::string lostNote;
    const std::function<void(const std::string&)> notify;

    std::mutex pushOrder;  // held from a buffer's count until it is handed on
    std::mutex mutex;
    std::condition_variable wake;
    GstClockTime soundEnd = GST_CLOCK_TIME_NONE;  // running time where the sound so far ends
    GstClockTime origin = GST_CLOCK_TIME_NONE;    // where its first sample stands
    guint64 samples = 0;                          // handed on since then
    GstClockTime firstPicture = GST_CLOCK_TIME_NONE;  // running time of the recording's first picture
    GstClockTime lastPicture = GST_CLOCK_TIME_NONE;   // and of its latest
    GstClockTime picturesEnd = GST_CLOCK_TIME_NONE;   // where the latest ends
    GstClockTime picturesBack = 0;  // where they came again after a gap longer than the limit
    GstSegment segment{};
    bool haveSegment = false;
    GstAudioInfo format{};  // of the sound leaving the queue
    bool haveFormat = false;
    bool running = false;
    bool reported = false;
    bool lost = false;
    bool quit = false;
    std::thread thread;
};

}  // namespace lumora::gst

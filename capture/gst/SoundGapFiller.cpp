#include "capture/gst/SoundGapFiller.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <chrono>

namespace lumora::gst {

namespace {
// Once the sound has stalled, silence follows the clock closely.
constexpr GstClockTime kCatchUpLag = 500 * GST_MSECOND;
constexpr auto kTick = std::chrono::milliseconds(100);
constexpr auto kFirstPictureWait = std::chrono::milliseconds(500);
// How far a sound source's times may stray from its sample count before the
// count is put right (GStreamer's audio sinks allow 40 ms).
constexpr GstClockTime kJitterTolerance = 15 * GST_MSECOND;
}  // namespace

SoundGapFiller::SoundGapFiller(GstElement* pipelineElement, GstPad* queueOutput, GstPad* pictureEntry,
                               GstClockTime stallLimit, std::string stalledNote, std::string lostInputNote,
                               std::function<void(const std::string&)> tell)
    : pipeline(pipelineElement),
      output(Ref(queueOutput)),
      target(gst_pad_get_peer(queueOutput)),
      pictures(Ref(pictureEntry)),
      limit(stallLimit),
      stallNote(std::move(stalledNote)),
      lostNote(std::move(lostInputNote)),
      notify(std::move(tell)) {
    gst_segment_init(&segment, GST_FORMAT_TIME);
    probe = gst_pad_add_probe(output.get(),
                              static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                           GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                              &SoundGapFiller::OnSound, this, nullptr);
    pictureProbe = gst_pad_add_probe(pictures.get(), GST_PAD_PROBE_TYPE_BUFFER, &SoundGapFiller::OnPicture, this,
                                     nullptr);
    thread = std::thread([this] { Watch(); });
}

SoundGapFiller::~SoundGapFiller() {
    {
        std::lock_guard lock(mutex);
        quit = true;
    }
    wake.notify_all();
    thread.join();
    gst_pad_remove_probe(output.get(), probe);
    gst_pad_remove_probe(pictures.get(), pictureProbe);
}

void SoundGapFiller::SetRunning(bool isRunning) {
    std::lock_guard lock(mutex);
    running = isRunning;
}

void SoundGapFiller::InputLost() {
    Report(lostNote);
    std::lock_guard lock(mutex);
    lost = true;
    wake.notify_all();
}

void SoundGapFiller::Report(const std::string& note) {
    {
        std::lock_guard lock(mutex);
        if (reported) return;
        reported = true;  // told once for the whole recording
    }
    notify(note);
}

// Streaming thread of the input's queue.
GstPadProbeReturn SoundGapFiller::OnSound(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<SoundGapFiller*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) return self->Pass(info);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        const GstSegment* received = nullptr;
        gst_event_parse_segment(event, &received);
        std::lock_guard lock(self->mutex);
        gst_segment_copy_into(received, &self->segment);
        self->haveSegment = received->format == GST_FORMAT_TIME;
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        self->NoteFormat(caps);
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
        // The recording ends: its sound lasts as long as its pictures,
        // whatever the input failed to send at the end.
        GstClockTime end;
        {
            std::lock_guard lock(self->mutex);
            end = self->picturesEnd;
        }
        if (GST_CLOCK_TIME_IS_VALID(end)) self->FillUpTo(end);
    }
    return GST_PAD_PROBE_OK;
}

// Streaming thread of the recording's pictures: where they begin and end.
GstPadProbeReturn SoundGapFiller::OnPicture(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<SoundGapFiller*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    // Every picture carries its time (the camera's, or its arrival's).
    if (!GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    GstClockTime running = GST_BUFFER_PTS(buffer);
    if (GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format == GST_FORMAT_TIME)
            running = gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        gst_event_unref(event);
    }
    if (!GST_CLOCK_TIME_IS_VALID(running)) return GST_PAD_PROBE_OK;
    std::lock_guard lock(self->mutex);
    if (!GST_CLOCK_TIME_IS_VALID(self->firstPicture)) {
        self->firstPicture = running;
        self->wake.notify_all();
    }
    // A picture lasts its own duration, or as long as the one before it.
    const GstClockTime last = self->lastPicture;
    const GstClockTime duration = GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer)
                                  : GST_CLOCK_TIME_IS_VALID(last) && running > last ? running - last
                                                                                     : 0;
    if (GST_CLOCK_TIME_IS_VALID(last) && running > last + self->limit) self->picturesBack = running;
    self->lastPicture = running;
    self->picturesEnd = running + duration;
    return GST_PAD_PROBE_OK;
}

// The sound is counted and handed on in one step, under `pushOrder`, as
// the watcher's silence is: a buffer counted after the silence never
// reaches the branch ahead of it.
GstPadProbeReturn SoundGapFiller::Pass(GstPadProbeInfo* info) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!GST_BUFFER_PTS_IS_VALID(buffer) || !target) return GST_PAD_PROBE_OK;
    std::lock_guard order(pushOrder);
    GstBuffer* placed = nullptr;
    const GstPadProbeReturn verdict = Place(buffer, placed);
    if (verdict != GST_PAD_PROBE_HANDLED) return verdict;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = gst_pad_chain(target.get(), placed);
    return GST_PAD_PROBE_HANDLED;
}

// With `pushOrder` held: OK to let `buffer` pass as it is, DROP, or HANDLED
// with `placed` (which took `buffer`) to be handed on.
GstPadProbeReturn SoundGapFiller::Place(GstBuffer* buffer, GstBuffer*& placed) {
    std::unique_lock lock(mutex);
    // The first picture is on its way as the recording joins; the sound
    // waits for its time (in the queue before it) rather than being lost.
    if (!GST_CLOCK_TIME_IS_VALID(soundEnd))
        wake.wait_for(lock, kFirstPictureWait, [this] { return GST_CLOCK_TIME_IS_VALID(firstPicture) || quit; });
    if (!haveSegment) return GST_PAD_PROBE_OK;
    const GstClockTime start = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    if (!GST_CLOCK_TIME_IS_VALID(start)) return GST_PAD_PROBE_OK;
    // Sound from before the recording's first picture is not kept.
    if (!GST_CLOCK_TIME_IS_VALID(soundEnd) && !GST_CLOCK_TIME_IS_VALID(firstPicture)) return GST_PAD_PROBE_DROP;
    const GstClockTime expected = GST_CLOCK_TIME_IS_VALID(soundEnd) ? soundEnd : firstPicture;
    placed = PlaceAt(buffer, start, expected);
    return placed ? GST_PAD_PROBE_HANDLED : GST_PAD_PROBE_DROP;
}

// Takes `buffer`, captured from running time `start`, and returns it to
// follow on from `expected`, where the sound so far ends: a gap before it
// filled with silence, a stretch already covered cut off (null, with
// `buffer` not taken, when nothing of it is left). A file keeps no times:
// only the count of samples places each one, so the count must stay true
// to the clock. Differences within the tolerance are the source's jitter.
GstBuffer* SoundGapFiller::PlaceAt(GstBuffer* buffer, GstClockTime start, GstClockTime expected) {
    if (!haveFormat) {
        soundEnd = start + (GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0);
        return buffer;  // a form whose samples cannot be counted goes as it is
    }
    const gint rate = GST_AUDIO_INFO_RATE(&format);
    const gint bpf = GST_AUDIO_INFO_BPF(&format);
    const gsize frames = gst_buffer_get_size(buffer) / bpf;
    const bool first = !GST_CLOCK_TIME_IS_VALID(soundEnd);
    const GstClockTime tolerance = first ? 0 : kJitterTolerance;
    GstBuffer* placed = buffer;
    if (start + tolerance < expected) {
        const gsize cut = gst_util_uint64_scale_round(expected - start, rate, GST_SECOND);
        if (cut >= frames) return nullptr;
        GstBuffer* kept = gst_audio_buffer_truncate(gst_buffer_ref(buffer), bpf, cut, frames - cut);
        if (!kept) return nullptr;
        gst_buffer_unref(buffer);
        placed = kept;
    } else if (start > expected + tolerance) {
        const guint64 missing = gst_util_uint64_scale_round(start - expected, rate, GST_SECOND);
        if (GstBuffer* silence = Silence(format, missing)) placed = gst_buffer_append(silence, buffer);
    }
    placed = gst_buffer_make_writable(placed);
    Count(placed, expected);
    return placed;
}

// With `mutex` held: `buffer` (writable) stands at running time `at`, where
// the sound so far ends; its samples are counted on from there.
void SoundGapFiller::Count(GstBuffer* buffer, GstClockTime at) {
    const gint rate = GST_AUDIO_INFO_RATE(&format);
    const guint64 frames = gst_buffer_get_size(buffer) / GST_AUDIO_INFO_BPF(&format);
    const GstClockTime position = gst_segment_position_from_running_time(&segment, GST_FORMAT_TIME, at);
    GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_IS_VALID(position) ? position : at;
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(frames, GST_SECOND, rate);
    GST_BUFFER_OFFSET(buffer) = GST_BUFFER_OFFSET_NONE;
    GST_BUFFER_OFFSET_END(buffer) = GST_BUFFER_OFFSET_NONE;
    if (!GST_CLOCK_TIME_IS_VALID(origin)) {
        origin = at;
        samples = 0;
    }
    samples += frames;
    soundEnd = origin + gst_util_uint64_scale(samples, GST_SECOND, rate);
}

// Streaming thread of the input's queue: the form of the sound from now on.
// A new rate counts on from where the sound so far ends.
void SoundGapFiller::NoteFormat(GstCaps* caps) {
    GstAudioInfo parsed;
    const bool known = caps && gst_audio_info_from_caps(&parsed, caps) && GST_AUDIO_INFO_RATE(&parsed) > 0 &&
                       GST_AUDIO_INFO_BPF(&parsed) > 0;
    std::lock_guard lock(mutex);
    if (!known || !haveFormat || GST_AUDIO_INFO_RATE(&parsed) != GST_AUDIO_INFO_RATE(&format))
        origin = GST_CLOCK_TIME_NONE;
    haveFormat = known;
    if (known) format = parsed;
}

GstBuffer* SoundGapFiller::Silence(const GstAudioInfo& info, guint64 frames) {
    if (frames == 0) return nullptr;
    GstBuffer* silence = gst_buffer_new_allocate(nullptr, frames * GST_AUDIO_INFO_BPF(&info), nullptr);
    GstMapInfo map;
    if (!silence || !gst_buffer_map(silence, &map, GST_MAP_WRITE)) {
        if (silence) gst_buffer_unref(silence);
        return nullptr;
    }
    gst_audio_format_info_fill_silence(info.finfo, map.data, map.size);
    gst_buffer_unmap(silence, &map);
    return silence;
}

GstClockTime SoundGapFiller::RunningTimeNow() const {
    const ObjectPtr<GstClock> clock(gst_element_get_clock(pipeline));
    if (!clock) return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock.get());
    const GstClockTime base = gst_element_get_base_time(pipeline);
    return now > base ? now - base : GST_CLOCK_TIME_NONE;
}

void SoundGapFiller::Watch() {
    bool stalled = false;
    std::unique_lock lock(mutex);
    while (!quit) {
        wake.wait_for(lock, kTick);
        if (quit || !running || !GST_CLOCK_TIME_IS_VALID(soundEnd)) continue;  // the input has not begun
        lock.unlock();
        const GstClockTime now = RunningTimeNow();
        lock.lock();
        if (!GST_CLOCK_TIME_IS_VALID(now) || !running || quit) continue;
        const GstClockTime reached = GST_CLOCK_TIME_IS_VALID(picturesEnd) ? std::min(now, picturesEnd) : now;
        const GstClockTime from = std::max(soundEnd, picturesBack);
        const GstClockTime lag = reached > from ? reached - from : 0;
        if (lag <= (stalled || lost ? kCatchUpLag : limit)) continue;
        stalled = true;
        lock.unlock();
        Report(stallNote);
        FillUpTo(now);
        lock.lock();
    }
}

// Filler's thread or the queue's, without `mutex` held.
void SoundGapFiller::FillUpTo(GstClockTime runningTime) {
    if (!target) return;
    std::lock_guard order(pushOrder);
    GstBuffer* silence = nullptr;
    {
        std::lock_guard lock(mutex);
        if (!haveFormat || !GST_CLOCK_TIME_IS_VALID(soundEnd) || runningTime <= soundEnd) return;
        silence = Silence(format, gst_util_uint64_scale(runningTime - soundEnd, GST_AUDIO_INFO_RATE(&format), GST_SECOND));
        if (!silence) return;
        Count(silence, soundEnd);
    }
    gst_pad_chain(target.get(), silence);
}

}  // namespace lumora::gst

#include "capture/gst/RecordingBin.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/SystemErrorText.h"
#include "capture/DiskSpace.h"
#include "capture/RecordingRoom.h"
#include "capture/gst/DamagedFrames.h"
#include "capture/gst/LevelMeter.h"
#include "capture/gst/PlatformMessages.h"
#include "capture/gst/RecordingContainers.h"
#include "capture/gst/SoundInputMove.h"

namespace lumora::gst {

namespace {

// A sound input that sends nothing for longer than this is reported.
constexpr GstClockTime kSoundStallLimit = 2 * GST_SECOND;

void SetCaps(GstElement* capsfilter, CapsPtr caps) { g_object_set(capsfilter, "caps", caps.get(), nullptr); }

// A camera lends its frames from a small pool (a PipeWire camera's holds a
// handful and does not copy when it runs dry), or from memory that goes
// when the camera does (a PipeWire stream's mapped buffers, which it wraps
// as plain memory). The pictures waiting in the recording's queue, seconds
// of them while a compressor catches up, would keep the whole pool, or be
// read after the camera was unplugged: they wait as copies of their own.
bool LentByTheCamera(GstBuffer* buffer, bool cameraLendsAll) {
    if (cameraLendsAll || buffer->pool) return true;
    for (guint i = 0; i < gst_buffer_n_memory(buffer); ++i)
        if (!gst_memory_is_type(gst_buffer_peek_memory(buffer, i), GST_ALLOCATOR_SYSMEM)) return true;
    return false;
}

// Frames without times (PipeWire nodes whose producer sets none) get the
// running time at which they reach the recording, as a camera stamps its
// own: the multiplexer would otherwise count their times from zero, out of
// step with the sound, and the recording's length would read 0.
void StampIfUntimed(GstPad* pad, GstBuffer* buffer) {
    if (GST_BUFFER_PTS_IS_VALID(buffer)) return;
    const ElementPtr element(gst_pad_get_parent_element(pad));
    const ObjectPtr<GstClock> clock(element ? gst_element_get_clock(element.get()) : nullptr);
    if (!clock) return;
    const GstClockTime now = gst_clock_get_time(clock.get());
    const GstClockTime base = gst_element_get_base_time(element.get());
    GST_BUFFER_PTS(buffer) = now > base ? now - base : 0;
}

// Each picture as the recording keeps it: its own copy when the camera
// lent it, and with a time.
GstPadProbeReturn TakeFrame(GstPad* pad, GstPadProbeInfo* info, gpointer cameraLendsAll) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer) return GST_PAD_PROBE_OK;
    const bool lent = LentByTheCamera(buffer, cameraLendsAll != nullptr);
    if (!lent && GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    GstBuffer* kept = lent ? gst_buffer_copy_deep(buffer) : gst_buffer_make_writable(buffer);
    if (lent) gst_buffer_unref(buffer);
    StampIfUntimed(pad, kept);
    GST_PAD_PROBE_INFO_DATA(info) = kept;
    return GST_PAD_PROBE_OK;
}

// A sound device's own count of samples strays from the pipeline's clock
// (its crystal runs at its own rate; a server that hangs, or moves the
// stream to another device, sends a burst or nothing). Each buffer is timed
// by the pipeline's clock as it is read, less what still waits in the
// device, and the gap filler keeps the count to those times. The device's
// clock never becomes the pipeline's: a server that hangs would stop the
// preview with it.
void TimeByThePipelineClock(GstElement* source) {
    GObjectClass* type = G_OBJECT_GET_CLASS(source);
    if (g_object_class_find_property(type, "slave-method"))
        gst_util_set_object_arg(G_OBJECT(source), "slave-method", "re-timestamp");
    if (g_object_class_find_property(type, "provide-clock")) g_object_set(source, "provide-clock", FALSE, nullptr);
}

// The room for the index, kept by turning away the chunks that would use
// it (RecordingRoom.h); the graph is told once that the take must end.
struct RoomWatch {
    RoomWatch(std::string folder, GatePtr gate) : room(std::move(folder)), gate(std::move(gate)) {}
    CRecordingRoom room;
    GatePtr gate;
    std::atomic<bool> told{false};
};

GstPadProbeReturn KeepRoom(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& watch = **static_cast<std::shared_ptr<RoomWatch>*>(data);
    bool fits = true;
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) {
        fits = watch.room.Admit(gst_buffer_get_size(buffer));
    } else if (GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info)) {
        for (guint i = 0; fits && i < gst_buffer_list_length(list); ++i)
            fits = watch.room.Admit(gst_buffer_get_size(gst_buffer_list_get(list, i)));
    }
    if (fits) return GST_PAD_PROBE_OK;
    if (!watch.told.exchange(true))
        watch.gate->Enter([](StreamingReceiver& graph) { graph.RecordingRoomRanOut(); });
    return GST_PAD_PROBE_DROP;
}

gboolean WatchRoomAt(GstElement*, GstPad* pad, gpointer data) {
    gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      &KeepRoom, new std::shared_ptr<RoomWatch>(*static_cast<std::shared_ptr<RoomWatch>*>(data)),
                      [](gpointer held) { delete static_cast<std::shared_ptr<RoomWatch>*>(held); });
    return TRUE;
}

GstPadProbeReturn DropEndOfStream(GstPad*, GstPadProbeInfo* info, gpointer) {
    return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

class Builder {
public:
    Builder(RecordingBin& out, GstElement* pipeline, const GatePtr& gate)
        : built(out), pipeline(pipeline), gate(gate) {}

    Status Build(const RecordingBranch& recording, const CameraFrames& frames) {
        built.bin = AdoptFloating(gst_bin_new("recording"));
        built.path = recording.path;
        container = recording.container;
        bin = GST_BIN(built.bin.get());
        Result<GstElement*> muxer = AddMuxer(bin, recording.container);
        if (!muxer.ok()) return Fail(muxer.error());
        GstElement* mux = muxer.value();
        Result<std::array<GstElement*, 2>> made = AddElements(bin, {"fdsink", "queue"});
        if (!made.ok()) return Fail(made.error());
        const auto [file, queue] = made.value();
        if (Status opened = OpenFile(recording, file); !opened.ok()) return opened;
        // Room for a few seconds of pictures while a compressor catches up.
        // Beyond that the recording loses pictures rather than ever holding
        // up the preview (the tee feeds both).
        g_object_set(queue, "leaky", 2 /* downstream */, "max-size-buffers", 0, "max-size-bytes", 0,
                     "max-size-time", static_cast<guint64>(3 * GST_SECOND), nullptr);
        built.fileSink = file;
        PadPtr queueInput(gst_element_get_static_pad(queue, "sink"));
        Probe(queue, "sink", ProbeKind::RecordingInput);
        gst_pad_add_probe(queueInput.get(), GST_PAD_PROBE_TYPE_BUFFER, &TakeFrame,
                          frames.lentMemory ? &built : nullptr, nullptr);
        Probe(queue, "src", ProbeKind::RecordingOutput);
        Probe(file, "sink", ProbeKind::FileInput);
        GstPad* ghost = gst_ghost_pad_new("sink", queueInput.get());
        gst_element_add_pad(built.bin.get(), ghost);
        built.entry = Ref(ghost);
        built.eosEntryPads.push_back(std::move(queueInput));

        if (Status pictures = AddPictures(queue, mux, recording, frames.jpeg); !pictures.ok()) return pictures;
        if (recording.audioRendered && recording.audioSource) {
            if (Status sound = AddSound(mux, recording, built.eosEntryPads.front().get()); !sound.ok()) return sound;
        }
        if (Status linked = LinkElements(mux, file); !linked.ok()) return linked;
        // At each of the multiplexer's inputs: what is turned away there
        // never reaches the file, and its end of stream still does.
        auto watch = std::make_shared<RoomWatch>(FolderOfFile(recording.path), gate);
        gst_element_foreach_sink_pad(mux, &WatchRoomAt, &watch);
        return Ok();
    }

private:
    Result<GstElement*> Add(const char* factory) { return AddElement(bin, factory); }

    void Probe(GstElement* element, const char* padName, ProbeKind kind) { built.probes.Add(element, padName, kind, gate); }

    // Each recording starts the file afresh. The sink seeks on the
    // descriptor for the multiplexer's final header.
    static Status OpenFile(const RecordingBranch& recording, GstElement* file) {
        const int fd = recording.file ? recording.file->Get() : -1;
        if (::lseek(fd, 0, SEEK_SET) != 0 || ::ftruncate(fd, 0) != 0)
            return Fail(messages::CannotRecordTo(recording.path, SystemErrorText(errno)));
        // Written as it comes: the file has no clock to keep.
        g_object_set(file, "fd", fd, "async", FALSE, "sync", FALSE, nullptr);
        return Ok();
    }

    // `upstream` -> a new element of `factory`, which becomes the upstream.
    Status Append(GstElement*& upstream, const char* factory) {
        Result<GstElement*> next = Add(factory);
        if (!next.ok()) return Fail(next.error());
        if (Status linked = LinkElements(upstream, next.value()); !linked.ok()) return linked;
        upstream = next.value();
        return Ok();
    }

    Status AddPictures(GstElement* queue, GstElement* mux, const RecordingBranch& recording, bool teeCarriesJpeg) {
        // A file places each picture by its number: a picture the camera
        // skipped, or the queue let go under load, would pull every later
        // one ahead of its sound. The count is kept to the pictures' times
        // (the one before stands in for a missing one), from the first
        // picture of the recording on.
        GstElement* upstream = queue;
        if (Status added = Append(upstream, "videorate"); !added.ok()) return added;
        g_object_set(upstream, "skip-to-first", TRUE, nullptr);
        // A damaged frame goes no further (DamagedFrames.h): the one before
        // stands in for it.
        if (teeCarriesJpeg) DropUnreadableJpeg(upstream);
        if (teeCarriesJpeg && RecordsCameraJpeg(recording.videoCompressor.get(), recording.keepCameraJpeg)) {
            if (Status added = Append(upstream, "jpegparse"); !added.ok()) return added;
            if (!gst_element_link(upstream, mux)) return Fail(messages::CameraJpegNotFor(ContainerName(container)));
            return Ok();
        }
        if (teeCarriesJpeg) {
            if (Status added = Append(upstream, "jpegdec"); !added.ok()) return added;
        }
        if (Status added = Append(upstream, "videoconvert"); !added.ok()) return added;
        // Uncompressed video: planar YUV, which every AVI player reads.
        return CompressInto(upstream, recording.videoCompressor.get(),
                            CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr)),
                            mux, messages::CompressedStream::Video);
    }

    // upstream -> (compressor, or a caps filter for `rawCaps`) -> mux.
    Status CompressInto(GstElement* upstream, const GstFilter* compressor, CapsPtr rawCaps, GstElement* mux,
                        messages::CompressedStream stream) {
        Result<ElementChain> chain = compressor ? compressor->AddChain(bin) : RawChain(std::move(rawCaps));
        if (!chain.ok()) return Fail(chain.error());
        if (Status linked = LinkElements(upstream, chain.value().first); !linked.ok()) return linked;
        if (!gst_element_link(chain.value().last, mux))
            return Fail(messages::CompressorNotFor(ContainerName(container), stream));
        return Ok();
    }

    Result<ElementChain> RawChain(CapsPtr caps) {
        Result<GstElement*> filter = Add("capsfilter");
        if (!filter.ok()) return Fail(filter.error());
        SetCaps(filter.value(), std::move(caps));
        return ElementChain{filter.value(), filter.value()};
    }

    // The sound starts with the recording's first picture; a sound input
    // that stalls is reported once, in the status bar, and silence stands
    // in for it so that the pictures go on.
    Status AddSound(GstElement* mux, const RecordingBranch& recording, GstPad* pictureEntry) {
        Result<ElementChain> input = recording.audioSource->AddChain(bin);
        if (!input.ok()) return Fail(input.error());
        GstElement* first = input.value().first;
        TimeByThePipelineClock(first);
        Result<std::array<GstElement*, 3>> made = AddElements(bin, {"queue", "audioconvert", "audioresample"});
        if (!made.ok()) return Fail(made.error());
        const auto [queue, convert, resample] = made.value();
        if (Status linked = LinkChain({input.value().last, queue, convert, resample}); !linked.ok()) return linked;

        const std::string name = recording.audioSource->Describe();
        const PadPtr queueOutput(gst_element_get_static_pad(queue, "src"));
        built.soundWatch = std::make_shared<SoundGapFiller>(
            pipeline, queueOutput.get(), pictureEntry, kSoundStallLimit, messages::SoundInputStalled(name),
            messages::SoundInputLost(name), [gate = gate](const std::string& note) {
                gate->Enter([&](StreamingReceiver& graph) { graph.SoundStalled(note); });
            });
        WatchForAMove(first, name, built.soundWatch);
        built.soundSource = first;
        // A source that fails ends its stream; the recording's sound goes
        // on (silence) until the recording ends.
        if (PadPtr sourcePad{gst_element_get_static_pad(first, "src")})
            gst_pad_add_probe(sourcePad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &DropEndOfStream, nullptr, nullptr);

        // The sound meter's readings while recording (the input is this
        // branch's alone then); it hands the sound on untouched. It takes
        // a few interleaved sample formats only: a compressor that wants
        // another form gets it from the converter after it.
        Result<GstElement*> level = AddLevelElement(bin);
        if (!level.ok()) return Fail(level.error());
        GstElement* layout = level.value();
        if (Status linked = LinkElements(resample, layout); !linked.ok()) return linked;
        if (Status added = Append(layout, "audioconvert"); !added.ok()) return added;
        CapsPtr raw(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", nullptr));
        if (Status compressed = CompressInto(layout, recording.audioCompressor.get(), std::move(raw), mux,
                                             messages::CompressedStream::Audio);
            !compressed.ok())
            return compressed;
        // The first pad after the source: an end of stream sent there works
        // whether or not the source itself still runs.
        const PadPtr sourceOutput(gst_element_get_static_pad(first, "src"));
        if (PadPtr peer{sourceOutput ? gst_pad_get_peer(sourceOutput.get()) : nullptr})
            built.eosEntryPads.push_back(std::move(peer));
        return Ok();
    }

    RecordingBin& built;
    GstElement* pipeline;
    const GatePtr& gate;
    GstBin* bin = nullptr;
    MediaSubtype container = MediaSubtype::Avi;
};

}  // namespace

bool RecordsCameraJpeg(const GstFilter* videoCompressor, bool keepCameraJpeg) {
    return keepCameraJpeg && videoCompressor && videoCompressor->FactoryName() == "jpegenc";
}

namespace {

GstPadProbeReturn HoldBackWhenFailed(GstPad*, GstPadProbeInfo*, gpointer data) {
    return static_cast<std::shared_ptr<std::atomic<bool>>*>(data)->get()->load() ? GST_PAD_PROBE_DROP
                                                                                : GST_PAD_PROBE_OK;
}

}  // namespace

bool RecordingBin::Join(GstPad* pad) {
    teePad.reset(pad);
    if (!teePad) return false;
    gst_pad_add_probe(teePad.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      &HoldBackWhenFailed, new std::shared_ptr<std::atomic<bool>>(failed),
                      [](gpointer data) { delete static_cast<std::shared_ptr<std::atomic<bool>>*>(data); });
    return GST_PAD_LINK_SUCCESSFUL(gst_pad_link(teePad.get(), entry.get()));
}

Status BuildRecordingBin(RecordingBin& out, const RecordingBranch& recording, const CameraFrames& frames,
                         GstElement* pipeline, const GatePtr& gate) {
    return Builder(out, pipeline, gate).Build(recording, frames);
}

}  // namespace lumora::gst

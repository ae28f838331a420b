// The recording of a graph: rendered, joined to the running pipeline as a
// branch (the camera and the preview go on), and finished by ending that
// branch's stream alone, which has the multiplexer write the file's index,
// before the branch leaves the pipeline.

#include <chrono>
#include <thread>

#include "avi/RecordingFile.h"
#include "capture/gst/GstGraph.h"
#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

constexpr auto kRecordingStartTimeout = std::chrono::seconds(5);
constexpr auto kRecordingEndTimeout = std::chrono::seconds(10);
constexpr auto kBranchStateLimit = std::chrono::seconds(8);
constexpr auto kUnlinkLimit = std::chrono::seconds(2);

// Unlinks the tee's pad from the branch once no picture is on its way
// through it (at once when none is).
struct Unlink {
    std::mutex mutex;
    bool done = false;
};

GstPadProbeReturn UnlinkWhenIdle(GstPad* teePad, GstPadProbeInfo*, gpointer data) {
    auto& unlink = *static_cast<std::shared_ptr<Unlink>*>(data);
    std::lock_guard lock(unlink->mutex);
    if (!unlink->done) {
        if (PadPtr peer{gst_pad_get_peer(teePad)}) gst_pad_unlink(teePad, peer.get());
        unlink->done = true;
    }
    return GST_PAD_PROBE_REMOVE;
}

}  // namespace

HRESULT GstGraph::SetOutput(MediaSubtype type, const std::string& path, FilterPtr& multiplexer) {
    if (path.empty()) return E_FAIL;
    // Opened here, not by the sink: never through a link planted at the
    // name, never blocking on a FIFO. Emptied when the branch is built.
    std::string reason;
    UniqueFd file = OpenRecordingFile(path, false, reason);
    if (!file.Valid()) return Reported(Status(Fail(messages::CannotRecordTo(path, reason))));
    recording.emplace();
    recording->path = path;
    recording->container = type;
    recording->keepCameraJpeg = keepCameraJpeg;
    recording->file = std::make_shared<UniqueFd>(std::move(file));
    recordingConfirmed = false;
    joinError.clear();
    multiplexer = std::make_shared<MuxFilter>(path);
    return S_OK;
}

HRESULT GstGraph::RenderCapture(MediaType type, const FilterPtr& source, const FilterPtr& compressor,
                                const FilterPtr& sink) {
    auto mux = std::dynamic_pointer_cast<MuxFilter>(sink);
    auto input = std::dynamic_pointer_cast<GstFilter>(source);
    auto encoder = std::dynamic_pointer_cast<GstFilter>(compressor);
    if (!recording || branch || !mux || mux->path != recording->path || !input || (compressor && !encoder))
        return E_POINTER;
    if (type == MediaType::Video) {
        recording->videoSource = input;
        recording->videoCompressor = encoder;
        recording->videoRendered = true;
    } else {
        recording->audioSource = input;
        recording->audioCompressor = encoder;
        recording->audioRendered = true;
    }
    bus.AwaitRecording();  // failures until it runs are the starter's to report
    return S_OK;
}

// UI thread: the branch is built, takes the pipeline's state and clock,
// and is linked to the camera's tee. Nothing of the running preview stops.
Status GstGraph::JoinRecording() {
    if (!built || !recording) return Fail("");
    RecordingBin joining;
    GstElement* pipeline = built->pipeline.get();
    const CameraFrames frames{built->teeCarriesJpeg, built->cameraLendsMemory};
    if (Status made = BuildRecordingBin(joining, *recording, frames, pipeline, gate); !made.ok()) return made;
    meter.Restart();
    if (recording->audioRendered) soundMeter.reset();  // the branch opens the input now
    GstElement* bin = joining.bin.get();
    gst_bin_add(GST_BIN(pipeline), bin);
    {
        std::lock_guard lock(branchMutex);
        branchBin = bin;
        branchFileSink = joining.fileSink;
        branchPath = joining.path;
        branchFailed = joining.failed;
        branchSoundSource = joining.soundSource;
        branchSound = joining.soundWatch;
    }
    branch.emplace(std::move(joining));
    // Its sound source stamps its sound with the pipeline's running time.
    if (const ObjectPtr<GstClock> clock{gst_element_get_clock(pipeline)}) gst_element_set_clock(bin, clock.get());
    gst_element_set_base_time(bin, gst_element_get_base_time(pipeline));
    GstState target = GST_STATE_NULL;
    gst_element_get_state(pipeline, &target, nullptr, 0);
    const auto started = SetBranchState(target);
    if (!started || *started == GST_STATE_CHANGE_FAILURE) {
        std::string reason = bus.Failure();  // what failed as it started
        if (reason.empty()) reason = messages::RecordingElementsDidNotStart();
        (void)DropBranch();
        return Fail(reason);
    }
    if (!branch->Join(gst_element_request_pad_simple(built->tee, "src_%u"))) {
        (void)DropBranch();
        return Fail(messages::RecordingGetsNoPicture());
    }
    // A live sound source that joins adds its latency to the pipeline's.
    gst_bin_recalculate_latency(GST_BIN(pipeline));
    return Ok();
}

std::optional<GstStateChangeReturn> GstGraph::SetBranchState(GstState state) {
    if (!branch || !worker) return GST_STATE_CHANGE_FAILURE;
    return worker->ChangeState(branch->bin.get(), state, kBranchStateLimit, [this] { WaitingForDevice(); });
}

// Stops the branch and takes it out of the pipeline; the preview goes on.
Status GstGraph::DropBranch() {
    if (!branch) return Ok();
    if (branch->teePad) {
        if (PadPtr peer{gst_pad_get_peer(branch->teePad.get())}) gst_pad_unlink(branch->teePad.get(), peer.get());
    }
    // From here on the pipeline's own state changes pass the branch by: an
    // asynchronous change still under way (a Run just before) would
    // otherwise start it again between its stop and its removal.
    gst_element_set_locked_state(branch->bin.get(), TRUE);
    const auto stopped = SetBranchState(GST_STATE_NULL);
    {
        std::lock_guard lock(branchMutex);
        branchBin = nullptr;
        branchFileSink = nullptr;
        branchSoundSource = nullptr;
    }
    // A bin let go of while anything in it still runs would be freed under
    // its own streaming threads: only one that reached NULL is let go here.
    GstState reached = GST_STATE_VOID_PENDING;
    gst_element_get_state(branch->bin.get(), &reached, nullptr, 0);
    if (!stopped || *stopped == GST_STATE_CHANGE_FAILURE || reached != GST_STATE_NULL) {
        // A device of the branch hangs: the pipeline goes with it, and its
        // worker takes both down whenever the device lets go (the branch
        // follows the pipeline's states again for that).
        gst_element_set_locked_state(branch->bin.get(), FALSE);
        if (!built) {
            branch.reset();  // its pipeline was given up already and takes it down
            return Ok();
        }
        AbandonPipeline();
        return Fail(messages::RecordingDeviceDidNotStop(kBranchStateLimit.count()));
    }
    branch->probes.RemoveAll();
    branch->soundWatch.reset();
    if (built) {
        gst_bin_remove(GST_BIN(built->pipeline.get()), branch->bin.get());
        if (branch->teePad) gst_element_release_request_pad(built->tee, branch->teePad.get());
    }
    branch.reset();
    return Ok();
}

// The branch's own end of stream: unlinked from the tee first, so that no
// picture follows it. True once the file is complete.
bool GstGraph::EndBranchStream() {
    auto unlink = std::make_shared<Unlink>();
    gst_pad_add_probe(branch->teePad.get(), GST_PAD_PROBE_TYPE_IDLE, &UnlinkWhenIdle,
                      new std::shared_ptr<Unlink>(unlink),
                      [](gpointer data) { delete static_cast<std::shared_ptr<Unlink>*>(data); });
    const auto deadline = std::chrono::steady_clock::now() + kUnlinkLimit;
    for (int turn = 1;; ++turn) {
        {
            std::lock_guard lock(unlink->mutex);
            if (unlink->done) break;
            if (std::chrono::steady_clock::now() >= deadline) {
                unlink->done = true;  // the probe no longer unlinks; the stream ends anyway
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (turn % 4 == 0) WaitingForDevice();
    }
    // A paused pipeline's sinks would wait for it to play.
    GstState state = GST_STATE_NULL;
    gst_element_get_state(built->pipeline.get(), &state, nullptr, 0);
    if (state != GST_STATE_PLAYING) SetBranchState(GST_STATE_PLAYING);
    bus.ExpectEndOfStream();
    SendEndOfStream(branch->eosEntryPads);
    return bus.WaitUntil([this](const BusState& s) { return s.eosSeen || meter.fileSinkFailed.load(); },
                         kRecordingEndTimeout, [this] { WaitingForDevice(); }) &&
           !meter.fileSinkFailed.load();
}

Status GstGraph::ConfirmRecording() {
    if (!recording) return Fail("");
    if (!built || !branch || runFailed) {
        bus.StopAwaitingRecording();
        std::string reason = !joinError.empty() ? joinError : lastFailure;
        if (reason.empty()) reason = messages::GraphCannotRun();
        return Fail(reason);
    }
    const bool started = bus.WaitUntil(
        [this](const BusState& s) { return meter.bytesToFile.load() > 0 || !s.recordingError.empty(); },
        kRecordingStartTimeout, [this] { WaitingForDevice(); });
    bus.StopAwaitingRecording();
    const std::string failure = bus.Read([](const BusState& s) { return s.recordingError; });
    if (meter.bytesToFile.load() > 0 && failure.empty()) {
        recordingConfirmed = true;
        flusher.Start(recording->file);
        return Ok();
    }
    return Fail(!failure.empty() ? failure
                : started        ? messages::UnknownError()
                                 : messages::NothingWrittenToFile());
}

// Sending an end of stream into a branch waits for the branch's streaming
// thread, which can hang behind a device that stopped delivering. So the
// events go from a thread of their own; the caller's wait for the end is
// bounded, and taking the branch down releases a sender that still hangs.
void GstGraph::SendEndOfStream(const std::vector<PadPtr>& entryPads) {
    std::vector<PadPtr> pads;
    for (const PadPtr& pad : entryPads) pads.push_back(Ref(pad.get()));
    std::thread([pads = std::move(pads)] {
        for (const PadPtr& pad : pads) gst_pad_send_event(pad.get(), gst_event_new_eos());
    }).detach();
}

// A write that failed is told as the file's failure (the first of the run).
Status GstGraph::LeaveRecording() {
    Status left = Ok();
    if (recordingConfirmed && !meter.fileSinkFailed.load()) {
        if (!EndBranchStream())
            left = Fail(meter.fileSinkFailed.load() ? bus.Failure() : messages::RecordingDidNotEnd());
    } else if (meter.fileSinkFailed.load()) {
        left = Fail(bus.Failure());
    }
    (void)DropBranch();
    return left;
}

Status GstGraph::FinishRecording() {
    if (!recording) return Ok();
    Status finished = Ok();
    if (branch && built) {
        finished = LeaveRecording();
    } else if (recordingConfirmed && !lastFailure.empty()) {
        finished = Fail(lastFailure);  // the pipeline was abandoned: the file keeps what was written
    }
    flusher.Stop();  // after the final header: its last sync takes that too
    recording.reset();
    recordingConfirmed = false;
    joinError.clear();
    bus.StopAwaitingRecording();
    MeterSound(running.load());  // the input is free again
    return finished;
}

bool GstGraph::GetRecordingProgress(RecordingProgress& progress) const {
    if (!HasRecording()) return false;
    progress.bytes = meter.bytesToFile.load();
    progress.seconds = meter.Seconds();
    return true;
}

// A failure inside the branch also holds its pictures back from then on.
bool GstGraph::InBranch(GstElement* element, bool& isFileSink, std::string& path) {
    std::lock_guard lock(branchMutex);
    isFileSink = element && element == branchFileSink;
    path = branchPath;
    const bool inside = branchBin && element && gst_object_has_as_ancestor(GST_OBJECT(element), GST_OBJECT(branchBin));
    if (inside && branchFailed) branchFailed->store(true);
    return inside;
}

// The recording's sound input failed (its server lost the device and had
// no other to move the stream to): the recording goes on with silence.
bool GstGraph::SoundInputLost(GstElement* element) {
    std::shared_ptr<SoundGapFiller> filler;
    {
        std::lock_guard lock(branchMutex);
        if (!branchSoundSource || !element ||
            (element != branchSoundSource &&
             !gst_object_has_as_ancestor(GST_OBJECT(element), GST_OBJECT(branchSoundSource))))
            return false;
        filler = branchSound.lock();
    }
    if (filler) filler->InputLost();
    return true;
}

}  // namespace lumora::gst

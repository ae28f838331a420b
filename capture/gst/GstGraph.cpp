// The filter graph on GStreamer: its construction, what is rendered into
// it, and running and stopping (see GstGraph.h for the other parts).

#include "capture/gst/GstGraph.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

constexpr auto kFormatTimeout = std::chrono::seconds(5);
// A running camera that sends no picture for this long is started again.
constexpr auto kCameraStallLimit = std::chrono::seconds(3);
// As long as any other start of a device may take.
constexpr auto kCameraRestartLimit = std::chrono::seconds(8);

std::string NoPictureReason(const std::string& camera) {
    return messages::CameraSentNoPicture(camera,
                                         std::chrono::duration_cast<std::chrono::seconds>(kFormatTimeout).count());
}

}  // namespace

GstGraph::GstGraph() : cameraWatch(kCameraStallLimit, kCameraRestartLimit) { EnsureInitialised(); }

GstGraph::~GstGraph() {
    if (observer) observer->GraphGone(*this);
    soundMeter.reset();
    (void)DestroyPipeline();
    frames.PutOwner(nullptr);
}

// ------------------------------------------------------------ IGraphBuilder

HRESULT GstGraph::AddFilter(const FilterPtr& filter, const std::string& /*name: roles come from the filters*/) {
    if (!filter) return E_POINTER;
    if (auto grabberFilter = std::dynamic_pointer_cast<GstGrabber>(filter)) grabberFilter->graph = this;
    auto gstFilter = std::dynamic_pointer_cast<GstFilter>(filter);
    const FilterRole role = gstFilter ? gstFilter->Role() : FilterRole::Other;
    if (role == FilterRole::AudioSource) soundInput = gstFilter;
    return S_OK;
}

void GstGraph::SetErrorHandler(std::function<void(const GraphError&)> handler) {
    bus.SetErrorHandler(std::move(handler));
}

// ------------------------------------------------------------ rendering

HRESULT GstGraph::RenderPreview(const FilterPtr& source, const FilterPtr& grabberFilter) {
    auto videoSource = std::dynamic_pointer_cast<GstFilter>(source);
    auto grabberObject = std::dynamic_pointer_cast<GstGrabber>(grabberFilter);
    if (!videoSource || !grabberObject) return E_POINTER;
    (void)DestroyPipeline();  // its streaming threads use the grabber
    previewSource = videoSource;
    grabber = grabberObject;
    grabber->graph = this;
    return Reported(BuildPipeline());
}

HRESULT GstGraph::WaitForFormat(ConnectedVideoFormat& format) {
    Result<ConnectedVideoFormat> known = AwaitFormat();
    if (known.ok()) format = known.value();
    return Reported(known);
}

// Brings the preview up to the point where its format is known. The
// pictures may wait for the window (see NativeDisplay.h): Run awaits them.
Result<ConnectedVideoFormat> GstGraph::AwaitFormat() {
    if (!built) return Fail("");
    RestPipeWireCamera();
    if (Status playing = SetState(GST_STATE_PLAYING); !playing.ok()) return Fail(playing.error());
    const bool settled = bus.WaitUntil([](const BusState& s) { return s.formatKnown || s.pipelineFailed; },
                                       kFormatTimeout, [this] { WaitingForDevice(); });
    const std::optional<ConnectedVideoFormat> format = bus.Read([](const BusState& s) {
        return s.formatKnown ? std::optional(s.negotiated) : std::nullopt;
    });
    if (format) return *format;
    // A camera that runs but sends nothing, as one that never starts.
    if (!settled && built) return Fail(NoPictureReason(built->cameraName));
    return Fail(bus.Failure());
}

// A camera may agree on a format and send nothing: it is reported, and
// left, so that it does not hold up other programs either.
Status GstGraph::AwaitPicture() {
    const std::shared_ptr<std::atomic<bool>> sent = built->pictureSent;
    const bool settled = bus.WaitUntil([&](const BusState& s) { return sent->load() || s.pipelineFailed; },
                                       kFormatTimeout, [this] { WaitingForDevice(); });
    if (settled || !built) return Ok();
    const std::string reason = NoPictureReason(built->cameraName);
    Status stopped = SetState(GST_STATE_READY);
    if (!built) return stopped;  // it hung as it stopped: that is the last word
    LeavePipeWireCamera();
    return Fail(reason);
}

// ------------------------------------------------------------ IMediaControl

HRESULT GstGraph::Run() {
    const Status ran = Start();
    runFailed = !ran.ok();
    return Reported(ran);
}

// The pipeline is built again only when it was lost (a device that hung);
// a recording rendered since the last run joins it first.
Status GstGraph::Start() {
    if (!built || pipelineStale) {
        if (Status rebuilt = BuildPipeline(); !rebuilt.ok()) return rebuilt;
    }
    if (HasRecording() && !branch && !recordingConfirmed && joinError.empty()) {
        if (Status joined = JoinRecording(); !joined.ok()) joinError = joined.error();
    }
    if (!built) return Fail(joinError);  // the recording took the pipeline down with it
    GstState current = GST_STATE_NULL;
    gst_element_get_state(built->pipeline.get(), &current, nullptr, 0);
    const bool starting = current <= GST_STATE_READY;
    if (starting) {
        bus.ResetForRun();
        built->pictureSent->store(false);
        built->cameraChain.resuming->store(false);  // the stream starts afresh
        RestPipeWireCamera();
    }
    // Also the first run after the build: its pictures waited for the window.
    Status started = SetState(GST_STATE_PLAYING);
    if (started.ok() && !built->pictureSent->load()) started = AwaitPicture();
    SetSoundRunning(started.ok());
    running.store(started.ok() && built);
    if (started.ok() && built) WatchCamera();
    return started;
}

void GstGraph::WatchCamera() {
    const std::string camera = built->cameraName;
    const auto tell = [gate = gate, camera](CameraStall stall) {
        const long long stallSeconds = kCameraStallLimit.count();
        std::string note;
        switch (stall) {
            case CameraStall::Restarted: note = messages::CameraRestarted(camera); break;
            case CameraStall::RestartHung:
                note = messages::CameraDidNotChange(camera, kCameraRestartLimit.count(), messages::CameraStep::Start);
                break;
            default: note = messages::CameraSentNoPicture(camera, stallSeconds); break;
        }
        gate->Enter([&](StreamingReceiver& graph) { graph.CameraStalled(note, stall == CameraStall::Restarted); });
    };
    cameraWatch.Watch({built->pictureSeen, worker, built->cameraChain, tell});
}

// The watch's thread. A camera that failed as it started again is told as
// it said; one that stalled again, as one that sends nothing: the session
// ends the preview and the take, as for a camera that fails.
void GstGraph::CameraStalled(const std::string& note, bool restarted) {
    if (restarted) {
        bus.Notice(note);
        return;
    }
    const std::string cause = bus.Failure();
    bus.Fail(cause.empty() ? note : cause, false, false);
}

HRESULT GstGraph::Pause() {
    if (!built) return S_OK;
    SetSoundRunning(false);
    return Reported(SetState(GST_STATE_PAUSED));
}

// The streaming stops (a camera's light goes off); the camera stays open,
// and the next run goes on with the same pipeline.
HRESULT GstGraph::Stop() {
    if (!built) return S_OK;
    // A pipeline whose camera failed or was unplugged goes whole: at READY
    // its source keeps the device node open, and the camera plugged in
    // again would come back under another node. Run builds it anew.
    if (bus.Read([](const BusState& s) { return s.pipelineFailed; })) {
        (void)Reported(DestroyPipeline());  // one that hangs as it goes is still told of
        return S_OK;
    }
    SetSoundRunning(false);
    running.store(false);
    const Status stopped = SetState(GST_STATE_READY);
    LeavePipeWireCamera();
    return Reported(stopped);
}

void GstGraph::SetSoundRunning(bool isRunning) {
    if (branch && branch->soundWatch) branch->soundWatch->SetRunning(isRunning);
    MeterSound(isRunning);
}

void GstGraph::MeterSound(bool wanted) {
    const bool recordsSound = branch && recording && recording->audioRendered;
    if (!wanted || !soundInput || recordsSound) {
        soundMeter.reset();
        return;
    }
    if (soundMeter) return;
    auto meter = std::make_unique<GstSoundMeter>([this](const SoundLevel& level) { bus.Level(level); },
                                                 [this] { WaitingForDevice(); });
    // An input that cannot be metered is the recording's to report, if
    // it fails there too: the preview goes on without a level.
    if (meter->Start(*soundInput).ok()) soundMeter = std::move(meter);
}

}  // namespace lumora::gst

// The filter graph on GStreamer: its construction, what is rendered into
// it, and running and stopping (see GstGraph.h for the other parts).

#include "capture/gst/GstGraph.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace lumora::gst {

namespace {

constexpr auto kFormatTimeout = std::chrono::seconds(5);

std::string NoPictureReason(const std::string& camera) {
    return "摄像头“" + camera + "”在 " +
           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kFormatTimeout).count()) +
           " 秒内没有送来画面。";
}

}  // namespace

GstGraph::GstGraph() { EnsureInitialised(); }

GstGraph::~GstGraph() {
    if (observer) observer->GraphGone(*this);
    soundMeter.reset();
    DestroyPipeline();
    frames.PutOwner(nullptr);
}

// ------------------------------------------------------------ IGraphBuilder

HRESULT GstGraph::AddFilter(const FilterPtr& filter, const std::string& name) {
    if (!filter) return E_POINTER;
    if (auto grabberFilter = std::dynamic_pointer_cast<GstGrabber>(filter)) grabberFilter->graph = this;
    // The video compressor is known before the preview is rendered: with the
    // JPEG one, a JPEG camera's frames go to the tee undecoded.
    (void)name;
    auto gstFilter = std::dynamic_pointer_cast<GstFilter>(filter);
    const FilterRole role = gstFilter ? gstFilter->Role() : FilterRole::Other;
    if (role == FilterRole::VideoEncoder) videoCompressor = gstFilter;
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
    DestroyPipeline();  // its streaming threads use the grabber
    previewSource = videoSource;
    grabber = grabberObject;
    grabber->graph = this;
    std::string error;
    if (!BuildPipeline(error)) {
        bus.RememberError(error);
        return E_FAIL;
    }
    return S_OK;
}

// Brings the preview up to the point where its format is known. The
// pictures may wait for the window (see NativeDisplay.h): Run awaits them.
HRESULT GstGraph::WaitForFormat(ConnectedVideoFormat& format) {
    if (!built) return E_FAIL;
    RestPipeWireCamera();
    if (SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    const bool settled = bus.WaitUntil([](const BusState& s) { return s.formatKnown || s.pipelineFailed; },
                                       kFormatTimeout, [this] { WaitingForDevice(); });
    // A camera that runs but sends nothing, as one that never starts.
    if (!settled && built) bus.RememberError(NoPictureReason(built->cameraName));
    return bus.Read([&](const BusState& s) {
        if (!s.formatKnown) return E_FAIL;
        format = s.negotiated;
        return S_OK;
    });
}

// A camera may agree on a format and send nothing: it is reported, and
// left, so that it does not hold up other programs either.
bool GstGraph::AwaitPicture() {
    const std::shared_ptr<std::atomic<bool>> sent = built->pictureSent;
    const bool settled = bus.WaitUntil([&](const BusState& s) { return sent->load() || s.pipelineFailed; },
                                       kFormatTimeout, [this] { WaitingForDevice(); });
    if (settled || !built) return true;
    bus.RememberError(NoPictureReason(built->cameraName));
    SetState(GST_STATE_READY);
    LeavePipeWireCamera();
    return false;
}

// ------------------------------------------------------------ IMediaControl

// The pipeline is built again only when it was lost (a device that hung);
// a recording rendered since the last run joins it first.
HRESULT GstGraph::Run() {
    if (!built || pipelineStale) {
        std::string error;
        if (!BuildPipeline(error)) {
            bus.RememberError(error);
            bus.SetRunFailed(true);
            return E_FAIL;
        }
    }
    if (HasRecording() && !branch && !recordingConfirmed && joinError.empty() && !JoinRecording(joinError))
        bus.RememberError(joinError);
    if (!built) {
        bus.SetRunFailed(true);
        return E_FAIL;
    }
    GstState current = GST_STATE_NULL;
    gst_element_get_state(built->pipeline.get(), &current, nullptr, 0);
    const bool starting = current <= GST_STATE_READY;
    if (starting) {
        bus.ResetForRun();
        built->pictureSent->store(false);
        RestPipeWireCamera();
    }
    // Also the first run after the build: its pictures waited for the window.
    const bool failed =
        SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE || (!built->pictureSent->load() && !AwaitPicture());
    SetSoundRunning(!failed);
    running.store(!failed && built);
    bus.SetRunFailed(failed);
    return failed ? E_FAIL : S_OK;
}

HRESULT GstGraph::Pause() {
    if (!built) return S_OK;
    SetSoundRunning(false);
    return SetState(GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

// The streaming stops (a camera's light goes off); the camera stays open,
// and the next run goes on with the same pipeline.
HRESULT GstGraph::Stop() {
    if (!built) return S_OK;
    // A pipeline whose camera failed or was unplugged goes whole: at READY
    // its source keeps the device node open, and the camera plugged in
    // again would come back under another node. Run builds it anew.
    if (bus.Read([](const BusState& s) { return s.pipelineFailed; })) {
        DestroyPipeline();
        return S_OK;
    }
    SetSoundRunning(false);
    running.store(false);
    const bool failed = SetState(GST_STATE_READY) == GST_STATE_CHANGE_FAILURE;
    LeavePipeWireCamera();
    return failed ? E_FAIL : S_OK;
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
    std::string error;
    // An input that cannot be metered is the recording's to report, if
    // it fails there too: the preview goes on without a level.
    if (meter->Start(*soundInput, error)) soundMeter = std::move(meter);
}

}  // namespace lumora::gst

// The graph's pipeline over its life: built from what was rendered, its
// states changed on its worker, let go of -- or abandoned when its device
// hangs -- and the camera behind it watched for going away.

#include <algorithm>
#include <chrono>
#include <cmath>

#include "capture/gst/CameraControlsFactory.h"
#include "capture/gst/DeviceWatch.h"
#include "capture/gst/GstGraph.h"
#include "capture/gst/PipeWireCameraRest.h"
#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

// A device that takes longer than this to start or stop is given up.
constexpr auto kStateChangeLimit = std::chrono::seconds(8);
// How long a PipeWire camera left behind may take to idle (another
// program that streams from it keeps it running).
constexpr auto kIdleLimit = std::chrono::milliseconds(500);

messages::CameraStep StepTo(GstState state) {
    switch (state) {
        case GST_STATE_PLAYING: return messages::CameraStep::Start;
        case GST_STATE_PAUSED: return messages::CameraStep::Pause;
        default: return messages::CameraStep::Stop;
    }
}

}  // namespace

// A new pipeline: what the last one failed of is forgotten.
Status GstGraph::BuildPipeline() {
    (void)DestroyPipeline();
    bus.ResetForBuild();
    lastFailure.clear();
    runFailed = false;
    pipelineStale = false;
    if (!previewSource || !grabber) return Fail(messages::NothingToPreview());
    auto newGate = std::make_shared<CallbackGate>();  // opened once the graph holds the pipeline
    BuiltPipeline fresh;
    const NativeVideoWindows display = WantsNativeDisplay() ? hooks->nativeWindows : NativeVideoWindows{};
    if (Status made = PipelineBuilder(fresh, newGate, display).Build(*previewSource, orientation);
        !made.ok()) {
        fresh.Detach();  // never started: dropped right here
        return made;
    }
    ElementPtr workerRef = Ref(fresh.pipeline.get());
    built.emplace(std::move(fresh));
    frames.Reset(built->decodeScale);
    if (built->decodeScale) built->decodeScale->Show(shownSize.width, shownSize.height);
    worker = std::make_shared<PipelineWorker>(std::move(workerRef));
    gate = std::move(newGate);
    gate->Open(this);
    WatchDevice();
    ShowNatively();
    return Ok();
}

bool GstGraph::WantsNativeDisplay() const {
    return hooks && !frames.NativeRefused() && NativeVideoSinkAvailable(hooks->nativeWindows);
}

void GstGraph::ShowNatively() {
    if (!built || !built->display.sink || !built->display.Held()) return;
    const uint64_t window = frames.NativeWindow();
    if (window) {
        nativeWindow.store(window);
        built->display.Show(window);
        frames.UseNativeSink(built->display.sink);
    } else if (frames.NativeRefused()) {
        pipelineStale = true;  // the next run draws through the toolkit
    }
}

HRESULT GstGraph::PutOwner(IOwnerWindow* newOwner) {
    const HRESULT hr = frames.PutOwner(newOwner);
    ShowNatively();
    return hr;
}

HRESULT GstGraph::SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) {
    const HRESULT hr = frames.SetWindowPosition(left, top, width, height);
    // Decoded, and scaled for the sink, for the screen's pixels the picture
    // covers (on a HiDPI screen the window has more of them than its size
    // in points); kept for a pipeline built later.
    const double ratio = std::max(1.0, frames.PixelRatio());
    shownSize = {static_cast<int32_t>(std::lround(width * ratio)), static_cast<int32_t>(std::lround(height * ratio))};
    if (!built) return hr;
    if (built->decodeScale) built->decodeScale->Show(shownSize.width, shownSize.height);
    built->display.Resize(shownSize.width, shownSize.height);
    const WindowRect area = frames.NativePlacement();
    if (frames.HasNativeSink())
        built->display.Place(&area);
    else
        built->display.placement = area;  // placed once the sink may be called
    return hr;
}

// Nothing calls into the window's sink while its pipeline changes state
// (an uncovered window asks it to redraw): the sink may be freeing the
// very frame it would draw.
Status GstGraph::SetState(GstState state) {
    if (!built || !worker) return Fail("");
    cameraWatch.Stop();  // Start watches again once the pipeline plays
    frames.UseNativeSink(nullptr);
    const auto result = worker->ChangeState(state, kStateChangeLimit, [this] { WaitingForDevice(); });
    if (result && *result != GST_STATE_CHANGE_FAILURE && state >= GST_STATE_PAUSED && built &&
        built->display.sink && !built->display.Held()) {
        frames.UseNativeSink(built->display.sink);
        built->display.Place();  // a size asked for while it changed
    }
    // A failure posted while it changed is why it could not.
    if (result) return *result == GST_STATE_CHANGE_FAILURE ? Fail(bus.Failure()) : Ok();
    const std::string reason =
        messages::CameraDidNotChange(built->cameraName, kStateChangeLimit.count(), StepTo(state));
    AbandonPipeline();
    return Fail(reason);
}

void GstGraph::WaitingForDevice() {
    if (hooks) hooks->waitHook();
}

// The stream goes at once, as that of a program that ends (a stopped one
// stays linked), and the node is suspended unless another program streams
// from it: an idle pipewiresink loses its buffers.
void GstGraph::LeavePipeWireCamera() {
    if (!built || built->pipewireNode.empty() || !worker) return;
    const std::string node = built->pipewireNode;
    worker->ChangeState(built->videoSource, GST_STATE_NULL, kStateChangeLimit, [this] { WaitingForDevice(); });
    SuspendWhenIdle(node, kIdleLimit, [this] { WaitingForDevice(); });
}

void GstGraph::RestPipeWireCamera() {
    if (built && !built->pipewireNode.empty())
        SuspendWhenIdle(built->pipewireNode, std::chrono::milliseconds(0), [this] { WaitingForDevice(); });
}

Status GstGraph::DestroyPipeline() {
    if (!built) return Ok();
    Status dropped = DropBranch();  // a recording not finished keeps what was written
    if (!built) return dropped;
    running.store(false);
    SetSoundRunning(false);
    Status stopped = SetState(GST_STATE_NULL);  // may abandon it
    if (!built) return stopped;
    ReleasePipeline();
    return Ok();
}

// Nothing streams any more: every callback into the graph is taken off
// before the pipeline goes.
void GstGraph::ReleasePipeline() {
    cameraWatch.Stop();
    if (deviceListener >= 0) deviceWatch->RemoveListener(deviceListener);
    deviceListener = -1;
    built->Detach();
    gate->Close();
    worker->Finish();
    worker.reset();
    built.reset();
    gate.reset();
    frames.Reset();
    frames.UseNativeSink(nullptr);
    cameraControls.reset();
    controlledSource = nullptr;
}

// The pipeline stays with its worker, which takes it down when the stuck
// change returns. Nothing of it calls into this graph again, and the
// graph never touches it again.
void GstGraph::AbandonPipeline() {
    cameraWatch.Stop();
    if (deviceListener >= 0) deviceWatch->RemoveListener(deviceListener);
    deviceListener = -1;
    running.store(false);
    soundMeter.reset();
    frames.UseNativeSink(nullptr);
    cameraControls.reset();
    controlledSource = nullptr;
    built->Detach();
    gate->Close();
    std::vector<std::shared_ptr<void>> keep;
    if (branch) {
        // Its file sink may still write: the descriptor goes with it, and
        // this recording can be finished but not joined again.
        branch->probes.RemoveAll();
        keep.push_back(std::move(branch->soundWatch));
        if (recording && recording->file) keep.push_back(std::move(recording->file));
        if (recording) recording->file.reset();
        branch.reset();
        std::lock_guard lock(branchMutex);
        branchBin = nullptr;
        branchFileSink = nullptr;
        branchSoundSource = nullptr;
    }
    worker->Abandon(std::move(keep));
    worker.reset();
    built.reset();
    gate.reset();
    frames.Reset();
    pipelineStale = true;
    runFailed = true;
}

// A camera unplugged while it runs is reported like a failing one.
void GstGraph::WatchDevice() {
    GstDevice* device = previewSource ? previewSource->Device() : nullptr;
    if (!device) return;
    if (!deviceWatch) deviceWatch = DeviceWatch::Acquire();
    if (!deviceWatch) return;
    std::shared_ptr<GstDevice> camera(static_cast<GstDevice*>(gst_object_ref(device)),
                                      [](GstDevice* d) { gst_object_unref(d); });
    deviceListener = deviceWatch->AddListener([gate = gate, camera](GstDevice* changed, bool added) {
        if (!added && changed == camera.get())
            gate->Enter([](StreamingReceiver& graph) { graph.SourceRemoved(); });
    });
}

// Made anew for each pipeline: a rebuilt one has a camera element of its own.
ICameraControls* GstGraph::QueryCameraControls() {
    if (!built || !built->videoSource) return nullptr;
    if (!cameraControls || controlledSource != built->videoSource) {
        cameraControls = MakeCameraControls(built->videoSource, previewSource ? previewSource->Device() : nullptr);
        controlledSource = built->videoSource;
    }
    return cameraControls.get();
}

}  // namespace lumora::gst

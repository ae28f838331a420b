#pragma once
// The filter graph on GStreamer. The preview that is rendered into it
// becomes one GstPipeline, which runs from the build of the graph to its
// end: the camera is opened once. A recording joins that pipeline as a
// branch when it starts and leaves it when it is finished; stopping only
// stops the streaming. Its parts:
//   GstGraph.cpp             rendering, running and stopping
//   GstGraphRecording.cpp    the recording branch joining and leaving
//   GstGraphStreaming.cpp    what the streaming threads tell the graph
//   GstGraphPicture.cpp      the pictures turned and the preview mirrored
//   GstPipelineBuilding.cpp  the camera and preview pipeline (PipelineBuilder)
//   RecordingBin             the recording branch
//   RecordingContainers      the multiplexer of each container, and what each holds
//   GraphBus                 failures, end of stream, the format, and the waits for them
//   FrameDelivery            pictures to the grabber and the video window
//   PipelineWorker           state changes off the caller's thread
//   CameraWatch              a camera that stops sending, started again
//   GstCapturePlatform.cpp   the platform's objects, and the observer told of each graph

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/RecordingFlusher.h"
#include "capture/gst/CallbackGate.h"
#include "capture/gst/CameraWatch.h"
#include "capture/gst/FrameDelivery.h"
#include "capture/gst/GraphBus.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/LevelMeter.h"
#include "capture/gst/PipelineBuilder.h"
#include "capture/gst/PipelineWorker.h"
#include "capture/gst/PlatformHooks.h"
#include "capture/gst/PlatformSeams.h"
#include "capture/gst/RecordingBin.h"
#include "capture/gst/RecordingMeter.h"

namespace lumora::gst {

class DeviceWatch;

class GstGraph : public IGraphBuilder,
                 public IMediaControl,
                 public IGraphVideoWindow,
                 private StreamingReceiver {
public:
    GstGraph();
    ~GstGraph() override;
    GstGraph(const GstGraph&) = delete;
    GstGraph& operator=(const GstGraph&) = delete;

    // The hook run while this graph waits for a device.
    void UseHooks(std::shared_ptr<PlatformHooks> platformHooks) { hooks = std::move(platformHooks); }
    // Told that this graph goes, when it does (PlatformSeams.h).
    void UseObserver(std::shared_ptr<GraphObserver> graphObserver) { observer = std::move(graphObserver); }
    // Whether a JPEG camera's frames are recorded as they come when the JPEG
    // compressor is chosen (on; a benchmark turns it off to compare); for
    // the recordings rendered from then on.
    void KeepCameraJpeg(bool keep) { keepCameraJpeg = keep; }

    // ------------------------------------------------------------ IGraphBuilder
    HRESULT AddFilter(const FilterPtr& filter, const std::string& name) override;
    IMediaControl* QueryMediaControl() override { return this; }
    IGraphVideoWindow* QueryVideoWindow() override { return this; }
    void SetErrorHandler(std::function<void(const GraphError&)> handler) override;
    void SetSoundLevelHandler(std::function<void(const SoundLevel&)> handler) override {
        bus.SetLevelHandler(std::move(handler));
    }
    HRESULT SetRotation(int32_t degrees) override;

    // ------------------------------------------------------------ rendering
    HRESULT RenderPreview(const FilterPtr& source, const FilterPtr& grabberFilter);
    HRESULT SetOutput(MediaSubtype type, const std::string& path, FilterPtr& multiplexer);
    HRESULT RenderCapture(MediaType type, const FilterPtr& source, const FilterPtr& compressor,
                          const FilterPtr& sink);
    // The capture graph builder's ConfirmRecordingStarted and FinishRecording.
    Status ConfirmRecording();
    Status FinishRecording();
    static void SendEndOfStream(const std::vector<PadPtr>& entryPads);
    bool HasRecording() const { return recording.has_value() && recording->videoRendered; }
    bool GetRecordingProgress(RecordingProgress& progress) const;
    HRESULT WaitForFormat(ConnectedVideoFormat& format);
    std::string LastFailureReason() override { return lastFailure; }
    // The status for the caller; a failure's reason becomes the one
    // LastFailureReason tells (one without a reason leaves the last).
    template <class T>
    HRESULT Reported(const Result<T>& result) {
        if (result.ok()) return S_OK;
        if (!result.error().empty()) lastFailure = result.error();
        return E_FAIL;
    }
    ICameraControls* QueryCameraControls() override;

    // ------------------------------------------------------------ IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;

    // ------------------------------------------------------------ IGraphVideoWindow
    HRESULT PutOwner(IOwnerWindow* newOwner) override;
    HRESULT PutVisible(bool visible) override { return frames.PutVisible(visible); }
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override;
    HRESULT PutMirrored(bool mirrored) override;

    // ------------------------------------------------------------ for observers (UI thread)
    // The camera element of the pipeline; null when none is built.
    GstElement* VideoSourceElement() const;
    std::vector<std::string> ElementFactories() const;
    uint64_t FramesOffered() const { return meter.framesOffered.load(); }
    double RecordedSeconds() const { return meter.Seconds(); }
    // The device watch's word that the camera was unplugged.
    void CameraUnplugged() { SourceRemoved(); }

private:
    Status BuildPipeline();
    Status Start();
    Result<ConnectedVideoFormat> AwaitFormat();
    Status JoinRecording();
    Status LeaveRecording();
    // Fails when a device of the branch hangs: the pipeline is abandoned.
    Status DropBranch();
    bool EndBranchStream();
    // Changes the pipeline's state on its worker, bounded; a pipeline that
    // does not get there in time is abandoned, and that is the failure.
    Status SetState(GstState state);
    std::optional<GstStateChangeReturn> SetBranchState(GstState state);
    void WaitingForDevice();
    // The camera's first picture since it started, awaited (bounded);
    // fails (the camera left) when none came.
    Status AwaitPicture();
    // A PipeWire camera's stream leaves it and its node is suspended once
    // idle (see PipeWireCameraRest.h); before a start, an idle node is.
    void LeavePipeWireCamera();
    void RestPipeWireCamera();
    Status DestroyPipeline();
    void AbandonPipeline();
    void ReleasePipeline();
    void WatchDevice();
    // The running camera is watched for pictures that stop coming.
    void WatchCamera();
    void SetSoundRunning(bool running);
    // Meters the sound input while `wanted` and no recording holds it.
    void MeterSound(bool wanted);
    bool WantsNativeDisplay() const;
    // The platform's sink draws into the window once there is one.
    void ShowNatively();

    // ------------------------------------------------------------ StreamingReceiver
    void BusMessage(GstMessage* message) override;
    void Sample(GstSample* sample) override;
    void PreviewFormat(GstCaps* caps) override;
    void StreamBuffer(ProbeKind kind, GstBuffer* buffer) override;
    bool GrabberWantsPicture() override { return grabber && grabber->Wanted(); }
    void GrabberPicture(double seconds, const VideoFrame& frame) override {
        if (grabber) grabber->Deliver(seconds, frame);
    }
    void SoundStalled(const std::string& note) override { bus.Notice(note); }
    void CameraStalled(const std::string& note, bool restarted) override;
    void SourceRemoved() override;
    void RecordingEnded() override { bus.EndOfStream(); }
    void RecordingRoomRanOut() override { bus.DiskFull(); }
    // Whether `element` belongs to the recording branch; its file's path.
    bool InBranch(GstElement* element, bool& isFileSink, std::string& path);
    bool SoundInputLost(GstElement* element);

    // What was rendered into the graph.
    std::shared_ptr<GstFilter> previewSource;
    std::shared_ptr<GstGrabber> grabber;
    std::shared_ptr<GstFilter> soundInput;       // metered while previewing
    // Its meter while previewing without a recording (a recording's sound
    // chain has a level element of its own: the input is opened once).
    std::unique_ptr<GstSoundMeter> soundMeter;
    std::optional<RecordingBranch> recording;
    bool recordingConfirmed = false;
    CRecordingFlusher flusher;  // while the recording writes
    // Why the recording could not join the pipeline: the run that tried
    // goes on previewing, and ConfirmRecording tells it.
    std::string joinError;
    // What LastFailureReason tells: why the latest call failed, until a
    // pipeline is built anew.
    std::string lastFailure;
    bool runFailed = false;  // the latest run failed, or its pipeline was given up

    // The recording branch while it is in the pipeline (UI thread), and
    // what the streaming threads may ask of it.
    std::optional<RecordingBin> branch;
    std::mutex branchMutex;
    GstElement* branchBin = nullptr;         // guarded by branchMutex
    GstElement* branchFileSink = nullptr;    // guarded by branchMutex
    std::string branchPath;                  // guarded by branchMutex
    std::shared_ptr<std::atomic<bool>> branchFailed;  // guarded by branchMutex
    GstElement* branchSoundSource = nullptr;         // guarded by branchMutex
    std::weak_ptr<SoundGapFiller> branchSound;       // guarded by branchMutex

    GraphBus bus;
    FrameDelivery frames;
    RecordingMeter meter;
    std::shared_ptr<PlatformHooks> hooks;

    // The pipeline built from it (UI thread), and what runs it.
    std::optional<BuiltPipeline> built;
    std::shared_ptr<PipelineWorker> worker;  // the camera watch holds it while it restarts the camera
    GatePtr gate;
    bool pipelineStale = true;
    std::atomic<bool> running{false};  // a removed camera is reported only then
    std::atomic<uint64_t> nativeWindow{0};
    PictureSize shownSize;  // the picture's place in the window, for pipelines built later  // the window the sink draws into, for a sink that asks
    std::shared_ptr<DeviceWatch> deviceWatch;
    int deviceListener = -1;
    // The settings of the camera element they were made for.
    std::unique_ptr<ICameraControls> cameraControls;
    GstElement* controlledSource = nullptr;  // compared only, never used
    std::shared_ptr<GraphObserver> observer;
    bool keepCameraJpeg = true;
    PictureOrientation orientation;  // UI thread; for every pipeline built
    // Last: its thread goes before anything it reaches.
    CameraWatch cameraWatch;
};

}  // namespace lumora::gst

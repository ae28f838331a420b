#pragma once
// The filter graph on GStreamer. The graph keeps what was rendered into it
// (preview source and grabber, and the recording branch) and builds one
// GstPipeline from that when it is run. Its parts:
//   GstGraph.cpp             rendering, running and stopping, recording
//   GstGraphStreaming.cpp    what the streaming threads tell the graph
//   GstPipelineBuilding.cpp  the pipeline built from what was rendered (PipelineBuilder)
//   GraphBus                 failures, end of stream, the format, and the waits for them
//   FrameDelivery            pictures to the grabber and the video window
//   PipelineWorker           state changes off the caller's thread
//   GstCapturePlatform.cpp   the platform's objects
//   GstGraphRegistry.cpp     the graphs alive, for the test hooks

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/gst/CallbackGate.h"
#include "capture/gst/FrameDelivery.h"
#include "capture/gst/GraphBus.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/PipelineBuilder.h"
#include "capture/gst/PipelineWorker.h"
#include "capture/gst/PlatformHooks.h"
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

    // ------------------------------------------------------------ IGraphBuilder
    HRESULT AddFilter(const FilterPtr& filter, const std::string&) override;
    IMediaControl* QueryMediaControl() override { return this; }
    IGraphVideoWindow* QueryVideoWindow() override { return this; }
    void SetErrorHandler(std::function<void(const GraphError&)> handler) override;

    // ------------------------------------------------------------ rendering
    HRESULT RenderPreview(const FilterPtr& source, const FilterPtr& grabberFilter);
    HRESULT SetOutput(const std::string& path, FilterPtr& multiplexer);
    HRESULT RenderCapture(MediaType type, const FilterPtr& source, const FilterPtr& compressor,
                          const FilterPtr& sink);
    HRESULT ConfirmRecordingStarted(std::string& error);
    HRESULT FinishRecording(std::string& error);
    static void SendEndOfStream(const std::vector<PadPtr>& entryPads);
    bool HasRecording() const { return recording.has_value() && recording->videoRendered; }
    bool GetRecordingProgress(RecordingProgress& progress) const;
    HRESULT WaitForFormat(ConnectedVideoFormat& format);
    // Why the latest operation or run failed ("" when nothing did).
    std::string LastError() { return bus.LastError(); }
    std::string LastFailureReason() override { return LastError(); }

    // ------------------------------------------------------------ IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;

    // ------------------------------------------------------------ IGraphVideoWindow
    HRESULT PutOwner(IOwnerWindow* newOwner) override;
    HRESULT PutVisible(bool visible) override { return frames.PutVisible(visible); }
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override;

    // ------------------------------------------------------------ test hooks (UI thread)
    void SimulateSourceFailure();
    void SimulateSourceRemoval() { SourceRemoved(); }
    std::vector<std::string> ElementFactories() const;
    uint64_t FramesOffered() const { return meter.framesOffered.load(); }
    double RecordedSeconds() const { return meter.Seconds(); }

private:
    bool BuildPipeline(std::string& error);
    // Changes the pipeline's state on its worker, bounded; a pipeline that
    // does not get there in time is abandoned (FAILURE, reason remembered).
    GstStateChangeReturn SetState(GstState state);
    void WaitingForDevice();
    void DestroyPipeline();
    void AbandonPipeline(const std::string& reason);
    void ReleasePipeline();
    void WatchDevice();
    void SetSoundRunning(bool running);
    bool WantsNativeDisplay() const;
    // The platform's sink draws into the window once there is one.
    void ShowNatively();

    // ------------------------------------------------------------ StreamingReceiver
    void BusMessage(GstMessage* message) override;
    void Sample(GstSample* sample) override;
    void PreviewFormat(GstCaps* caps) override;
    void StreamBuffer(ProbeKind kind, GstBuffer* buffer) override;
    void SoundStalled(const std::string& note) override { bus.Notice(note); }
    void SourceRemoved() override;

    // What was rendered into the graph.
    std::shared_ptr<GstFilter> previewSource;
    std::shared_ptr<GstGrabber> grabber;
    std::optional<RecordingBranch> recording;
    bool recordingConfirmed = false;

    GraphBus bus;
    FrameDelivery frames;
    RecordingMeter meter;
    std::shared_ptr<PlatformHooks> hooks;

    // The pipeline built from it (UI thread), and what runs it.
    std::optional<BuiltPipeline> built;
    std::unique_ptr<PipelineWorker> worker;
    GatePtr gate;
    bool pipelineStale = true;
    std::atomic<bool> running{false};  // a removed camera is reported only then
    std::shared_ptr<DeviceWatch> deviceWatch;
    int deviceListener = -1;
};

// The graphs alive, for the test hooks: each one from its construction to
// its destruction.
void AddLiveGraph(GstGraph* graph);
void RemoveLiveGraph(GstGraph* graph);

}  // namespace lumora::gst

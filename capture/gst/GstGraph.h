#pragma once
// The filter graph on GStreamer. The graph keeps what was rendered into it
// (preview source and grabber, and the recording branch) and builds one
// GstPipeline from that when it is run. Its parts:
//   GstGraph.cpp             construction, rendering, running and stopping
//   GstPipelineBuilding.cpp  the pipeline built from what was rendered
//   GstGraphStreaming.cpp    streaming-thread callbacks, bus messages, the video window
//   GstCapturePlatform.cpp   the platform's objects and the graphs alive

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/RecordingFile.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/SoundGapFiller.h"

namespace lumora::gst {

class GstGraph;

class GstGrabber : public ISampleGrabber {
public:
    HRESULT SetMediaTypeRGB24() override { return S_OK; }  // the only type this grabber gives
    HRESULT GetConnectedMediaType(ConnectedVideoFormat& format) override;
    HRESULT SetBufferSamples(bool) override { return S_OK; }  // never keeps a copy
    HRESULT SetOneShot(bool oneShot) override { return oneShot ? E_FAIL : S_OK; }
    HRESULT SetCallback(ISampleGrabberCB* cb, int selector) override {
        callback.store(selector == 1 ? cb : nullptr);
        return S_OK;
    }

    void Deliver(double time, const uint8_t* topDown, int32_t stride, int32_t height);

    GstGraph* graph = nullptr;  // set when added to a graph

private:
    std::atomic<ISampleGrabberCB*> callback{nullptr};
    std::vector<uint8_t> bitmap;  // streaming thread only
};

// The multiplexer and file writer of a recording.
class MuxFilter : public IBaseFilter {
public:
    explicit MuxFilter(std::string p) : path(std::move(p)) {}
    std::string path;
};

struct RecordingBranch {
    std::string path;
    UniqueFd file;  // what the file sink writes to; closed with the branch
    std::shared_ptr<GstFilter> videoSource, videoCompressor, audioSource, audioCompressor;
    bool videoRendered = false;
    bool audioRendered = false;
};

class GstGraph : public IGraphBuilder, public IMediaControl, public IGraphVideoWindow {
public:
    GstGraph();
    ~GstGraph() override;

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
    bool HasRecording() const { return recording.has_value() && recording->videoRendered; }
    bool GetRecordingProgress(RecordingProgress& progress) const;
    HRESULT WaitForFormat(ConnectedVideoFormat& format);

    // ------------------------------------------------------------ IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;

    // ------------------------------------------------------------ IGraphVideoWindow
    HRESULT PutOwner(IOwnerWindow* newOwner) override;
    HRESULT PutVisible(bool visible) override;
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override;

    void SimulateSourceFailure();

private:
    IVideoWindow* CurrentWindow();
    GstStateChangeReturn SetState(GstState state);
    void RememberError(const std::string& error);
    void DestroyPipeline();

    // ------------------------------------------------------------ building the pipeline
    void RememberEntryPad(GstElement* source);
    static std::set<GstElement*> Children(GstBin* bin);
    // Streaming threads; the set is only changed while nothing streams.
    bool IsRecordingElement(GstObject* object) const {
        return object && recordingElements.count(reinterpret_cast<GstElement*>(object)) > 0;
    }
    static GstElement* Add(GstBin* bin, const char* factory, std::string& error);
    static bool Link(GstElement* a, GstElement* b, std::string& error);
    static void SetCaps(GstElement* capsfilter, CapsPtr caps);
    bool BuildPipeline(std::string& error);
    static bool CompressInto(GstBin* bin, GstElement* upstream, const GstFilter* compressor, CapsPtr rawCaps,
                             GstElement* mux, const char* kind, std::string& error);
    bool BuildRecording(GstBin* bin, GstElement* tee, std::string& error);
    void WatchSound(GstElement* audioQueue, const std::string& deviceName);

    // ------------------------------------------------------------ streaming threads
    static GstPadProbeReturn OnRecordedFrame(GstPad*, GstPadProbeInfo* info, gpointer data);
    static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data);
    void HandleFrame(GstSample* sample);
    static GstPadProbeReturn OnRecordingFrame(GstPad*, GstPadProbeInfo*, gpointer data);
    static GstPadProbeReturn OnFileData(GstPad*, GstPadProbeInfo* info, gpointer data);
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data);
    void HandleBusMessage(GstMessage* message);

    // What was rendered into the graph.
    std::shared_ptr<GstFilter> previewSource;
    std::shared_ptr<GstGrabber> grabber;
    std::optional<RecordingBranch> recording;
    bool recordingConfirmed = false;

    // The pipeline built from it (UI thread).
    ElementPtr pipeline;
    bool pipelineStale = true;
    GstElement* fileSink = nullptr;
    GstElement* videoSourceElement = nullptr;
    std::set<GstElement*> recordingElements;
    std::vector<PadPtr> eosEntryPads;
    std::atomic<std::thread::id> controllingThread{};

    // Preview streaming thread only (reset while nothing streams).
    CapsPtr cachedCaps;
    GstVideoInfo frameInfo{};

    // Shared between the streaming threads and the UI thread.
    std::atomic<uint64_t> bytesToFile{0};
    // Running time of the first recorded picture and the end of the latest (ns, -1: none yet).
    std::atomic<int64_t> firstRecordedTime{-1};
    std::atomic<int64_t> lastRecordedTime{-1};
    // Made and dropped by the UI thread while nothing streams.
    std::unique_ptr<SoundGapFiller> soundWatch;

public:
    std::atomic<uint64_t> framesOffered{0};

private:
    std::atomic<bool> fileSinkFailed{false};
    std::mutex busMutex;
    std::condition_variable busCv;
    std::function<void(const GraphError&)> errorHandler;
    bool errorReported = false;  // only the first failure of a run is reported
    std::string lastError;
    std::string recordingError;
    bool awaitingRecording = false;
    bool eosSeen = false;
    bool pipelineFailed = false;
    bool runFailed = false;
    bool formatKnown = false;
    ConnectedVideoFormat negotiated;

    std::mutex windowMutex;
    IOwnerWindow* owner = nullptr;
    IVideoWindow* window = nullptr;
};

// The graphs alive, for the test hooks: each one from its construction to
// its destruction.
void AddLiveGraph(GstGraph* graph);
void RemoveLiveGraph(GstGraph* graph);

}  // namespace lumora::gst

// The filter graph on GStreamer: its construction, what is rendered into
// it, and running and stopping the pipeline built from that (see GstGraph.h
// for the other parts).

#include "capture/gst/GstGraph.h"

#include <chrono>

#include "capture/RecordingFile.h"

namespace lumora::gst {

namespace {

constexpr auto kFormatTimeout = std::chrono::seconds(5);
constexpr auto kRecordingStartTimeout = std::chrono::seconds(5);
constexpr auto kRecordingEndTimeout = std::chrono::seconds(10);

}  // namespace

GstGraph::GstGraph() {
    EnsureInitialised();
    AddLiveGraph(this);
}

GstGraph::~GstGraph() {
    RemoveLiveGraph(this);
    DestroyPipeline();
    PutOwner(nullptr);
}

// ------------------------------------------------------------ IGraphBuilder

HRESULT GstGraph::AddFilter(const FilterPtr& filter, const std::string&) {
    if (!filter) return E_POINTER;
    if (auto grabberFilter = std::dynamic_pointer_cast<GstGrabber>(filter)) grabberFilter->graph = this;
    return S_OK;
}

void GstGraph::SetErrorHandler(std::function<void(const GraphError&)> handler) {
    std::lock_guard lock(busMutex);
    errorHandler = std::move(handler);
}

// ------------------------------------------------------------ rendering

HRESULT GstGraph::RenderPreview(const FilterPtr& source, const FilterPtr& grabberFilter) {
    auto videoSource = std::dynamic_pointer_cast<GstFilter>(source);
    auto grabberObject = std::dynamic_pointer_cast<GstGrabber>(grabberFilter);
    if (!videoSource || !grabberObject) return E_POINTER;
    previewSource = videoSource;
    grabber = grabberObject;
    grabber->graph = this;
    std::string error;
    if (!BuildPipeline(error)) {
        RememberError(error);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT GstGraph::SetOutput(const std::string& path, FilterPtr& multiplexer) {
    if (path.empty()) return E_FAIL;
    // Opened here, not by the sink: never through a link planted at the
    // name, never blocking on a FIFO. Emptied when the branch is built.
    std::string reason;
    UniqueFd file = OpenRecordingFile(path, false, reason);
    if (!file.Valid()) {
        RememberError("cannot record to \"" + path + "\": " + reason);
        return E_FAIL;
    }
    recording.emplace();
    recording->path = path;
    recording->file = std::move(file);
    multiplexer = std::make_shared<MuxFilter>(path);
    pipelineStale = true;
    return S_OK;
}

HRESULT GstGraph::RenderCapture(MediaType type, const FilterPtr& source, const FilterPtr& compressor,
                                const FilterPtr& sink) {
    auto mux = std::dynamic_pointer_cast<MuxFilter>(sink);
    auto input = std::dynamic_pointer_cast<GstFilter>(source);
    auto encoder = std::dynamic_pointer_cast<GstFilter>(compressor);
    if (!recording || !mux || mux->path != recording->path || !input || (compressor && !encoder))
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
    pipelineStale = true;
    {
        std::lock_guard lock(busMutex);
        awaitingRecording = true;  // failures until it runs are the starter's to report
        recordingError.clear();
    }
    return S_OK;
}

HRESULT GstGraph::ConfirmRecordingStarted(std::string& error) {
    if (!recording) return E_FAIL;
    std::unique_lock lock(busMutex);
    if (!pipeline || runFailed) {
        awaitingRecording = false;
        error = lastError.empty() ? "the capture graph could not run" : lastError;
        return E_FAIL;
    }
    const bool started = busCv.wait_for(lock, kRecordingStartTimeout, [&] {
        return bytesToFile.load() > 0 || !recordingError.empty();
    });
    awaitingRecording = false;
    if (bytesToFile.load() > 0 && recordingError.empty()) {
        recordingConfirmed = true;
        return S_OK;
    }
    error = !recordingError.empty() ? recordingError
            : started ? "unknown failure"
                      : "no data reached the file (a compressor that does not fit the picture?)";
    return E_FAIL;
}

HRESULT GstGraph::FinishRecording(std::string& error) {
    if (!recording) return S_OK;
    HRESULT hr = S_OK;
    if (pipeline && recordingConfirmed && !fileSinkFailed.load()) {
        // End of stream through every branch: the multiplexer then writes
        // its index and rewrites the header, and the file sink reports EOS.
        if (SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) hr = E_FAIL;
        for (const PadPtr& pad : eosEntryPads) gst_pad_send_event(pad.get(), gst_event_new_eos());
        std::unique_lock lock(busMutex);
        if (!busCv.wait_for(lock, kRecordingEndTimeout, [&] { return eosSeen || fileSinkFailed.load(); })) {
            error = "the recording did not end in time; the file may lack its index";
            hr = E_FAIL;
        } else if (fileSinkFailed.load()) {
            error = lastError;
            hr = E_FAIL;
        }
    } else if (fileSinkFailed.load()) {
        std::lock_guard lock(busMutex);
        error = lastError;
        hr = E_FAIL;
    }
    DestroyPipeline();
    recording.reset();
    recordingConfirmed = false;
    pipelineStale = true;
    {
        std::lock_guard lock(busMutex);
        awaitingRecording = false;
    }
    return hr;
}

bool GstGraph::GetRecordingProgress(RecordingProgress& progress) const {
    if (!HasRecording()) return false;
    progress.bytes = bytesToFile.load();
    const int64_t first = firstRecordedTime.load(), last = lastRecordedTime.load();
    progress.seconds = first >= 0 && last > first ? static_cast<double>(last - first) / GST_SECOND : 0.0;
    return true;
}

// Brings the preview up to the point where its format is known.
HRESULT GstGraph::WaitForFormat(ConnectedVideoFormat& format) {
    if (!pipeline) return E_FAIL;
    if (SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    std::unique_lock lock(busMutex);
    busCv.wait_for(lock, kFormatTimeout, [&] { return formatKnown || pipelineFailed; });
    if (!formatKnown) return E_FAIL;
    format = negotiated;
    return S_OK;
}

// ------------------------------------------------------------ IMediaControl

HRESULT GstGraph::Run() {
    if (!pipeline || pipelineStale) {
        std::string error;
        if (!BuildPipeline(error)) {
            RememberError(error);
            std::lock_guard lock(busMutex);
            runFailed = true;
            return E_FAIL;
        }
    }
    GstState current = GST_STATE_NULL;
    gst_element_get_state(pipeline.get(), &current, nullptr, 0);
    if (current <= GST_STATE_READY) {
        std::lock_guard lock(busMutex);
        eosSeen = false;
        pipelineFailed = false;
        errorReported = false;
    }
    const bool failed = SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE;
    if (soundWatch) soundWatch->SetRunning(!failed);
    std::lock_guard lock(busMutex);
    runFailed = failed;
    return failed ? E_FAIL : S_OK;
}

HRESULT GstGraph::Pause() {
    if (!pipeline) return S_OK;
    if (soundWatch) soundWatch->SetRunning(false);
    return SetState(GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

HRESULT GstGraph::Stop() {
    if (!pipeline) return S_OK;
    if (soundWatch) soundWatch->SetRunning(false);
    // NULL rather than READY: the camera is let go while stopped.
    return SetState(GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

// Messages posted by this thread while it changes the state belong to
// the caller, who reports the failed change itself.
GstStateChangeReturn GstGraph::SetState(GstState state) {
    controllingThread.store(std::this_thread::get_id());
    const GstStateChangeReturn result = gst_element_set_state(pipeline.get(), state);
    controllingThread.store(std::thread::id());
    return result;
}

void GstGraph::RememberError(const std::string& error) {
    std::lock_guard lock(busMutex);
    lastError = error;
}

void GstGraph::DestroyPipeline() {
    if (!pipeline) return;
    SetState(GST_STATE_NULL);
    soundWatch.reset();
    // Nothing posts any more; a bus that someone still holds must not call into this graph.
    BusPtr bus(gst_element_get_bus(pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    eosEntryPads.clear();
    pipeline.reset();
    fileSink = nullptr;
    videoSourceElement = nullptr;
    recordingElements.clear();
    cachedCaps.reset();
}

}  // namespace lumora::gst

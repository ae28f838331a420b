// The filter graph on GStreamer: its construction, what is rendered into
// it, the recording, and running and stopping (see GstGraph.h for the
// other parts).

#include "capture/gst/GstGraph.h"

#include <chrono>
#include <thread>

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
    frames.PutOwner(nullptr);
}

// ------------------------------------------------------------ IGraphBuilder

HRESULT GstGraph::AddFilter(const FilterPtr& filter, const std::string&) {
    if (!filter) return E_POINTER;
    if (auto grabberFilter = std::dynamic_pointer_cast<GstGrabber>(filter)) grabberFilter->graph = this;
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

HRESULT GstGraph::SetOutput(const std::string& path, FilterPtr& multiplexer) {
    if (path.empty()) return E_FAIL;
    // Opened here, not by the sink: never through a link planted at the
    // name, never blocking on a FIFO. Emptied when the branch is built.
    std::string reason;
    UniqueFd file = OpenRecordingFile(path, false, reason);
    if (!file.Valid()) {
        bus.RememberError("cannot record to \"" + path + "\": " + reason);
        return E_FAIL;
    }
    recording.emplace();
    recording->path = path;
    recording->file = std::make_shared<UniqueFd>(std::move(file));
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
    bus.AwaitRecording();  // failures until it runs are the starter's to report
    return S_OK;
}

HRESULT GstGraph::ConfirmRecordingStarted(std::string& error) {
    if (!recording) return E_FAIL;
    if (!built || bus.Read([](const BusState& s) { return s.runFailed; })) {
        bus.StopAwaitingRecording();
        error = LastError();
        if (error.empty()) error = "the capture graph could not run";
        return E_FAIL;
    }
    const bool started = bus.WaitUntil(
        [this](const BusState& s) { return meter.bytesToFile.load() > 0 || !s.recordingError.empty(); },
        kRecordingStartTimeout, [this] { WaitingForDevice(); });
    bus.StopAwaitingRecording();
    const std::string failure = bus.Read([](const BusState& s) { return s.recordingError; });
    if (meter.bytesToFile.load() > 0 && failure.empty()) {
        recordingConfirmed = true;
        return S_OK;
    }
    error = !failure.empty() ? failure
            : started        ? "unknown failure"
                             : "no data reached the file (a compressor that does not fit the picture?)";
    return E_FAIL;
}

// Sending an end of stream into a branch waits for the branch's streaming
// thread, which can hang behind a device that stopped delivering. So the
// events go from a thread of their own; the caller's wait for the end is
// bounded, and taking the pipeline down releases a sender that still hangs.
void GstGraph::SendEndOfStream(const std::vector<PadPtr>& entryPads) {
    std::vector<PadPtr> pads;
    for (const PadPtr& pad : entryPads) pads.push_back(Ref(pad.get()));
    std::thread([pads = std::move(pads)] {
        for (const PadPtr& pad : pads) gst_pad_send_event(pad.get(), gst_event_new_eos());
    }).detach();
}

HRESULT GstGraph::FinishRecording(std::string& error) {
    if (!recording) return S_OK;
    HRESULT hr = S_OK;
    if (built && recordingConfirmed && !meter.fileSinkFailed.load()) {
        // End of stream through every branch: the multiplexer then writes
        // its index and rewrites the header, and the file sink reports EOS.
        if (SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) hr = E_FAIL;
        if (built) {
            SendEndOfStream(built->eosEntryPads);
            const bool ended = bus.WaitUntil(
                [this](const BusState& s) { return s.eosSeen || meter.fileSinkFailed.load(); },
                kRecordingEndTimeout, [this] { WaitingForDevice(); });
            if (!ended) {
                error = "the recording did not end in time; the file may lack its index";
                hr = E_FAIL;
            } else if (meter.fileSinkFailed.load()) {
                error = LastError();
                hr = E_FAIL;
            }
        } else {
            error = LastError();  // abandoned: the file keeps what was written
        }
    } else if (meter.fileSinkFailed.load()) {
        error = LastError();
        hr = E_FAIL;
    }
    DestroyPipeline();
    recording.reset();
    recordingConfirmed = false;
    pipelineStale = true;
    bus.StopAwaitingRecording();
    return hr;
}

bool GstGraph::GetRecordingProgress(RecordingProgress& progress) const {
    if (!HasRecording()) return false;
    progress.bytes = meter.bytesToFile.load();
    progress.seconds = meter.Seconds();
    return true;
}

// Brings the preview up to the point where its format is known.
HRESULT GstGraph::WaitForFormat(ConnectedVideoFormat& format) {
    if (!built) return E_FAIL;
    if (SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    const bool settled = bus.WaitUntil([](const BusState& s) { return s.formatKnown || s.pipelineFailed; },
                                       kFormatTimeout, [this] { WaitingForDevice(); });
    // A camera that runs but sends nothing, as one that never starts.
    if (!settled && built)
        bus.RememberError("The camera \"" + built->cameraName + "\" sent no picture within " +
                          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kFormatTimeout).count()) +
                          " seconds.");
    return bus.Read([&](const BusState& s) {
        if (!s.formatKnown) return E_FAIL;
        format = s.negotiated;
        return S_OK;
    });
}

// ------------------------------------------------------------ IMediaControl

HRESULT GstGraph::Run() {
    if (!built || pipelineStale) {
        std::string error;
        if (!BuildPipeline(error)) {
            bus.RememberError(error);
            bus.SetRunFailed(true);
            return E_FAIL;
        }
    }
    GstState current = GST_STATE_NULL;
    gst_element_get_state(built->pipeline.get(), &current, nullptr, 0);
    if (current <= GST_STATE_READY) bus.ResetForRun();
    const bool failed = SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE;
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

HRESULT GstGraph::Stop() {
    if (!built) return S_OK;
    SetSoundRunning(false);
    running.store(false);
    // NULL rather than READY: the camera is let go while stopped.
    return SetState(GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

void GstGraph::SetSoundRunning(bool isRunning) {
    if (built && built->soundWatch) built->soundWatch->SetRunning(isRunning);
}

}  // namespace lumora::gst

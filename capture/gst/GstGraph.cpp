// The filter graph on GStreamer. The graph keeps what was rendered into it
// (preview source and grabber, and the recording branch) and builds one
// GstPipeline from that when it is run:
//
//   source -> [decoder] -> tee -> queue -> convert -> BGR -> appsink (grabber, video window)
//                              -> queue -> convert -> [compressor | I420] ---------> avimux -> fdsink
//   audio source -> queue -> convert -> resample -> [compressor | S16LE] --------------^
//
// The preview queue leaks, so a slow grabber (a photo being written) never
// holds up the recording. The bus is handled synchronously on the posting
// thread; nothing needs a GLib main loop.

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "capture/RecordingFile.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/GstTesting.h"
#include "capture/gst/SoundGapFiller.h"

namespace lumora::gst {

std::unique_ptr<ICreateDevEnum> MakeDeviceEnumerator();

namespace {

constexpr auto kFormatTimeout = std::chrono::seconds(5);
constexpr auto kRecordingStartTimeout = std::chrono::seconds(5);
constexpr auto kRecordingEndTimeout = std::chrono::seconds(10);
// A sound input that sends nothing for longer than this is reported.
constexpr GstClockTime kSoundStallLimit = 2 * GST_SECOND;

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

    // Streaming thread. The pipeline gives rows top-down; the callback gets
    // them bottom-up, as a bitmap stores them -- laid out only when wanted.
    void Deliver(double time, const uint8_t* topDown, int32_t stride, int32_t height) {
        ISampleGrabberCB* cb = callback.load();
        if (!cb || !cb->WantsBuffer()) return;
        const std::size_t rowBytes = static_cast<std::size_t>(stride);
        bitmap.resize(rowBytes * static_cast<std::size_t>(height));
        for (int32_t row = 0; row < height; ++row)
            std::memcpy(&bitmap[rowBytes * (height - 1 - row)], topDown + rowBytes * row, rowBytes);
        cb->BufferCB(time, bitmap.data(), static_cast<int32_t>(bitmap.size()));
    }

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

std::mutex liveGraphsMutex;
std::set<GstGraph*> liveGraphs;

class GstGraph : public IGraphBuilder, public IMediaControl, public IGraphVideoWindow {
public:
    GstGraph() {
        EnsureInitialised();
        std::lock_guard lock(liveGraphsMutex);
        liveGraphs.insert(this);
    }
    ~GstGraph() override {
        {
            std::lock_guard lock(liveGraphsMutex);
            liveGraphs.erase(this);
        }
        DestroyPipeline();
        PutOwner(nullptr);
    }

    // ------------------------------------------------------------ IGraphBuilder
    HRESULT AddFilter(const FilterPtr& filter, const std::string&) override {
        if (!filter) return E_POINTER;
        if (auto grabberFilter = std::dynamic_pointer_cast<GstGrabber>(filter)) grabberFilter->graph = this;
        return S_OK;
    }
    IMediaControl* QueryMediaControl() override { return this; }
    IGraphVideoWindow* QueryVideoWindow() override { return this; }
    void SetErrorHandler(std::function<void(const GraphError&)> handler) override {
        std::lock_guard lock(busMutex);
        errorHandler = std::move(handler);
    }

    // ------------------------------------------------------------ rendering
    HRESULT RenderPreview(const FilterPtr& source, const FilterPtr& grabberFilter) {
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

    HRESULT SetOutput(const std::string& path, FilterPtr& multiplexer) {
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

    HRESULT RenderCapture(MediaType type, const FilterPtr& source, const FilterPtr& compressor,
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

    HRESULT ConfirmRecordingStarted(std::string& error) {
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

    HRESULT FinishRecording(std::string& error) {
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

    bool HasRecording() const { return recording.has_value() && recording->videoRendered; }

    bool GetRecordingProgress(RecordingProgress& progress) const {
        if (!HasRecording()) return false;
        progress.bytes = bytesToFile.load();
        const int64_t first = firstRecordedTime.load(), last = lastRecordedTime.load();
        progress.seconds = first >= 0 && last > first ? static_cast<double>(last - first) / GST_SECOND : 0.0;
        return true;
    }

    // Brings the preview up to the point where its format is known.
    HRESULT WaitForFormat(ConnectedVideoFormat& format) {
        if (!pipeline) return E_FAIL;
        if (SetState(GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return E_FAIL;
        std::unique_lock lock(busMutex);
        busCv.wait_for(lock, kFormatTimeout, [&] { return formatKnown || pipelineFailed; });
        if (!formatKnown) return E_FAIL;
        format = negotiated;
        return S_OK;
    }

    // ------------------------------------------------------------ IMediaControl
    HRESULT Run() override {
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
    HRESULT Pause() override {
        if (!pipeline) return S_OK;
        if (soundWatch) soundWatch->SetRunning(false);
        return SetState(GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
    }
    HRESULT Stop() override {
        if (!pipeline) return S_OK;
        if (soundWatch) soundWatch->SetRunning(false);
        // NULL rather than READY: the camera is let go while stopped.
        return SetState(GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
    }

    // ------------------------------------------------------------ IGraphVideoWindow
    HRESULT PutOwner(IOwnerWindow* newOwner) override {
        IOwnerWindow* oldOwner;
        {
            std::lock_guard lock(windowMutex);
            oldOwner = owner;
            owner = nullptr;
            window = nullptr;  // the streaming thread stops presenting here
        }
        if (oldOwner) oldOwner->DetachVideoWindow();
        if (!newOwner) return S_OK;
        IVideoWindow* child = newOwner->AttachVideoWindow();
        if (!child) return E_FAIL;
        std::lock_guard lock(windowMutex);
        owner = newOwner;
        window = child;
        return S_OK;
    }
    HRESULT PutVisible(bool visible) override {
        IVideoWindow* child = CurrentWindow();
        if (!child) return E_FAIL;
        child->SetVisible(visible);
        return S_OK;
    }
    HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override {
        IVideoWindow* child = CurrentWindow();
        if (!child) return E_FAIL;
        child->SetWindowPosition(left, top, width, height);
        return S_OK;
    }

    // Tests: a failure of the video source, as a camera that goes away gives.
    void SimulateSourceFailure() {
        if (!pipeline || !videoSourceElement) return;
        ErrorPtr err(g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                         "The video device was disconnected."));
        gst_element_post_message(videoSourceElement,
                                 gst_message_new_error(GST_OBJECT(videoSourceElement), err.get(), "simulated"));
    }

private:
    IVideoWindow* CurrentWindow() {
        std::lock_guard lock(windowMutex);
        return window;
    }

    // Messages posted by this thread while it changes the state belong to
    // the caller, who reports the failed change itself.
    GstStateChangeReturn SetState(GstState state) {
        controllingThread.store(std::this_thread::get_id());
        const GstStateChangeReturn result = gst_element_set_state(pipeline.get(), state);
        controllingThread.store(std::thread::id());
        return result;
    }

    void RememberError(const std::string& error) {
        std::lock_guard lock(busMutex);
        lastError = error;
    }

    void DestroyPipeline() {
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

    // The first pad downstream of a source: where an end of stream is sent in,
    // which works whether or not the source itself still runs.
    void RememberEntryPad(GstElement* source) {
        PadPtr src(gst_element_get_static_pad(source, "src"));
        if (!src) return;
        if (PadPtr peer{gst_pad_get_peer(src.get())}) eosEntryPads.push_back(std::move(peer));
    }

    static std::set<GstElement*> Children(GstBin* bin) {
        std::set<GstElement*> children;
        GST_OBJECT_LOCK(bin);
        for (GList* item = GST_BIN_CHILDREN(bin); item; item = item->next)
            children.insert(GST_ELEMENT(item->data));
        GST_OBJECT_UNLOCK(bin);
        return children;
    }

    // Streaming threads; the set is only changed while nothing streams.
    bool IsRecordingElement(GstObject* object) const {
        return object && recordingElements.count(reinterpret_cast<GstElement*>(object)) > 0;
    }

    static GstElement* Add(GstBin* bin, const char* factory, std::string& error) {
        GstElement* element = MakeElement(factory, error);
        if (element) gst_bin_add(bin, element);
        return element;
    }

    static bool Link(GstElement* a, GstElement* b, std::string& error) {
        if (gst_element_link(a, b)) return true;
        error = std::string("cannot connect ") + GST_ELEMENT_NAME(a) + " to " + GST_ELEMENT_NAME(b);
        return false;
    }

    static void SetCaps(GstElement* capsfilter, CapsPtr caps) {
        g_object_set(capsfilter, "caps", caps.get(), nullptr);
    }

    bool BuildPipeline(std::string& error) {
        DestroyPipeline();
        {
            std::lock_guard lock(busMutex);
            formatKnown = false;
            pipelineFailed = false;
            errorReported = false;
            runFailed = false;
            eosSeen = false;
            lastError.clear();
        }
        bytesToFile.store(0);
        if (HasRecording()) {
            framesOffered.store(0);
            firstRecordedTime.store(-1);
            lastRecordedTime.store(-1);
        }
        fileSinkFailed.store(false);
        pipelineStale = false;
        if (!previewSource || !grabber) {
            error = "nothing to preview";
            return false;
        }
        pipeline = AdoptFloating(gst_pipeline_new("lumora-capture"));
        // One clock for pictures and sound, and not a sound card's: a sound
        // input's clock can stand still while the device stalls, which would
        // hold every picture that waits on it.
        const ObjectPtr<GstClock> systemClock(gst_system_clock_obtain());
        gst_pipeline_use_clock(GST_PIPELINE(pipeline.get()), systemClock.get());
        GstBin* bin = GST_BIN(pipeline.get());
        BusPtr bus(gst_element_get_bus(pipeline.get()));
        gst_bus_set_sync_handler(bus.get(), &GstGraph::OnBusMessage, this, nullptr);

        GstElement *sourceFirst = nullptr, *sourceLast = nullptr;
        if (!previewSource->AddChain(bin, sourceFirst, sourceLast, error)) return false;
        videoSourceElement = sourceFirst;
        GstElement* tee = Add(bin, "tee", error);
        GstElement* queue = Add(bin, "queue", error);
        GstElement* convert = Add(bin, "videoconvert", error);
        GstElement* bgr = Add(bin, "capsfilter", error);
        GstElement* sink = Add(bin, "appsink", error);
        if (!tee || !queue || !convert || !bgr || !sink) return false;

        g_object_set(queue, "leaky", 2 /* downstream */, "max-size-buffers", 3, "max-size-bytes", 0,
                     "max-size-time", static_cast<guint64>(0), nullptr);
        SetCaps(bgr, CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr)));
        g_object_set(sink, "sync", FALSE, "max-buffers", 2, "drop", TRUE, nullptr);
        gst_app_sink_set_caps(GST_APP_SINK(sink), nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &GstGraph::OnNewSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);

        if (!Link(sourceLast, tee, error) || !Link(tee, queue, error) || !Link(queue, convert, error) ||
            !Link(convert, bgr, error) || !Link(bgr, sink, error))
            return false;
        RememberEntryPad(sourceFirst);

        if (HasRecording()) {
            std::set<GstElement*> previewElements = Children(bin);
            const bool built = BuildRecording(bin, tee, error);
            for (GstElement* element : Children(bin))
                if (!previewElements.count(element)) recordingElements.insert(element);
            if (!built) return false;
        }
        return true;
    }

    // upstream -> (compressor, or a caps filter for `rawCaps`) -> mux.
    static bool CompressInto(GstBin* bin, GstElement* upstream, const GstFilter* compressor, CapsPtr rawCaps,
                             GstElement* mux, const char* kind, std::string& error) {
        GstElement *first = nullptr, *last = nullptr;
        if (compressor) {
            if (!compressor->AddChain(bin, first, last, error)) return false;
        } else {
            first = last = Add(bin, "capsfilter", error);
            if (!first) return false;
            SetCaps(first, std::move(rawCaps));
        }
        if (!Link(upstream, first, error)) return false;
        if (!gst_element_link(last, mux)) {
            error = std::string("the ") + kind + " compressor's output cannot go into an AVI file";
            return false;
        }
        return true;
    }

    bool BuildRecording(GstBin* bin, GstElement* tee, std::string& error) {
        GstElement* mux = Add(bin, "avimux", error);
        GstElement* file = Add(bin, "fdsink", error);
        GstElement* queue = Add(bin, "queue", error);
        GstElement* convert = Add(bin, "videoconvert", error);
        if (!mux || !file || !queue || !convert) return false;
        // Every build starts the file afresh, as opening it anew would. The
        // sink seeks on the descriptor for the multiplexer's final header.
        const int fd = recording->file.Get();
        if (::lseek(fd, 0, SEEK_SET) != 0 || ::ftruncate(fd, 0) != 0) {
            error = "cannot record to \"" + recording->path + "\": " + std::strerror(errno);
            return false;
        }
        g_object_set(file, "fd", fd, "async", FALSE, nullptr);
        // Room for a few seconds of pictures while a compressor catches up.
        // Beyond that the recording loses pictures rather than ever holding
        // up the preview (the tee feeds both).
        g_object_set(queue, "leaky", 2 /* downstream */, "max-size-buffers", 0, "max-size-bytes", 0,
                     "max-size-time", static_cast<guint64>(3 * GST_SECOND), nullptr);
        fileSink = file;
        PadPtr recordingInput(gst_element_get_static_pad(queue, "sink"));
        gst_pad_add_probe(recordingInput.get(), GST_PAD_PROBE_TYPE_BUFFER, &GstGraph::OnRecordingFrame, this, nullptr);
        PadPtr recordingOutput(gst_element_get_static_pad(queue, "src"));
        gst_pad_add_probe(recordingOutput.get(), GST_PAD_PROBE_TYPE_BUFFER, &GstGraph::OnRecordedFrame, this, nullptr);
        PadPtr fileInput(gst_element_get_static_pad(file, "sink"));
        gst_pad_add_probe(fileInput.get(), GST_PAD_PROBE_TYPE_BUFFER, &GstGraph::OnFileData, this, nullptr);

        if (!Link(tee, queue, error) || !Link(queue, convert, error)) return false;
        // Uncompressed video: planar YUV, which every AVI player reads.
        if (!CompressInto(bin, convert, recording->videoCompressor.get(),
                          CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr)), mux,
                          "video", error))
            return false;

        if (recording->audioRendered && recording->audioSource) {
            GstElement *sourceFirst = nullptr, *sourceLast = nullptr;
            if (!recording->audioSource->AddChain(bin, sourceFirst, sourceLast, error)) return false;
            GstElement* audioQueue = Add(bin, "queue", error);
            GstElement* audioConvert = Add(bin, "audioconvert", error);
            GstElement* resample = Add(bin, "audioresample", error);
            if (!audioQueue || !audioConvert || !resample) return false;
            if (!Link(sourceLast, audioQueue, error) || !Link(audioQueue, audioConvert, error) ||
                !Link(audioConvert, resample, error))
                return false;
            WatchSound(audioQueue, recording->audioSource->Describe());
            CapsPtr raw(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", nullptr));
            if (!CompressInto(bin, resample, recording->audioCompressor.get(), std::move(raw), mux, "audio", error))
                return false;
            RememberEntryPad(sourceFirst);
        }
        return Link(mux, file, error);
    }

    // A sound input that stalls is reported once, in the status bar, and
    // silence stands in for it so that the pictures go on.
    void WatchSound(GstElement* audioQueue, const std::string& deviceName) {
        const std::string note = "声音输入“" + deviceName + "”超过 2 秒没有送来声音，录相继续，这一段没有声音";
        const PadPtr queueOutput(gst_element_get_static_pad(audioQueue, "src"));
        soundWatch = std::make_unique<SoundGapFiller>(pipeline.get(), queueOutput.get(), kSoundStallLimit, [this, note] {
            std::function<void(const GraphError&)> report;
            {
                std::lock_guard lock(busMutex);
                report = errorHandler;
            }
            if (report) report(GraphError{note, true, true});
        });
    }

    // ------------------------------------------------------------ streaming threads

    static GstPadProbeReturn OnRecordedFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<GstGraph*>(data);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
            const auto end = static_cast<int64_t>(GST_BUFFER_PTS(buffer) +
                                                  (GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0));
            int64_t unset = -1;
            self->firstRecordedTime.compare_exchange_strong(unset, static_cast<int64_t>(GST_BUFFER_PTS(buffer)));
            self->lastRecordedTime.store(end);
        }
        return GST_PAD_PROBE_OK;
    }

    static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data) {
        auto* self = static_cast<GstGraph*>(data);
        SamplePtr sample(gst_app_sink_pull_sample(sink));
        if (sample) self->HandleFrame(sample.get());
        return GST_FLOW_OK;
    }

    void HandleFrame(GstSample* sample) {
        GstCaps* caps = gst_sample_get_caps(sample);
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (!caps || !buffer) return;
        if (caps != cachedCaps.get()) {
            GstVideoInfo info;
            if (!gst_video_info_from_caps(&info, caps)) return;
            cachedCaps.reset(gst_caps_ref(caps));
            frameInfo = info;
            std::lock_guard lock(busMutex);
            negotiated = {GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info)};
            formatKnown = true;
            busCv.notify_all();
        }
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
        const double time = GST_BUFFER_PTS_IS_VALID(buffer)
                                ? static_cast<double>(GST_BUFFER_PTS(buffer)) / GST_SECOND
                                : 0.0;
        grabber->Deliver(time, map.data, GST_VIDEO_INFO_PLANE_STRIDE(&frameInfo, 0), GST_VIDEO_INFO_HEIGHT(&frameInfo));
        {
            std::lock_guard lock(windowMutex);
            if (window)
                window->PresentFrame(VideoFrame{map.data, GST_VIDEO_INFO_WIDTH(&frameInfo),
                                                GST_VIDEO_INFO_HEIGHT(&frameInfo),
                                                GST_VIDEO_INFO_PLANE_STRIDE(&frameInfo, 0)});
        }
        gst_buffer_unmap(buffer, &map);
    }

    static GstPadProbeReturn OnRecordingFrame(GstPad*, GstPadProbeInfo*, gpointer data) {
        static_cast<GstGraph*>(data)->framesOffered.fetch_add(1);
        return GST_PAD_PROBE_OK;
    }

    static GstPadProbeReturn OnFileData(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<GstGraph*>(data);
        if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) {
            if (self->bytesToFile.fetch_add(gst_buffer_get_size(buffer)) == 0) {
                std::lock_guard lock(self->busMutex);
                self->busCv.notify_all();
            }
        }
        return GST_PAD_PROBE_OK;
    }

    // A sync handler that drops a message owns it; the message holds its
    // source, and through that the whole pipeline.
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
        const MessagePtr dropped(message);
        static_cast<GstGraph*>(data)->HandleBusMessage(message);
        return GST_BUS_DROP;
    }

    void HandleBusMessage(GstMessage* message) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            std::lock_guard lock(busMutex);
            eosSeen = true;
            busCv.notify_all();
            return;
        }
        if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR) return;

        GError* parsed = nullptr;
        gst_message_parse_error(message, &parsed, nullptr);
        const ErrorPtr err(parsed);
        std::string reason = err && err->message ? err->message : "unknown error";
        const bool fromFile = fileSink && GST_MESSAGE_SRC(message) == GST_OBJECT(fileSink);
        if (fromFile) {
            reason = "writing \"" + (recording ? recording->path : std::string()) + "\" failed: " + reason;
            fileSinkFailed.store(true);
        }

        std::function<void(const GraphError&)> report;
        {
            std::lock_guard lock(busMutex);
            if (!pipelineFailed) lastError = reason;  // the first failure is the cause
            pipelineFailed = true;
            if (awaitingRecording) {
                if (recordingError.empty()) recordingError = reason;
            } else if (controllingThread.load() != std::this_thread::get_id() && !errorReported) {
                errorReported = true;
                report = errorHandler;
            }
            busCv.notify_all();
        }
        if (report) report(GraphError{reason, IsRecordingElement(GST_MESSAGE_SRC(message))});
    }

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

HRESULT GstGrabber::GetConnectedMediaType(ConnectedVideoFormat& format) {
    return graph ? graph->WaitForFormat(format) : E_FAIL;
}

class GstCaptureBuilder : public ICaptureGraphBuilder2 {
public:
    HRESULT SetFiltergraph(IGraphBuilder* g) override {
        graph = dynamic_cast<GstGraph*>(g);
        return graph ? S_OK : E_NOINTERFACE;
    }
    HRESULT RenderStream(PinCategory category, MediaType type, const FilterPtr& source,
                         const FilterPtr& intermediate, const FilterPtr& sink) override {
        if (!graph) return E_FAIL;
        if (category == PinCategory::Preview)
            return type == MediaType::Video && !sink ? graph->RenderPreview(source, intermediate) : E_FAIL;
        return graph->RenderCapture(type, source, intermediate, sink);
    }
    HRESULT SetOutputFileName(const std::string& path, FilterPtr& multiplexer) override {
        return graph ? graph->SetOutput(path, multiplexer) : E_FAIL;
    }
    HRESULT ConfirmRecordingStarted(std::string& error) override {
        return graph ? graph->ConfirmRecordingStarted(error) : E_FAIL;
    }
    HRESULT FinishRecording(std::string& error) override {
        return graph ? graph->FinishRecording(error) : S_OK;
    }
    bool HasRecording() const override { return graph && graph->HasRecording(); }
    bool GetRecordingProgress(RecordingProgress& progress) const override {
        return graph && graph->GetRecordingProgress(progress);
    }

private:
    GstGraph* graph = nullptr;
};

class GstCapturePlatform : public ICapturePlatform {
public:
    HRESULT CreateDeviceEnumerator(std::unique_ptr<ICreateDevEnum>& enumerator) override {
        enumerator = MakeDeviceEnumerator();
        return S_OK;
    }
    HRESULT CreateFilterGraph(std::unique_ptr<IGraphBuilder>& graph) override {
        graph = std::make_unique<GstGraph>();
        return S_OK;
    }
    HRESULT CreateCaptureGraphBuilder(std::unique_ptr<ICaptureGraphBuilder2>& builder) override {
        builder = std::make_unique<GstCaptureBuilder>();
        return S_OK;
    }
    HRESULT CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) override {
        grabber = std::make_shared<GstGrabber>();
        return S_OK;
    }
};

}  // namespace

unsigned long long FramesOfferedToRecording() {
    std::lock_guard lock(liveGraphsMutex);
    unsigned long long total = 0;
    for (GstGraph* graph : liveGraphs) total += graph->framesOffered.load();
    return total;
}

void SimulateSourceFailure() {
    std::lock_guard lock(liveGraphsMutex);
    for (GstGraph* graph : liveGraphs) graph->SimulateSourceFailure();
}

}  // namespace lumora::gst

std::unique_ptr<ICapturePlatform> CreateDefaultCapturePlatform() {
    lumora::gst::EnsureInitialised();
    return std::make_unique<lumora::gst::GstCapturePlatform>();
}

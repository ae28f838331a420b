// How the graph builds its GstPipeline from what was rendered into it:
//
//   source -> [decoder] -> tee -> queue -> convert -> BGR -> appsink (grabber, video window)
//                              -> queue -> convert -> [compressor | I420] ---------> avimux -> fdsink
//   audio source -> queue -> convert -> resample -> [compressor | S16LE] --------------^
//
// The preview queue leaks, so a slow grabber (a photo being written) never
// holds up the recording. The bus is handled synchronously on the posting
// thread; nothing needs a GLib main loop.

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "capture/gst/GstGraph.h"

namespace lumora::gst {

namespace {

// A sound input that sends nothing for longer than this is reported.
constexpr GstClockTime kSoundStallLimit = 2 * GST_SECOND;

}  // namespace

// The first pad downstream of a source: where an end of stream is sent in,
// which works whether or not the source itself still runs.
void GstGraph::RememberEntryPad(GstElement* source) {
    PadPtr src(gst_element_get_static_pad(source, "src"));
    if (!src) return;
    if (PadPtr peer{gst_pad_get_peer(src.get())}) eosEntryPads.push_back(std::move(peer));
}

std::set<GstElement*> GstGraph::Children(GstBin* bin) {
    std::set<GstElement*> children;
    GST_OBJECT_LOCK(bin);
    for (GList* item = GST_BIN_CHILDREN(bin); item; item = item->next)
        children.insert(GST_ELEMENT(item->data));
    GST_OBJECT_UNLOCK(bin);
    return children;
}

GstElement* GstGraph::Add(GstBin* bin, const char* factory, std::string& error) {
    GstElement* element = MakeElement(factory, error);
    if (element) gst_bin_add(bin, element);
    return element;
}

bool GstGraph::Link(GstElement* a, GstElement* b, std::string& error) {
    if (gst_element_link(a, b)) return true;
    error = std::string("cannot connect ") + GST_ELEMENT_NAME(a) + " to " + GST_ELEMENT_NAME(b);
    return false;
}

void GstGraph::SetCaps(GstElement* capsfilter, CapsPtr caps) {
    g_object_set(capsfilter, "caps", caps.get(), nullptr);
}

bool GstGraph::BuildPipeline(std::string& error) {
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
bool GstGraph::CompressInto(GstBin* bin, GstElement* upstream, const GstFilter* compressor, CapsPtr rawCaps,
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

bool GstGraph::BuildRecording(GstBin* bin, GstElement* tee, std::string& error) {
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
void GstGraph::WatchSound(GstElement* audioQueue, const std::string& deviceName) {
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

}  // namespace lumora::gst

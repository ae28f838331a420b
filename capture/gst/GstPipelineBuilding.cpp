// How a graph's GstPipeline is built from what was rendered into it:
//
//   source -> [jpegdec] -> tee -> queue -> convert -> BGRx -> appsink (grabber, video window)
//                              (or: queue -> convert+scale -> ximagesink, see NativeDisplay.h)
//                              -> queue -> convert -> [compressor | I420] ---------> avimux -> fdsink
//   audio source -> queue -> convert -> resample -> [compressor | S16LE] --------------^
//
// A camera that sends JPEG frames, recorded with the JPEG encoder, has its
// frames stored as they come rather than decoded and encoded again:
//
//   source -> tee -> queue -> jpegdec -> convert -> BGRx -> appsink
//              -> queue -> jpegparse -> avimux
//
// The preview queue leaks, so a slow grabber (a photo being written) never
// holds up the recording. The bus is handled synchronously on the posting
// thread; nothing needs a GLib main loop.

#include <gst/app/gstappsink.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "capture/gst/FrameDelivery.h"
#include "capture/gst/PipelineBuilder.h"

namespace lumora::gst {

namespace {

// A sound input that sends nothing for longer than this is reported.
constexpr GstClockTime kSoundStallLimit = 2 * GST_SECOND;

void SetCaps(GstElement* capsfilter, CapsPtr caps) { g_object_set(capsfilter, "caps", caps.get(), nullptr); }

std::atomic<bool> jpegPassThrough{true};  // off only for benchmarks that compare

// A camera lends its frames from a small pool (a PipeWire camera's holds a
// handful and does not copy when it runs dry). The pictures waiting in the
// recording's queue, seconds of them while a compressor catches up, would
// keep the whole pool and the camera would stop: they wait as copies.
GstPadProbeReturn CopyPooledFrames(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || !buffer->pool) return GST_PAD_PROBE_OK;
    GstBuffer* copy = gst_buffer_copy_deep(buffer);
    gst_buffer_unref(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = copy;
    return GST_PAD_PROBE_OK;
}

bool RecordsCameraJpeg(const RecordingBranch* recording) {
    return jpegPassThrough.load() && recording && recording->videoCompressor &&
           recording->videoCompressor->FactoryName() == "jpegenc";
}

}  // namespace

void SetJpegPassThrough(bool enabled) { jpegPassThrough.store(enabled); }

void BuiltPipeline::Detach() {
    for (auto& [pad, id] : probes) gst_pad_remove_probe(pad.get(), id);
    probes.clear();
    if (appSink) DetachAppSink(appSink);
    display.Hold();  // a pipeline left streaming draws no more
    if (pipeline) DetachBus(pipeline.get());
}

std::vector<std::string> BuiltPipeline::ElementFactories() const {
    std::vector<std::string> names;
    if (!pipeline) return names;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline.get()));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        if (GstElementFactory* factory = gst_element_get_factory(element))
            names.emplace_back(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return names;
}

GstElement* PipelineBuilder::Add(const char* factory, std::string& error) {
    GstElement* element = MakeElement(factory, error);
    if (element) gst_bin_add(bin, element);
    return element;
}

bool PipelineBuilder::Link(GstElement* a, GstElement* b, std::string& error) {
    if (gst_element_link(a, b)) return true;
    error = std::string("cannot connect ") + GST_ELEMENT_NAME(a) + " to " + GST_ELEMENT_NAME(b);
    return false;
}

std::set<GstElement*> PipelineBuilder::Children() const {
    std::set<GstElement*> children;
    GST_OBJECT_LOCK(bin);
    for (GList* item = GST_BIN_CHILDREN(bin); item; item = item->next) children.insert(GST_ELEMENT(item->data));
    GST_OBJECT_UNLOCK(bin);
    return children;
}

// The first pad downstream of a source: where an end of stream is sent in,
// which works whether or not the source itself still runs.
void PipelineBuilder::RememberEntryPad(GstElement* source) {
    PadPtr src(gst_element_get_static_pad(source, "src"));
    if (!src) return;
    if (PadPtr peer{gst_pad_get_peer(src.get())}) built.eosEntryPads.push_back(std::move(peer));
}

void PipelineBuilder::Probe(GstElement* element, const char* padName, ProbeKind kind) {
    PadPtr pad(gst_element_get_static_pad(element, padName));
    const gulong id = AttachProbe(pad.get(), kind, gate);
    built.probes.emplace_back(std::move(pad), id);
}

bool PipelineBuilder::Build(const GstFilter& videoSource, const RecordingBranch* recording, std::string& error) {
    built.pipeline = AdoptFloating(gst_pipeline_new("lumora-capture"));
    built.cameraName = videoSource.Describe();
    // One clock for pictures and sound, and not a sound card's: a sound
    // input's clock can stand still while the device stalls, which would
    // hold every picture that waits on it.
    const ObjectPtr<GstClock> systemClock(gst_system_clock_obtain());
    gst_pipeline_use_clock(GST_PIPELINE(built.pipeline.get()), systemClock.get());
    bin = GST_BIN(built.pipeline.get());
    AttachBus(built.pipeline.get(), gate);

    const bool wantJpeg = RecordsCameraJpeg(recording);
    bool deliversJpeg = false;
    GstElement *first = nullptr, *last = nullptr;
    if (!videoSource.AddSourceChain(bin, first, last, wantJpeg, deliversJpeg, error)) return false;
    built.videoSource = first;
    built.sourceElements = Children();
    built.jpegPassThrough = wantJpeg && deliversJpeg;
    if (deliversJpeg && !built.jpegPassThrough) {
        // Decoded once, for the preview and the recording alike.
        GstElement* decoder = Add("jpegdec", error);
        if (!decoder || !Link(last, decoder, error)) return false;
        last = decoder;
    }
    GstElement* tee = Add("tee", error);
    if (!tee || !Link(last, tee, error)) return false;
    RememberEntryPad(first);
    if (!AddPreview(tee, built.jpegPassThrough, error)) return false;
    if (!recording) return true;

    const std::set<GstElement*> previewElements = Children();
    const bool added = AddRecording(tee, *recording, error);
    for (GstElement* element : Children())
        if (!previewElements.count(element)) built.recordingElements.insert(element);
    return added;
}

bool PipelineBuilder::AddPreview(GstElement* tee, bool decodeJpeg, std::string& error) {
    GstElement* queue = Add("queue", error);
    GstElement* decoder = decodeJpeg ? Add("jpegdec", error) : nullptr;
    if (!queue || (decodeJpeg && !decoder)) return false;
    g_object_set(queue, "leaky", 2 /* downstream */, "max-size-buffers", 3, "max-size-bytes", 0,
                 "max-size-time", static_cast<guint64>(0), nullptr);
    if (!Link(tee, queue, error)) return false;
    GstElement* upstream = queue;
    if (decoder) {
        if (!Link(queue, decoder, error)) return false;
        upstream = decoder;
    }
    if (!nativeDisplay) return AddPaintedPreview(upstream, error);
    Probe(upstream, "src", ProbeKind::PreviewInput);
    if (!built.display.Build(bin, upstream, error)) return false;
    Probe(built.display.sink, "sink", ProbeKind::PreviewDrawn);
    return true;
}

// upstream -> convert -> BGRx -> appsink: pictures the toolkit paints.
bool PipelineBuilder::AddPaintedPreview(GstElement* upstream, std::string& error) {
    GstElement* convert = Add("videoconvert", error);
    GstElement* layout = Add("capsfilter", error);
    GstElement* sink = Add("appsink", error);
    if (!convert || !layout || !sink) return false;
    SetCaps(layout,
            CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, PreviewPixelFormat(), nullptr)));
    g_object_set(sink, "sync", FALSE, "max-buffers", 2, "drop", TRUE, nullptr);
    gst_app_sink_set_caps(GST_APP_SINK(sink), nullptr);
    AttachAppSink(sink, gate);
    built.appSink = sink;
    return Link(upstream, convert, error) && Link(convert, layout, error) && Link(layout, sink, error);
}

bool PipelineBuilder::AddRecording(GstElement* tee, const RecordingBranch& recording, std::string& error) {
    GstElement* mux = Add("avimux", error);
    GstElement* file = Add("fdsink", error);
    GstElement* queue = Add("queue", error);
    if (!mux || !file || !queue) return false;
    // Every build starts the file afresh, as opening it anew would. The
    // sink seeks on the descriptor for the multiplexer's final header.
    const int fd = recording.file ? recording.file->Get() : -1;
    if (::lseek(fd, 0, SEEK_SET) != 0 || ::ftruncate(fd, 0) != 0) {
        error = "cannot record to \"" + recording.path + "\": " + std::strerror(errno);
        return false;
    }
    g_object_set(file, "fd", fd, "async", FALSE, nullptr);
    // Room for a few seconds of pictures while a compressor catches up.
    // Beyond that the recording loses pictures rather than ever holding
    // up the preview (the tee feeds both).
    g_object_set(queue, "leaky", 2 /* downstream */, "max-size-buffers", 0, "max-size-bytes", 0,
                 "max-size-time", static_cast<guint64>(3 * GST_SECOND), nullptr);
    built.fileSink = file;
    built.recordingPath = recording.path;
    Probe(queue, "sink", ProbeKind::RecordingInput);
    const PadPtr queueInput(gst_element_get_static_pad(queue, "sink"));
    gst_pad_add_probe(queueInput.get(), GST_PAD_PROBE_TYPE_BUFFER, &CopyPooledFrames, nullptr, nullptr);
    Probe(queue, "src", ProbeKind::RecordingOutput);
    Probe(file, "sink", ProbeKind::FileInput);

    if (!Link(tee, queue, error)) return false;
    if (built.jpegPassThrough) {
        GstElement* parse = Add("jpegparse", error);
        if (!parse || !Link(queue, parse, error)) return false;
        if (!gst_element_link(parse, mux)) {
            error = "the camera's JPEG frames cannot go into an AVI file";
            return false;
        }
    } else {
        GstElement* convert = Add("videoconvert", error);
        if (!convert || !Link(queue, convert, error)) return false;
        // Uncompressed video: planar YUV, which every AVI player reads.
        if (!CompressInto(convert, recording.videoCompressor.get(),
                          CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr)),
                          mux, "video", error))
            return false;
    }
    if (recording.audioRendered && recording.audioSource && !AddSound(mux, recording, error)) return false;
    return Link(mux, file, error);
}

// upstream -> (compressor, or a caps filter for `rawCaps`) -> mux.
bool PipelineBuilder::CompressInto(GstElement* upstream, const GstFilter* compressor, CapsPtr rawCaps,
                                   GstElement* mux, const char* kind, std::string& error) {
    GstElement *first = nullptr, *last = nullptr;
    if (compressor) {
        if (!compressor->AddChain(bin, first, last, error)) return false;
    } else {
        first = last = Add("capsfilter", error);
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

// A sound input that stalls is reported once, in the status bar, and
// silence stands in for it so that the pictures go on.
bool PipelineBuilder::AddSound(GstElement* mux, const RecordingBranch& recording, std::string& error) {
    GstElement *first = nullptr, *last = nullptr;
    if (!recording.audioSource->AddChain(bin, first, last, error)) return false;
    GstElement* queue = Add("queue", error);
    GstElement* convert = Add("audioconvert", error);
    GstElement* resample = Add("audioresample", error);
    if (!queue || !convert || !resample) return false;
    if (!Link(last, queue, error) || !Link(queue, convert, error) || !Link(convert, resample, error)) return false;

    const std::string note =
        "声音输入“" + recording.audioSource->Describe() + "”超过 2 秒没有送来声音，录相继续，这一段没有声音";
    const PadPtr queueOutput(gst_element_get_static_pad(queue, "src"));
    built.soundWatch = std::make_shared<SoundGapFiller>(
        built.pipeline.get(), queueOutput.get(), kSoundStallLimit,
        [gate = gate, note] { gate->Enter([&](StreamingReceiver& graph) { graph.SoundStalled(note); }); });

    CapsPtr raw(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", nullptr));
    if (!CompressInto(resample, recording.audioCompressor.get(), std::move(raw), mux, "audio", error)) return false;
    RememberEntryPad(first);
    return true;
}

}  // namespace lumora::gst

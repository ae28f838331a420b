// How a graph's GstPipeline is built: the camera and its preview.
//
//   source -> [jpegdec] -> tee -> queue -> convert -> BGRx -> appsink (grabber, video window)
//                              (or: queue -> convert+scale -> ximagesink, or
//                               queue -> convert -> waylandsink, see NativeDisplay.h)
//                              (recordings join here, see RecordingBin.h)
//
// A camera that sends JPEG frames, recorded with the JPEG encoder, has its
// frames stored as they come rather than decoded and encoded again; the
// preview then decodes them after the tee:
//
//   source -> tee -> queue -> jpegdec -> convert -> BGRx -> appsink
//
// The preview queue leaks, so a slow grabber (a photo being written) never
// holds up a recording. The bus is handled synchronously on the posting
// thread; nothing needs a GLib main loop.

#include <gst/app/gstappsink.h>

#include "capture/gst/FrameDelivery.h"
#include "capture/gst/PipelineBuilder.h"

namespace lumora::gst {

namespace {

// The camera runs in the mode it was opened in for the pipeline's life. A
// branch that joins, or a window that changes the preview's size, asks
// upstream for a new format; a camera that answered would restart its
// stream (a PipeWire camera frees the frames still on their way) and the
// picture would blink. The converters after the tee do that work instead.
GstPadProbeReturn KeepCameraFormat(GstPad*, GstPadProbeInfo* info, gpointer) {
    return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_RECONFIGURE ? GST_PAD_PROBE_DROP
                                                                                   : GST_PAD_PROBE_OK;
}

// A camera that agrees on a format and sends nothing is told from one
// that streams by this.
GstPadProbeReturn NotePicture(GstPad*, GstPadProbeInfo*, gpointer sent) {
    (*static_cast<std::shared_ptr<std::atomic<bool>>*>(sent))->store(true, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

std::string PipeWireNodeOf(GstElement* source) {
    gchar* target = nullptr;
    g_object_get(source, "target-object", &target, nullptr);
    const TextPtr held(target);
    return target ? target : "";
}

}  // namespace

void BuiltPipeline::Detach() {
    probes.RemoveAll();
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

std::set<GstElement*> PipelineBuilder::Children() const {
    std::set<GstElement*> children;
    GST_OBJECT_LOCK(bin);
    for (GList* item = GST_BIN_CHILDREN(bin); item; item = item->next) children.insert(GST_ELEMENT(item->data));
    GST_OBJECT_UNLOCK(bin);
    return children;
}

void PipelineBuilder::Probe(GstElement* element, const char* padName, ProbeKind kind) {
    built.probes.Add(element, padName, kind, gate);
}

Status PipelineBuilder::Build(const GstFilter& videoSource, bool keepJpeg) {
    built.pipeline = AdoptFloating(gst_pipeline_new("lumora-capture"));
    built.cameraName = videoSource.Describe();
    // One clock for pictures and sound, and not a sound card's: a sound
    // input's clock can stand still while the device stalls, which would
    // hold every picture that waits on it.
    const ObjectPtr<GstClock> systemClock(gst_system_clock_obtain());
    gst_pipeline_use_clock(GST_PIPELINE(built.pipeline.get()), systemClock.get());
    bin = GST_BIN(built.pipeline.get());
    AttachBus(built.pipeline.get(), gate);

    Result<ElementChain> camera = videoSource.AddSourceChain(bin, keepJpeg);
    if (!camera.ok()) return Fail(camera.error());
    GstElement* first = camera.value().first;
    GstElement* last = camera.value().last;
    const bool deliversJpeg = camera.value().deliversJpeg;
    built.videoSource = first;
    built.sourceElements = Children();
    // A PipeWire stream's frames are its mapped buffers, gone with the stream
    // (JPEG frames decoded before the tee are the decoder's own).
    const GstElementFactory* factory = gst_element_get_factory(first);
    built.cameraLendsMemory = factory && std::string(GST_OBJECT_NAME(factory)) == "pipewiresrc";
    if (built.cameraLendsMemory) built.pipewireNode = PipeWireNodeOf(first);
    built.teeCarriesJpeg = keepJpeg && deliversJpeg;
    if (deliversJpeg && !built.teeCarriesJpeg) {
        // Decoded once, for the preview and the recording alike.
        Result<GstElement*> decoder = Add("jpegdec");
        if (!decoder.ok()) return Fail(decoder.error());
        if (Status linked = LinkElements(last, decoder.value()); !linked.ok()) return linked;
        last = decoder.value();
        built.cameraLendsMemory = false;
    }
    const PadPtr cameraOutput(gst_element_get_static_pad(last, "src"));
    gst_pad_add_probe(cameraOutput.get(), GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, &KeepCameraFormat, nullptr, nullptr);
    gst_pad_add_probe(cameraOutput.get(), GST_PAD_PROBE_TYPE_BUFFER, &NotePicture,
                      new std::shared_ptr<std::atomic<bool>>(built.pictureSent),
                      [](gpointer sent) { delete static_cast<std::shared_ptr<std::atomic<bool>>*>(sent); });
    Result<GstElement*> tee = Add("tee");
    if (!tee.ok()) return Fail(tee.error());
    built.tee = tee.value();
    if (Status linked = LinkElements(last, built.tee); !linked.ok()) return linked;
    return AddPreview(built.tee, built.teeCarriesJpeg);
}

Status PipelineBuilder::AddPreview(GstElement* tee, bool decodeJpeg) {
    Result<GstElement*> queue = Add("queue");
    Result<GstElement*> decoder = decodeJpeg ? Add("jpegdec") : Result<GstElement*>(nullptr);
    if (!decoder.ok()) return Fail(decoder.error());
    if (!queue.ok()) return Fail(queue.error());
    g_object_set(queue.value(), "leaky", 2 /* downstream */, "max-size-buffers", 3, "max-size-bytes", 0,
                 "max-size-time", static_cast<guint64>(0), nullptr);
    if (Status linked = LinkElements(tee, queue.value()); !linked.ok()) return linked;
    GstElement* upstream = queue.value();
    if (decodeJpeg) {
        if (Status linked = LinkElements(queue.value(), decoder.value()); !linked.ok()) return linked;
        upstream = decoder.value();
    }
    if (nativeDisplay.system == NativeVideoWindows::System::None) return AddPaintedPreview(upstream);
    Probe(upstream, "src", ProbeKind::PreviewInput);
    if (Status shown = built.display.Build(bin, upstream, nativeDisplay); !shown.ok()) return shown;
    Probe(built.display.sink, "sink", ProbeKind::PreviewDrawn);
    return Ok();
}

// upstream -> convert -> BGRx -> appsink: pictures the toolkit paints.
Status PipelineBuilder::AddPaintedPreview(GstElement* upstream) {
    Result<std::array<GstElement*, 3>> made = AddElements(bin, {"videoconvert", "capsfilter", "appsink"});
    if (!made.ok()) return Fail(made.error());
    const auto [convert, layout, sink] = made.value();
    const CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, PreviewPixelFormat(), nullptr));
    g_object_set(layout, "caps", caps.get(), nullptr);
    g_object_set(sink, "sync", FALSE, "max-buffers", 2, "drop", TRUE, nullptr);
    gst_app_sink_set_caps(GST_APP_SINK(sink), nullptr);
    AttachAppSink(sink, gate);
    built.appSink = sink;
    return LinkChain({upstream, convert, layout, sink});
}

}  // namespace lumora::gst

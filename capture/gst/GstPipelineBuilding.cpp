// How a graph's GstPipeline is built: the camera and its preview.
//
//   source -> [jpegdec] -> turn -> tee -> queue -> [decoder] -> convert -> BGRx -> appsink (grabber, video window)
//                      (or: queue -> [decoder] -> mirror -> convert+scale -> ximagesink, or
//                       queue -> [decoder] -> mirror -> convert -> waylandsink, see NativeDisplay.h)
//                      (recordings join at the tee, see RecordingBin.h)
//
// A camera that sends JPEG frames has them carried by the tee as they come:
// the preview decodes them at about the size it shows them (see
// ScaledJpegDecoder.h), and a recording stores them as they are (with the
// JPEG encoder) or decodes its own copy. Only a turned camera's frames are
// decoded before the tee, once for all, since JPEG frames cannot be turned.
//
// The turn (a videoflip, PictureFlip.h) passes its pictures through while
// the camera is not turned. The preview's mirror is the native sink's
// videoflip, after the grabber's pictures are taken; the painted preview is
// mirrored by the view as it paints, which costs nothing more.
//
// The preview queue leaks, so a slow grabber (a photo being written) never
// holds up a recording. The bus is handled synchronously on the posting
// thread; nothing needs a GLib main loop.

#include <gst/app/gstappsink.h>

#include <chrono>

#include "capture/gst/DamagedFrames.h"
#include "capture/gst/FrameDelivery.h"
#include "capture/gst/PictureFlip.h"
#include "capture/gst/PictureSizeCheck.h"
#include "capture/gst/PipelineBuilder.h"
#include "capture/gst/PlatformMessages.h"
#include "capture/gst/ScaledJpegDecoder.h"

namespace lumora::gst {

namespace {

// Frames that keep coming with none of them decodable for this long are
// the camera's failure.
constexpr auto kUndecodableLimit = std::chrono::seconds(3);

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
// that streams by this, and one that stops sending (CameraWatch.h).
struct PictureFlags {
    std::shared_ptr<std::atomic<bool>> sent, seen;
};

GstPadProbeReturn NotePicture(GstPad*, GstPadProbeInfo*, gpointer data) {
    const auto* flags = static_cast<const PictureFlags*>(data);
    flags->sent->store(true, std::memory_order_relaxed);
    flags->seen->store(true, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

// PipeWire's source (1.4) gives the pictures of a producer that sends no
// times one and the same time. A picture whose time does not move on from
// the one before carries none, so that it is timed as it reaches the
// recording, as those of a source that gives no times are (RecordingBin).
GstPadProbeReturn ForgetStandingTimes(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& last = *static_cast<GstClockTime*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    const GstClockTime time = GST_BUFFER_PTS(buffer);
    const bool standing = GST_CLOCK_TIME_IS_VALID(last) && time <= last;
    last = time;
    if (!standing) return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

// A camera started again inside the running pipeline begins a new stream;
// what follows its chain goes on with the old one (the same segment of
// running time), so a recording's picture rate fills the gap rather than
// counting afresh. Caps that did not change are not told again either: they
// would have the converters after the tee start over. The events are taken
// as handled: a sticky event only dropped would be sent again before the
// next picture.
GstPadProbeReturn Swallowed(GstPadProbeInfo* info) {
    gst_event_unref(GST_PAD_PROBE_INFO_EVENT(info));
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    return GST_PAD_PROBE_HANDLED;
}

GstPadProbeReturn HideCameraRestart(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& resuming = **static_cast<std::shared_ptr<std::atomic<bool>>*>(data);
    if (!resuming.load()) return GST_PAD_PROBE_OK;
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_STREAM_START: return Swallowed(info);
        case GST_EVENT_SEGMENT:
            resuming.store(false);  // the last event before its pictures
            return Swallowed(info);
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            const PadPtr peer(gst_pad_get_peer(pad));
            const CapsPtr current(peer ? gst_pad_get_current_caps(peer.get()) : nullptr);
            return current && caps && gst_caps_is_equal(current.get(), caps) ? Swallowed(info) : GST_PAD_PROBE_OK;
        }
        default: return GST_PAD_PROBE_OK;
    }
}

void DeleteFlag(gpointer flag) { delete static_cast<std::shared_ptr<std::atomic<bool>>*>(flag); }

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

Status PipelineBuilder::Build(const GstFilter& videoSource, const PictureOrientation& orientation) {
    built.pipeline = AdoptFloating(gst_pipeline_new("lumora-capture"));
    built.cameraName = videoSource.Describe();
    // One clock for pictures and sound, and not a sound card's: a sound
    // input's clock can stand still while the device stalls, which would
    // hold every picture that waits on it.
    const ObjectPtr<GstClock> systemClock(gst_system_clock_obtain());
    gst_pipeline_use_clock(GST_PIPELINE(built.pipeline.get()), systemClock.get());
    bin = GST_BIN(built.pipeline.get());
    AttachBus(built.pipeline.get(), gate);

    Result<ElementChain> camera = videoSource.AddSourceChain(bin, true);
    if (!camera.ok()) return Fail(camera.error());
    GstElement* first = camera.value().first;
    GstElement* last = camera.value().last;
    built.videoSource = first;
    built.sourceElements = Children();
    built.cameraChain.elements = {first};
    for (GstElement* element : built.sourceElements)
        if (element != first) built.cameraChain.elements.push_back(element);
    // A PipeWire stream's frames are its mapped buffers, gone with the
    // stream: PipeWire's element (0.3.65) frees them under whatever still
    // holds one when its node goes away (a camera program that ends while
    // the preview's queue or a window holds its last pictures), and the
    // heap is corrupted when they are let go. So it hands on copies; where
    // it cannot, the recording copies what it keeps (JPEG frames decoded
    // before the tee are the decoder's own).
    const GstElementFactory* factory = gst_element_get_factory(first);
    if (factory && std::string(GST_OBJECT_NAME(factory)) == "pipewiresrc") {
        built.pipewireNode = PipeWireNodeOf(first);
        const bool copies = g_object_class_find_property(G_OBJECT_GET_CLASS(first), "always-copy");
        if (copies) g_object_set(first, "always-copy", TRUE, nullptr);
        built.cameraLendsMemory = !copies;
        const PadPtr times(gst_element_get_static_pad(first, "src"));
        gst_pad_add_probe(times.get(), GST_PAD_PROBE_TYPE_BUFFER, &ForgetStandingTimes,
                          new GstClockTime(GST_CLOCK_TIME_NONE),
                          [](gpointer last) { delete static_cast<GstClockTime*>(last); });
    }
    built.cameraChain.pipewireNode = built.pipewireNode;
    built.teeCarriesJpeg = camera.value().deliversJpeg && orientation.rotation == 0;
    // Damaged frames are the decoder's to judge (DamagedFrames.h): a camera
    // that sends them is not one that stopped.
    const PadPtr cameraFrames(gst_element_get_static_pad(last, "src"));
    CheckPictureSizes(cameraFrames.get(), first);
    gst_pad_add_probe(cameraFrames.get(), GST_PAD_PROBE_TYPE_BUFFER, &NotePicture,
                      new PictureFlags{built.pictureSent, built.pictureSeen},
                      [](gpointer flags) { delete static_cast<PictureFlags*>(flags); });
    if (camera.value().deliversJpeg && !built.teeCarriesJpeg) {
        Result<GstElement*> decoder = Add("jpegdec");
        if (!decoder.ok()) return Fail(decoder.error());
        if (Status linked = LinkElements(last, decoder.value()); !linked.ok()) return linked;
        last = decoder.value();
        built.cameraLendsMemory = false;
        WatchForUndecodableRun(last, kUndecodableLimit, messages::CameraPicturesUndecodable(built.cameraName));
    }
    const PadPtr cameraOutput(gst_element_get_static_pad(last, "src"));
    gst_pad_add_probe(cameraOutput.get(), GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, &KeepCameraFormat, nullptr, nullptr);
    gst_pad_add_probe(cameraOutput.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &HideCameraRestart,
                      new std::shared_ptr<std::atomic<bool>>(built.cameraChain.resuming), &DeleteFlag);
    if (!built.teeCarriesJpeg) {
        Result<GstElement*> turned = AddTurn(last, orientation.rotation);
        if (!turned.ok()) return Fail(turned.error());
        last = turned.value();
    }
    Result<GstElement*> tee = Add("tee");
    if (!tee.ok()) return Fail(tee.error());
    built.tee = tee.value();
    if (Status linked = LinkElements(last, built.tee); !linked.ok()) return linked;
    return AddPreview(built.tee, built.teeCarriesJpeg, orientation.mirrored);
}

// A layout videoflip takes gets a turn in passthrough for a later change; one
// it may not take is converted for it only when it is to be turned now (the
// converter passes through what the turn takes).
Result<GstElement*> PipelineBuilder::AddTurn(GstElement* last, int32_t rotation) {
    const bool takes = FlipTakesEvery(last);
    if (!takes && rotation == 0) return last;
    if (!takes) {
        Result<GstElement*> convert = Add("videoconvert");
        if (!convert.ok()) return Fail(convert.error());
        if (Status linked = LinkElements(last, convert.value()); !linked.ok()) return Fail(linked.error());
        last = convert.value();
    }
    Result<GstElement*> flip = AddFlip(bin, TurnDirection(rotation));
    if (!flip.ok()) return flip;
    if (Status linked = LinkElements(last, flip.value()); !linked.ok()) return Fail(linked.error());
    built.turn = flip.value();
    return flip;
}

Status PipelineBuilder::AddPreview(GstElement* tee, bool decodeJpeg, bool mirrored) {
    Result<GstElement*> queue = Add("queue");
    if (!queue.ok()) return Fail(queue.error());
    g_object_set(queue.value(), "leaky", 2 /* downstream */, "max-size-buffers", 3, "max-size-bytes", 0,
                 "max-size-time", static_cast<guint64>(0), nullptr);
    if (Status linked = LinkElements(tee, queue.value()); !linked.ok()) return linked;
    GstElement* upstream = queue.value();
    if (decodeJpeg) {
        Result<GstElement*> decoder = AddScaledDecoder();
        if (!decoder.ok()) return Fail(decoder.error());
        if (Status linked = LinkElements(queue.value(), decoder.value()); !linked.ok()) return linked;
        upstream = decoder.value();
    }
    if (nativeDisplay.system == NativeVideoWindows::System::None) return AddPaintedPreview(upstream);
    Probe(upstream, "src", ProbeKind::PreviewInput);
    if (Status shown = built.display.Build(bin, upstream, nativeDisplay, mirrored); !shown.ok()) return shown;
    Probe(built.display.sink, "sink", ProbeKind::PreviewDrawn);
    return Ok();
}

// The grabber's whole pictures come through the gate, as every call into
// the graph does.
Result<GstElement*> PipelineBuilder::AddScaledDecoder() {
    built.decodeScale = std::make_shared<PreviewDecodeScale>();
    WholePictureTaker taker;
    taker.wanted = [gate = gate] {
        bool wanted = false;
        gate->Enter([&](StreamingReceiver& graph) { wanted = graph.GrabberWantsPicture(); });
        return wanted;
    };
    taker.take = [gate = gate](double seconds, const VideoFrame& frame) {
        gate->Enter([&](StreamingReceiver& graph) { graph.GrabberPicture(seconds, frame); });
    };
    Result<GstElement*> decoder = MakeScaledJpegDecoder(built.decodeScale, std::move(taker));
    if (!decoder.ok()) return decoder;
    gst_bin_add(bin, decoder.value());
    WatchForUndecodableRun(decoder.value(), kUndecodableLimit, messages::CameraPicturesUndecodable(built.cameraName));
    return decoder;
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

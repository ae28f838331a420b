// What the streaming threads tell the graph -- pictures, the recording's
// buffers, bus messages, a camera gone -- and how they reach it: every
// callback enters through the pipeline's gate.

#include <gst/app/gstappsink.h>
#include <gst/video/videooverlay.h>

#include <cerrno>

#include "base/SystemErrorText.h"
#include "capture/gst/GstGraph.h"
#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

gpointer GateRef(const GatePtr& gate) { return new GatePtr(gate); }
void DropGateRef(gpointer data) { delete static_cast<GatePtr*>(data); }
CallbackGate& GateOf(gpointer data) { return **static_cast<GatePtr*>(data); }

// A sync handler that drops a message owns it; the message holds its
// source, and through that the whole pipeline.
GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    const MessagePtr dropped(message);
    GateOf(data).Enter([&](StreamingReceiver& graph) { graph.BusMessage(message); });
    return GST_BUS_DROP;
}

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data) {
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    if (sample) GateOf(data).Enter([&](StreamingReceiver& graph) { graph.Sample(sample.get()); });
    return GST_FLOW_OK;
}

struct ProbeData {
    GatePtr gate;
    ProbeKind kind;
};

GstPadProbeReturn OnStreamBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* probe = static_cast<ProbeData*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
            probe->gate->Enter([&](StreamingReceiver& graph) { graph.RecordingEnded(); });
            return GST_PAD_PROBE_OK;
        }
        GstCaps* caps = nullptr;
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) gst_event_parse_caps(event, &caps);
        if (caps) probe->gate->Enter([&](StreamingReceiver& graph) { graph.PreviewFormat(caps); });
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    probe->gate->Enter([&](StreamingReceiver& graph) { graph.StreamBuffer(probe->kind, buffer); });
    return GST_PAD_PROBE_OK;
}

// The library's errors name its own workings ("Failed to allocate required
// memory." for a driver that refused to start streaming): what the user
// sees is whether the camera ever sent a picture.
messages::CameraFault CameraFaultOf(const GError* err, bool pictureSent) {
    if (err && err->domain == GST_STREAM_ERROR) return messages::CameraFault::PicturesUnusable;
    return pictureSent ? messages::CameraFault::StoppedSending : messages::CameraFault::NeverSent;
}

}  // namespace

void AttachBus(GstElement* pipeline, const GatePtr& gate) {
    BusPtr bus(gst_element_get_bus(pipeline));
    gst_bus_set_sync_handler(bus.get(), &OnBusMessage, GateRef(gate), &DropGateRef);
}

void DetachBus(GstElement* pipeline) {
    BusPtr bus(gst_element_get_bus(pipeline));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

void AttachAppSink(GstElement* appSink, const GatePtr& gate) {
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(appSink), &callbacks, GateRef(gate), &DropGateRef);
}

void DetachAppSink(GstElement* appSink) {
    GstAppSinkCallbacks none{};
    gst_app_sink_set_callbacks(GST_APP_SINK(appSink), &none, nullptr, nullptr);
}

gulong AttachProbe(GstPad* pad, ProbeKind kind, const GatePtr& gate) {
    // The pictures on their way to the window's own sink: their format too;
    // the file's input: its end.
    const bool events = kind == ProbeKind::PreviewInput || kind == ProbeKind::FileInput;
    const auto types = events ? static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM)
                              : GST_PAD_PROBE_TYPE_BUFFER;
    return gst_pad_add_probe(pad, types, &OnStreamBuffer, new ProbeData{gate, kind},
                             [](gpointer data) { delete static_cast<ProbeData*>(data); });
}

void ProbeList::Add(GstElement* element, const char* padName, ProbeKind kind, const GatePtr& gate) {
    GstPad* pad = gst_element_get_static_pad(element, padName);
    if (pad) probes.emplace_back(pad, AttachProbe(pad, kind, gate));
}

void ProbeList::RemoveAll() {
    for (auto& [pad, id] : probes) {
        gst_pad_remove_probe(pad, id);
        gst_object_unref(pad);
    }
    probes.clear();
}

// ------------------------------------------------------------ the graph's side

void GstGraph::Sample(GstSample* sample) { frames.Deliver(sample, grabber.get(), bus); }

void GstGraph::PreviewFormat(GstCaps* caps) { frames.NoteFormat(caps, bus); }

void GstGraph::StreamBuffer(ProbeKind kind, GstBuffer* buffer) {
    switch (kind) {
        case ProbeKind::PreviewInput: frames.DeliverToGrabber(buffer, grabber.get()); break;
        case ProbeKind::PreviewDrawn: frames.FrameDrawn(); break;
        case ProbeKind::RecordingInput: meter.framesOffered.fetch_add(1); break;
        case ProbeKind::RecordingOutput: meter.Recorded(buffer); break;
        case ProbeKind::FileInput:
            if (meter.Written(buffer)) bus.Wake();
            break;
    }
}

void GstGraph::BusMessage(GstMessage* message) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        bus.EndOfStream();
        return;
    }
    // A sink that needs a window (after its window was let go) gets the
    // view's at once, so that it never opens one of its own.
    if (gst_is_video_overlay_prepare_window_handle_message(message)) {
        if (const uint64_t window = nativeWindow.load())
            gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(GST_MESSAGE_SRC(message)),
                                                static_cast<guintptr>(window));
        return;
    }
    // A source whose latency changed (a camera's longer exposure, a sound
    // server's new buffer size): the pipeline works its latency out again,
    // off the streaming thread, so that its sinks wait as long as they must.
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_LATENCY) {
        if (built)
            gst_element_call_async(
                built->pipeline.get(), [](GstElement* pipeline, gpointer) { gst_bin_recalculate_latency(GST_BIN(pipeline)); },
                nullptr, nullptr);
        return;
    }
    // The recording's sound chain measures its input while it records.
    if (SoundLevel level; ReadLevelMessage(message, level)) {
        bus.Level(level);
        return;
    }
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR || !built) return;

    GError* parsed = nullptr;
    gst_message_parse_error(message, &parsed, nullptr);
    const ErrorPtr err(parsed);
    std::string reason = err && err->message ? err->message : messages::UnknownError();
    auto* from = reinterpret_cast<GstElement*>(GST_MESSAGE_SRC(message));
    if (GST_IS_ELEMENT(from) && SoundInputLost(from)) return;
    bool fromFile = false, diskFull = false;
    std::string path;
    const bool fromRecording = GST_IS_ELEMENT(from) && InBranch(from, fromFile, path);
    if (fromFile) {
        // The library's own words for a full disk are English.
        diskFull = err && err->domain == GST_RESOURCE_ERROR && err->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT;
        reason = messages::WriteFailed(path, diskFull ? SystemErrorText(ENOSPC) : reason);
        meter.fileSinkFailed.store(true);
    } else if (built->sourceElements.count(from)) {
        // A driver answers a second program's streaming with EBUSY; the
        // user needs to know which camera, and that another program has it.
        const bool busy = err && err->domain == GST_RESOURCE_ERROR && err->code == GST_RESOURCE_ERROR_BUSY;
        reason = busy ? messages::CameraBusy(built->cameraName)
                      : messages::CameraFailed(built->cameraName, CameraFaultOf(err.get(), *built->pictureSent), reason);
    }
    bus.Fail(reason, fromRecording, PipelineWorker::OnStateChangeThread(), diskFull);
}

// The camera the pipeline runs from was unplugged.
void GstGraph::SourceRemoved() {
    if (!running.load() || !built) return;
    bus.Fail(messages::CameraUnplugged(built->cameraName), false, false);
}

GstElement* GstGraph::VideoSourceElement() const { return built ? built->videoSource : nullptr; }

std::vector<std::string> GstGraph::ElementFactories() const {
    return built ? built->ElementFactories() : std::vector<std::string>{};
}

}  // namespace lumora::gst

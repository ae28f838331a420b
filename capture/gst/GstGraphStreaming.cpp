// The graph's side of the streaming threads: pictures for the grabber and
// the video window, the recording's pad probes and the bus messages; and
// the video window itself.

#include <cstring>
#include <thread>

#include "capture/gst/GstGraph.h"

namespace lumora::gst {

// Streaming thread. The pipeline gives rows top-down; the callback gets
// them bottom-up, as a bitmap stores them -- laid out only when wanted.
void GstGrabber::Deliver(double time, const uint8_t* topDown, int32_t stride, int32_t height) {
    ISampleGrabberCB* cb = callback.load();
    if (!cb || !cb->WantsBuffer()) return;
    const std::size_t rowBytes = static_cast<std::size_t>(stride);
    bitmap.resize(rowBytes * static_cast<std::size_t>(height));
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(&bitmap[rowBytes * (height - 1 - row)], topDown + rowBytes * row, rowBytes);
    cb->BufferCB(time, bitmap.data(), static_cast<int32_t>(bitmap.size()));
}

HRESULT GstGrabber::GetConnectedMediaType(ConnectedVideoFormat& format) {
    return graph ? graph->WaitForFormat(format) : E_FAIL;
}

// ------------------------------------------------------------ streaming threads

GstPadProbeReturn GstGraph::OnRecordedFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
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

GstFlowReturn GstGraph::OnNewSample(GstAppSink* sink, gpointer data) {
    auto* self = static_cast<GstGraph*>(data);
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    if (sample) self->HandleFrame(sample.get());
    return GST_FLOW_OK;
}

void GstGraph::HandleFrame(GstSample* sample) {
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

GstPadProbeReturn GstGraph::OnRecordingFrame(GstPad*, GstPadProbeInfo*, gpointer data) {
    static_cast<GstGraph*>(data)->framesOffered.fetch_add(1);
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn GstGraph::OnFileData(GstPad*, GstPadProbeInfo* info, gpointer data) {
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
GstBusSyncReply GstGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    const MessagePtr dropped(message);
    static_cast<GstGraph*>(data)->HandleBusMessage(message);
    return GST_BUS_DROP;
}

void GstGraph::HandleBusMessage(GstMessage* message) {
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

// ------------------------------------------------------------ IGraphVideoWindow

HRESULT GstGraph::PutOwner(IOwnerWindow* newOwner) {
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

HRESULT GstGraph::PutVisible(bool visible) {
    IVideoWindow* child = CurrentWindow();
    if (!child) return E_FAIL;
    child->SetVisible(visible);
    return S_OK;
}

HRESULT GstGraph::SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) {
    IVideoWindow* child = CurrentWindow();
    if (!child) return E_FAIL;
    child->SetWindowPosition(left, top, width, height);
    return S_OK;
}

IVideoWindow* GstGraph::CurrentWindow() {
    std::lock_guard lock(windowMutex);
    return window;
}

// Tests: a failure of the video source, as a camera that goes away gives.
void GstGraph::SimulateSourceFailure() {
    if (!pipeline || !videoSourceElement) return;
    ErrorPtr err(g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                     "The video device was disconnected."));
    gst_element_post_message(videoSourceElement,
                             gst_message_new_error(GST_OBJECT(videoSourceElement), err.get(), "simulated"));
}

}  // namespace lumora::gst

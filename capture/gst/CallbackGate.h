#pragma once
// The one way GStreamer's threads call into a graph: through a gate that
// the graph closes before it lets go of a pipeline. Closing waits for the
// calls under way, and none gets through after it -- also from a pipeline
// that was abandoned while it still streams.

#include <gst/gst.h>

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "capture/VideoWindow.h"

namespace lumora::gst {

enum class ProbeKind {
    RecordingInput, RecordingOutput,
    FileInput,     // what reaches the recording's file, and its end of stream
    PreviewInput,  // a picture on its way to the video window's own sink
    PreviewDrawn,  // a picture that sink draws
};

// What the streaming threads tell the graph.
class StreamingReceiver {
public:
    virtual void BusMessage(GstMessage* message) = 0;
    virtual void Sample(GstSample* sample) = 0;
    virtual void PreviewFormat(GstCaps* caps) = 0;
    virtual void StreamBuffer(ProbeKind kind, GstBuffer* buffer) = 0;
    // The grabber asks for a picture, and gets it whole (see ScaledJpegDecoder.h).
    virtual bool GrabberWantsPicture() = 0;
    virtual void GrabberPicture(double seconds, const VideoFrame& frame) = 0;
    virtual void SoundStalled(const std::string& note) = 0;
    // The camera watch's word (CameraWatch.h): `note` for the user when the
    // camera was started again, else why it failed.
    virtual void CameraStalled(const std::string& note, bool restarted) = 0;
    virtual void RecordingEnded() = 0;
    // The recording's disk holds little more than its index (RecordingRoom.h).
    virtual void RecordingRoomRanOut() = 0;
    virtual void SourceRemoved() = 0;

protected:
    ~StreamingReceiver() = default;
};

class CallbackGate {
public:
    void Open(StreamingReceiver* target) {
        std::unique_lock lock(mutex);
        receiver = target;
    }
    void Close() {
        std::unique_lock lock(mutex);
        receiver = nullptr;
    }
    template <typename F>
    void Enter(F&& call) {
        std::shared_lock lock(mutex);
        if (receiver) call(*receiver);
    }

private:
    std::shared_mutex mutex;
    StreamingReceiver* receiver = nullptr;
};

using GatePtr = std::shared_ptr<CallbackGate>;

// Each registration holds the gate until GStreamer lets go of it.
void AttachBus(GstElement* pipeline, const GatePtr& gate);
void DetachBus(GstElement* pipeline);
void AttachAppSink(GstElement* appSink, const GatePtr& gate);
void DetachAppSink(GstElement* appSink);
gulong AttachProbe(GstPad* pad, ProbeKind kind, const GatePtr& gate);

// Probes attached through a gate, taken off together.
class ProbeList {
public:
    ProbeList() = default;
    ~ProbeList() { RemoveAll(); }
    ProbeList(ProbeList&& other) noexcept : probes(std::move(other.probes)) { other.probes.clear(); }
    ProbeList& operator=(ProbeList&& other) noexcept {
        RemoveAll();
        probes.swap(other.probes);
        return *this;
    }
    void Add(GstElement* element, const char* padName, ProbeKind kind, const GatePtr& gate);
    void RemoveAll();

private:
    std::vector<std::pair<GstPad*, gulong>> probes;  // each pad held by a reference
};

}  // namespace lumora::gst

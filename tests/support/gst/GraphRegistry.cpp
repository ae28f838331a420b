// The graphs alive, in the order they were made, as the platform's graph
// observer sees them, and the hooks of GstTesting.h that reach them.

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/gst/GstGraph.h"
#include "capture/gst/PlatformSeams.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/support/gst/TestSupport.h"

namespace lumora::gst {

namespace {

std::mutex liveGraphsMutex;
std::vector<GstGraph*> liveGraphs;
std::atomic<bool> jpegPassThrough{true};

class LiveGraphs : public GraphObserver {
public:
    void GraphMade(GstGraph& graph) override {
        graph.KeepCameraJpeg(jpegPassThrough.load());
        std::lock_guard lock(liveGraphsMutex);
        liveGraphs.push_back(&graph);
    }
    void GraphGone(GstGraph& graph) override {
        std::lock_guard lock(liveGraphsMutex);
        liveGraphs.erase(std::remove(liveGraphs.begin(), liveGraphs.end(), &graph), liveGraphs.end());
    }
};

// A failure of the video source, as a camera that goes away gives.
void FailVideoSource(GstGraph& graph) {
    GstElement* source = graph.VideoSourceElement();
    if (!source) return;
    ErrorPtr err(g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                     "The video device was disconnected."));
    gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), err.get(), "simulated"));
}

}  // namespace

void WatchLiveGraphs() { SetGraphObserver(std::make_shared<LiveGraphs>()); }

void SetJpegPassThrough(bool enabled) { jpegPassThrough.store(enabled); }

unsigned long long FramesOfferedToRecording() {
    std::lock_guard lock(liveGraphsMutex);
    unsigned long long total = 0;
    for (GstGraph* graph : liveGraphs) total += graph->FramesOffered();
    return total;
}

void SimulateSourceFailure() {
    std::lock_guard lock(liveGraphsMutex);
    for (GstGraph* graph : liveGraphs) FailVideoSource(*graph);
}

void SimulateCameraRemoval() {
    std::lock_guard lock(liveGraphsMutex);
    for (GstGraph* graph : liveGraphs) graph->CameraUnplugged();
}

std::vector<std::string> RunningGraphElementFactories() {
    std::lock_guard lock(liveGraphsMutex);
    return liveGraphs.empty() ? std::vector<std::string>{} : liveGraphs.back()->ElementFactories();
}

std::string LatestGraphError() {
    std::lock_guard lock(liveGraphsMutex);
    return liveGraphs.empty() ? std::string() : liveGraphs.back()->LastFailureReason();
}

double LatestRecordingSeconds() {
    std::lock_guard lock(liveGraphsMutex);
    return liveGraphs.empty() ? 0.0 : liveGraphs.back()->RecordedSeconds();
}

}  // namespace lumora::gst

// The graphs alive, in the order they were made, and the test hooks that
// reach them.

#include <algorithm>
#include <mutex>
#include <vector>

#include "capture/gst/GstGraph.h"
#include "capture/gst/GstTesting.h"

namespace lumora::gst {

namespace {
std::mutex liveGraphsMutex;
std::vector<GstGraph*> liveGraphs;
}  // namespace

void AddLiveGraph(GstGraph* graph) {
    std::lock_guard lock(liveGraphsMutex);
    liveGraphs.push_back(graph);
}

void RemoveLiveGraph(GstGraph* graph) {
    std::lock_guard lock(liveGraphsMutex);
    liveGraphs.erase(std::remove(liveGraphs.begin(), liveGraphs.end(), graph), liveGraphs.end());
}

unsigned long long FramesOfferedToRecording() {
    std::lock_guard lock(liveGraphsMutex);
    unsigned long long total = 0;
    for (GstGraph* graph : liveGraphs) total += graph->FramesOffered();
    return total;
}

void SimulateSourceFailure() {
    std::lock_guard lock(liveGraphsMutex);
    for (GstGraph* graph : liveGraphs) graph->SimulateSourceFailure();
}

void SimulateCameraRemoval() {
    std::lock_guard lock(liveGraphsMutex);
    for (GstGraph* graph : liveGraphs) graph->SimulateSourceRemoval();
}

std::vector<std::string> RunningGraphElementFactories() {
    std::lock_guard lock(liveGraphsMutex);
    return liveGraphs.empty() ? std::vector<std::string>{} : liveGraphs.back()->ElementFactories();
}

std::string LatestGraphError() {
    std::lock_guard lock(liveGraphsMutex);
    return liveGraphs.empty() ? std::string() : liveGraphs.back()->LastError();
}

double LatestRecordingSeconds() {
    std::lock_guard lock(liveGraphsMutex);
    return liveGraphs.empty() ? 0.0 : liveGraphs.back()->RecordedSeconds();
}

int PipelinesBeingAbandoned() { return AbandonedPipelinesAlive(); }

}  // namespace lumora::gst

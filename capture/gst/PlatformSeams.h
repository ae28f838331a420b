#pragma once
// Where a process that embeds the platform (a tool, a benchmark) can add to
// it: devices of its own, observers of the graphs, camera controls for its
// own elements, and a hook before each pipeline start. The program sets
// none of them. Each is process-wide and is best set before the platform
// starts (from a static initialiser, say).

#include <gst/gst.h>

#include <functional>
#include <memory>

#include "capture/CameraControls.h"

namespace lumora::gst {

class GstGraph;

// How the simulated devices of LUMORA_TEST_SOURCES=1 get into GStreamer's
// registry. By default the plugins in gst-plugins/ beside the executable
// (a build tree's development plugins) are added to it; `load` replaces
// that. Run once, right after gst_init, before any device monitor starts.
void SetSimulatedDeviceLoader(std::function<void()> load);

// Told of every graph the platform makes, and of its end: GraphMade once it
// is made, GraphGone as its destruction begins (the graph is whole in both).
class GraphObserver {
public:
    virtual ~GraphObserver() = default;
    virtual void GraphMade(GstGraph& graph) = 0;
    virtual void GraphGone(GstGraph& graph) = 0;
};
void SetGraphObserver(std::shared_ptr<GraphObserver> observer);
std::shared_ptr<GraphObserver> CurrentGraphObserver();

// The controls of a camera element the provider knows; nullptr for others.
// `device`, the monitor's device behind the element, may be null.
using CameraControlsProvider =
    std::function<std::unique_ptr<ICameraControls>(GstElement* source, GstDevice* device)>;
// Asked, the latest first, before the platform's own (a V4L2 node's
// controls, else a colour balance's).
void AddCameraControlsProvider(CameraControlsProvider provider);

// Runs on a pipeline's worker thread before each start of that pipeline
// (to PLAYING); may block, as a device that is slow to open does.
void SetPipelineStartHook(std::function<void()> hook);

}  // namespace lumora::gst

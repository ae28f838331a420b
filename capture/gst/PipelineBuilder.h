#pragma once
// The GstPipeline of a graph: the camera and its preview, built once per
// build of the graph and kept while it lives (recordings join it as
// branches, see RecordingBin.h); and what the graph keeps of it.

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "capture/gst/CallbackGate.h"
#include "capture/gst/CameraWatch.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/NativeDisplay.h"
#include "capture/gst/ScaledJpegDecoder.h"

namespace lumora::gst {

struct BuiltPipeline {
    ElementPtr pipeline;
    std::string cameraName;
    GstElement* appSink = nullptr;    // the preview's pictures for the toolkit to paint, or
    NativeDisplay display;             // the sink that draws them into the window itself
    GstElement* videoSource = nullptr;  // the camera's own element
    GstElement* tee = nullptr;          // where recordings join
    // The videoflip before the tee that turns every picture (see
    // PictureFlip.h); null where the tee carries the camera's JPEG frames,
    // or a layout videoflip cannot take was not to be turned.
    GstElement* turn = nullptr;
    // Streaming threads read this; it never changes while the pipeline lives.
    std::set<GstElement*> sourceElements;
    ProbeList probes;
    bool teeCarriesJpeg = false;  // the camera's JPEG frames, as they come
    // The size the preview's JPEG decoder reduces to (null: no JPEG camera).
    std::shared_ptr<PreviewDecodeScale> decodeScale;
    bool cameraLendsMemory = false;  // its frames are the camera's own mapped buffers
    std::string pipewireNode;  // the PipeWire node the camera streams from ("": none)
    // Set by the first picture that leaves the camera; cleared for each start.
    std::shared_ptr<std::atomic<bool>> pictureSent = std::make_shared<std::atomic<bool>>(false);
    // Set by every picture, cleared by the camera watch that looks at it.
    std::shared_ptr<std::atomic<bool>> pictureSeen = std::make_shared<std::atomic<bool>>(false);
    // What a restart of the camera takes down and starts again (CameraWatch.h).
    CameraChain cameraChain;

    // Takes off every callback into the graph (bus, appsink, pad probes).
    void Detach();
    // The element factories in the pipeline, for the tests.
    std::vector<std::string> ElementFactories() const;
};

// How the pictures are turned (all of them) and shown (the preview).
struct PictureOrientation {
    int32_t rotation = 0;  // degrees clockwise
    bool mirrored = false;
};

class PipelineBuilder {
public:
    // `nativeDisplay`: the windows the platform's own sink draws the
    // preview into (System::None: the toolkit paints it).
    PipelineBuilder(BuiltPipeline& out, GatePtr gate, NativeVideoWindows nativeDisplay)
        : built(out), gate(std::move(gate)), nativeDisplay(nativeDisplay) {}
    // A JPEG camera's frames reach the tee undecoded, unless they are turned.
    Status Build(const GstFilter& videoSource, const PictureOrientation& orientation);

private:
    Result<GstElement*> Add(const char* factory) { return AddElement(bin, factory); }
    // What leaves `last` turned, before the tee; the element that ends the chain.
    Result<GstElement*> AddTurn(GstElement* last, int32_t rotation);
    Status AddPreview(GstElement* tee, bool decodeJpeg, bool mirrored);
    Status AddPaintedPreview(GstElement* upstream);
    Result<GstElement*> AddScaledDecoder();
    void Probe(GstElement* element, const char* pad, ProbeKind kind);
    std::set<GstElement*> Children() const;

    BuiltPipeline& built;
    GatePtr gate;
    NativeVideoWindows nativeDisplay;
    GstBin* bin = nullptr;
};

}  // namespace lumora::gst

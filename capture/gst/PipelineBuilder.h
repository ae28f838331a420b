#pragma once
// The GstPipeline of a graph, built from what was rendered into it, and
// what the graph keeps of it while it runs.

#include <gst/gst.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "capture/gst/CallbackGate.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/NativeDisplay.h"
#include "capture/gst/SoundGapFiller.h"
#include "base/FileWriting.h"

namespace lumora::gst {

// The multiplexer and file writer of a recording.
class MuxFilter : public IBaseFilter {
public:
    explicit MuxFilter(std::string p) : path(std::move(p)) {}
    std::string path;
};

struct RecordingBranch {
    std::string path;
    // What the file sink writes to; shared so that an abandoned pipeline
    // keeps it open (its number never reaches another file) until it is gone.
    std::shared_ptr<UniqueFd> file;
    std::shared_ptr<GstFilter> videoSource, videoCompressor, audioSource, audioCompressor;
    bool videoRendered = false;
    bool audioRendered = false;
};

struct BuiltPipeline {
    ElementPtr pipeline;
    std::string cameraName;
    std::string recordingPath;
    GstElement* appSink = nullptr;    // the preview's pictures for the toolkit to paint, or
    NativeDisplay display;             // the sink that draws them into the window itself
    GstElement* fileSink = nullptr;
    GstElement* videoSource = nullptr;  // the camera's own element
    // Streaming threads read these; they change only while nothing streams.
    std::set<GstElement*> sourceElements;
    std::set<GstElement*> recordingElements;
    std::vector<PadPtr> eosEntryPads;
    std::vector<std::pair<PadPtr, gulong>> probes;
    std::shared_ptr<SoundGapFiller> soundWatch;
    bool jpegPassThrough = false;  // the camera's JPEG frames are recorded as they are

    // Takes off every callback into the graph (bus, appsink, pad probes).
    void Detach();
    // The element factories in the pipeline, for the tests.
    std::vector<std::string> ElementFactories() const;
};

class PipelineBuilder {
public:
    // `nativeDisplay`: the preview is drawn by the platform's own sink.
    PipelineBuilder(BuiltPipeline& out, GatePtr gate, bool nativeDisplay)
        : built(out), gate(std::move(gate)), nativeDisplay(nativeDisplay) {}
    // `recording` may be null (a preview only). false with `error` set on failure.
    bool Build(const GstFilter& videoSource, const RecordingBranch* recording, std::string& error);

private:
    GstElement* Add(const char* factory, std::string& error);
    static bool Link(GstElement* a, GstElement* b, std::string& error);
    bool AddPreview(GstElement* tee, bool decodeJpeg, std::string& error);
    bool AddPaintedPreview(GstElement* upstream, std::string& error);
    bool AddRecording(GstElement* tee, const RecordingBranch& recording, std::string& error);
    bool AddSound(GstElement* mux, const RecordingBranch& recording, std::string& error);
    bool CompressInto(GstElement* upstream, const GstFilter* compressor, CapsPtr rawCaps, GstElement* mux,
                      const char* kind, std::string& error);
    void Probe(GstElement* element, const char* pad, ProbeKind kind);
    void RememberEntryPad(GstElement* source);
    std::set<GstElement*> Children() const;

    BuiltPipeline& built;
    GatePtr gate;
    bool nativeDisplay;
    GstBin* bin = nullptr;
};

}  // namespace lumora::gst

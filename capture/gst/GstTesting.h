#pragma once
// Test and benchmark hooks of the GStreamer platform (no GStreamer types, so tests need
// not include GStreamer).

#include <optional>
#include <string>
#include <vector>

namespace lumora::gst {

// Makes the video source of every running graph report a failure, as a
// camera that is unplugged does.
void SimulateSourceFailure();

// Makes every running graph hear that the device of its video source was
// unplugged (as the device watch tells it).
void SimulateCameraRemoval();

// The next start of a pipeline blocks this long on the thread that changes
// its state, as a camera that hangs while it opens.
void DelayPipelineStart(double seconds);

// Pipelines given up because their device hung, not yet taken down.
int PipelinesBeingAbandoned();

// The element factories ("videotestsrc", "jpegenc"...) of the latest
// graph's pipeline; empty when it has none.
std::vector<std::string> RunningGraphElementFactories();

// Why the latest graph's latest operation or run failed ("" if none did).
std::string LatestGraphError();

// The picture of "Lumora Test Pattern" from the next build on (640 x 480 at
// 30 frames/s unless changed).
void SetTestPatternFormat(int width, int height, int framesPerSecond);

// "Lumora Test Tone" delivers far slower than real time while stalled, as
// a sound device that hangs.
void StallTestTone(bool stalled);

// Frames that entered the recording branch of the latest graph's recording
// (for comparing with the frames the file got).
unsigned long long FramesOfferedToRecording();

// At the very end of a run under the leaks tracer (GST_TRACERS=leaks): the
// pipelines, elements, pads and messages still alive, one line each; then
// GStreamer is shut down for good. Empty when GStreamer never started;
// nullopt when it runs without the leaks tracer.
std::optional<std::vector<std::string>> LiveObjectsAtShutdown();

}  // namespace lumora::gst

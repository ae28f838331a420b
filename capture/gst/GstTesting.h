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

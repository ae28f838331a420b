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

// "Lumora Test Pattern" goes away as an unplugged camera does: it leaves
// the listings, device-change handlers hear of it, and a camera running
// fails with a read error. Replugging brings it back.
void UnplugTestCamera();
void ReplugTestCamera();

// While set, "Lumora Test Pattern" delivers no first frame, as a camera
// that never starts; a graph waiting for it can still be stopped.
void StallTestCameraStart(bool stalled);

// The modes "Lumora Test Pattern" offers ("1920x1080@30/1:I420", as
// VideoModeToText writes them; raw layouts YUY2, NV12, I420 or MJPEG) from
// the next listing on; Reset brings back the webcam's list.
void SetTestCameraModes(const std::vector<std::string>& modes);
void ResetTestCameraModes();

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

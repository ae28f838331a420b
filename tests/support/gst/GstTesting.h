#pragma once
// Test and benchmark hooks of the GStreamer platform, from the test support
// library that fills the platform's seams (no GStreamer types, so tests need
// not include GStreamer).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ICameraControls;

namespace lumora::gst {

// The settings offered for a camera whose element is a fresh one of
// `factory` with no device behind it (an element with a colour balance,
// say); nullptr when no such element can be made.
std::unique_ptr<ICameraControls> CameraControlsOfElement(const std::string& factory);

// Makes the video source of every running graph report a failure, as a
// camera that is unplugged does.
void SimulateSourceFailure();

// The device watch starts again (once nothing holds it), and sees the
// sound servers that run now.
void RestartDeviceWatch();

// "Lumora Test Pattern" goes away as an unplugged camera does: it leaves
// the listings, device-change handlers hear of it, and a camera running
// fails with a read error. Replugging brings it back.
void UnplugTestCamera();
void ReplugTestCamera();

// While set, "Lumora Test Pattern" delivers no first frame, as a camera
// that never starts; a graph waiting for it can still be stopped.
void StallTestCameraStart(bool stalled);

// "Lumora Test Pattern" running now sends no more pictures until it is
// started again, as a camera whose driver hangs until it is reopened.
void FreezeTestCamera();

// The modes "Lumora Test Pattern" offers ("1920x1080@30/1:I420", as
// VideoModeToText writes them; raw layouts YUY2, NV12, I420 or MJPEG) from
// the next listing on; Reset brings back the webcam's list.
void SetTestCameraModes(const std::vector<std::string>& modes);

// How often "Lumora Test Pattern" was opened (a camera element taken from
// nothing to ready) and started streaming, since the process began.
struct TestCameraUse {
    unsigned opened = 0;
    unsigned started = 0;
};
TestCameraUse TestCameraUseCounts();

// "Lumora Test Pattern" takes `seconds` longer per frame than one frame
// from its next frame on, and tells its pipeline so (a latency message).
void SetTestCameraLatency(double seconds);
// The latency events its pipelines sent it, since the process began.
unsigned TestCameraLatencyEvents();

// The frames "Lumora Test Pattern" sends in the mode it ran in last (it
// cycles through them), as bytes: JPEG files in its MJPEG modes.
std::vector<std::vector<uint8_t>> TestCameraFrames();
void ResetTestCameraModes();

// The picture "Lumora Test Pattern" shows from its next start on, as
// videotestsrc names its patterns: "ball" (a ball moving on black, the
// default) or a still one such as "smpte" (colour bars, grey at the left,
// blue at the right, other bars below: no two corners alike).
void SetTestCameraPattern(const std::string& pattern);
// The chroma sampling of its JPEG frames from its next start on, as the raw
// layout they are encoded from: "I420" (4:2:0, the default), "Y42B" (4:2:2,
// as a USB webcam's), "Y444" or "GRAY8".
void SetTestCameraJpegSampling(const std::string& layout);
// Its next `count` frames (-1: all until called with 0) are damaged, as a
// webcam's under bandwidth pressure: a JPEG start marker, then random bytes.
void DamageTestCameraFrames(int count);
// How many damaged frames it has still to send (-1: no end).
int DamagedTestCameraFramesLeft();

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

// The time span of the pictures the latest graph's latest recording got,
// by their timestamps (also after the recording was finished).
double LatestRecordingSeconds();

// Why the latest graph's latest operation or run failed ("" if none did).
std::string LatestGraphError();

// Whether a JPEG camera's frames are recorded as they come when the JPEG
// compressor is chosen (on unless a benchmark compares).
void SetJpegPassThrough(bool enabled);

// "Lumora Test Tone" delivers far slower than real time while stalled, as
// a sound device that hangs.
void StallTestTone(bool stalled);
// The test tone fails from its next buffer on, as a sound input whose
// device is gone for good: it reports an error and sends nothing more.
void FailTestTone(bool failed);
// The test tone's crystal runs `error` (0.01: 1 %) fast, as a sound card's
// own does against the system's clock: it hands on that many more samples
// per second than its rate says. Set before the tone starts.
void SetTestToneRateError(double error);

// Frames that entered the recording branch of the latest graph's recording
// (for comparing with the frames the file got).
unsigned long long FramesOfferedToRecording();

// At the very end of a run under the leaks tracer (GST_TRACERS=leaks): the
// pipelines, elements, pads and messages still alive, one line each; then
// GStreamer is shut down for good. Empty when GStreamer never started;
// nullopt when it runs without the leaks tracer.
std::optional<std::vector<std::string>> LiveObjectsAtShutdown();

}  // namespace lumora::gst

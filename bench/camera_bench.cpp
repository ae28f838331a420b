// The simulated camera at 1920x1080 and 30 frames/s in its JPEG mode, as
// webcams send that size: what the preview costs, and the preview with a
// recording beside it, the camera's JPEG frames kept as sent or decoded and
// compressed again. CPU seconds per 300 frames, and the frames lost.

#include <cmath>
#include <thread>

#include "bench/BenchSupport.h"
#include "capture/gst/GstCapturePlatform.h"
#include "tests/support/gst/GstTesting.h"
#include "settings/SettingsFile.h"
#include "tests/AviReader.h"

namespace bench {

namespace {

constexpr int kFrames = 300;
constexpr double kFramesPerSecond = 30.0;
const VideoMode kMode{1920, 1080, 30, 1, "MJPEG"};

bool BuildCamera(CCaptureSession& session, CountingOwner& owner, const std::string& compressor) {
    CaptureChoice choice;
    choice.videoMode = kMode;
    choice.sound = CaptureChoice::Sound::None;  // the picture's cost alone
    session.SetCaptureChoice(choice);
    return BuildTestPattern(session, owner, compressor);
}

bool WaitForFrames(const CountingOwner& owner, int target, double limitSeconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(limitSeconds);
    while (owner.frames.load() < target && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return owner.frames.load() >= target;
}

struct Measured {
    double cpuPerFrames = 0;  // CPU seconds per kFrames shown
    long previewLost = 0;     // frames the camera sent in the time that the view did not get
};

// The CPU the process spends while the view gets kFrames frames.
Measured MeasurePreview(const CountingOwner& owner) {
    WaitForFrames(owner, owner.frames.load() + 10, 5);
    const int startFrames = owner.frames.load();
    const double startCpu = OwnCpuSeconds();
    const auto start = Clock::now();
    WaitForFrames(owner, startFrames + kFrames, kFrames / kFramesPerSecond + 5);
    const double wall = Seconds(Clock::now() - start);
    const int shown = owner.frames.load() - startFrames;
    Measured measured;
    measured.cpuPerFrames = (OwnCpuSeconds() - startCpu) * kFrames / std::max(shown, 1);
    measured.previewLost = std::max(0L, std::lround(wall * kFramesPerSecond) - shown);
    return measured;
}

void BenchPreviewOnly() {
    CCaptureSession session{CreateGstCapturePlatform()};
    CountingOwner owner;
    const std::string label = "camera 1920x1080@30 MJPEG: preview, CPU per 300 frames";
    if (!BuildCamera(session, owner, "")) {
        table.push_back({label, "build failed", "", ""});
        return;
    }
    const Measured measured = MeasurePreview(owner);
    session.TearDown();
    table.push_back({label, Format("%.2f s", measured.cpuPerFrames), "",
                     "lost " + std::to_string(measured.previewLost)});
}

void BenchPreviewAndRecording(const std::filesystem::path& folder, bool keepCameraJpeg) {
    const std::filesystem::path file = folder / "camera.avi";
    StorePath(settings.videoFilePath, file.string());
    lumora::gst::SetJpegPassThrough(keepCameraJpeg);
    CCaptureSession session{CreateGstCapturePlatform()};
    CountingOwner owner;
    std::string message;
    session.SetMessageHandler([&](const std::string& text) { message = text; });
    const std::string label = std::string("camera 1920x1080@30 MJPEG: preview + recording, JPEG ") +
                              (keepCameraJpeg ? "kept as sent" : "decoded and compressed again");
    if (!BuildCamera(session, owner, "JPEG image encoder") || !session.StartRecording()) {
        table.push_back({label, "failed: " + message, "", ""});
        lumora::gst::SetJpegPassThrough(true);
        return;
    }
    const Measured measured = MeasurePreview(owner);
    session.Stop();
    const double span = lumora::gst::LatestRecordingSeconds();
    session.TearDown();
    lumora::gst::SetJpegPassThrough(true);
    const AviInfo avi = ReadAvi(file.string());
    const long sent = std::lround(span * kFramesPerSecond);
    table.push_back({label + ", CPU per 300 frames", Format("%.2f s", measured.cpuPerFrames),
                     Format("%.1f MB/s written", avi.fileSize / 1e6 / std::max(span, 0.001)),
                     "lost: preview " + std::to_string(measured.previewLost) + ", file " +
                         std::to_string(std::max(0L, sent - static_cast<long>(avi.totalFrames))) + " of " +
                         std::to_string(sent)});
    std::filesystem::remove(file);
}

}  // namespace

void BenchSimulatedCamera(const std::filesystem::path& folder) {
    BenchPreviewOnly();
    BenchPreviewAndRecording(folder, true);
    BenchPreviewAndRecording(folder, false);
}

}  // namespace bench

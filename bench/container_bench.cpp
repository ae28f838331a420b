// One take in each container: the test pattern at 1280x720 and 30 frames/s
// through x264 (live settings) with the test tone as MP3 (MP4 holds no raw
// sound), recorded into .avi, .mkv and .mp4 in turn. The CPU time of the
// take and the file it leaves; the ratio is the CPU against the AVI's.

#include <filesystem>
#include <thread>

#include "bench/BenchSupport.h"
#include "capture/gst/GstCapturePlatform.h"
#include "settings/SettingsFile.h"
#include "tests/support/gst/GstTesting.h"

namespace bench {

void BenchContainers(const std::filesystem::path& folder, int recordSeconds) {
    double aviCpu = -1;
    for (const char* extension : {".avi", ".mkv", ".mp4"}) {
        const std::filesystem::path file = folder / (std::string("container") + extension);
        StorePath(settings.videoFilePath, file.string());
        CCaptureSession session{CreateGstCapturePlatform()};
        lumora::gst::SetTestCameraModes({"1280x720@30/1:I420"});
        CountingOwner owner;
        std::string message;
        session.SetMessageHandler([&](const std::string& text) { message = text; });
        const std::string label = "record " + std::to_string(recordSeconds) + " s 1280x720@30 H.264 + MP3 into " +
                                  extension + ": CPU";
        if (!BuildTestPattern(session, owner, "x264 H.264 Encoder", "L.A.M.E. mp3 encoder") ||
            !session.StartRecording()) {
            table.push_back({label, "failed: " + message, "", ""});
            lumora::gst::ResetTestCameraModes();
            continue;
        }
        const double startCpu = OwnCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(recordSeconds));
        session.Stop();
        const double cpu = OwnCpuSeconds() - startCpu;
        session.TearDown();
        if (aviCpu < 0) aviCpu = cpu;
        std::error_code error;
        const auto bytes = static_cast<double>(std::filesystem::file_size(file, error));
        table.push_back({label, Format("%.2f s", cpu), Format("%.1f MB file", error ? 0.0 : bytes / 1e6),
                         Ratio(cpu, aviCpu)});
        std::filesystem::remove(file, error);
        lumora::gst::ResetTestCameraModes();
    }
}

}  // namespace bench

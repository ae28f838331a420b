#pragma once
// What the benchmark's parts share: the table they fill, number formats,
// CPU time, and the stand-ins for the view and the device dialog's lists.

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/CaptureSession.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double CpuSeconds(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

inline double OwnCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

struct Row {
    std::string what, ours, reference, ratio;
};
inline std::vector<Row> table;

inline std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

inline std::string Ms(double seconds) { return seconds < 0 ? "n/a" : Format("%.2f ms", seconds * 1000); }

inline std::string Ratio(double ours, double reference) {
    return ours < 0 || reference <= 0 ? "n/a" : Format("%.2fx", ours / reference);
}

// Counts the frames the preview hands to its video window.
class CountingOwner : public IOwnerWindow, public IVideoWindow {
public:
    WindowRect ClientRect() const override { return {0, 0, 640, 480}; }
    IVideoWindow* AttachVideoWindow() override { return this; }
    void DetachVideoWindow() override {}
    void SetWindowPosition(int32_t, int32_t, int32_t, int32_t) override {}
    void SetVisible(bool) override {}
    void PresentFrame(const VideoFrame&) override { frames.fetch_add(1); }
    std::atomic<int> frames{0};
};

struct ListedNames : IComboBox {
    void AddString(const std::string& text) override { names.push_back(text); }
    int IndexOf(const std::string& name) const {
        auto found = std::find(names.begin(), names.end(), name);
        return found == names.end() ? -1 : static_cast<int>(found - names.begin());
    }
    std::vector<std::string> names;
};

// Builds the preview of "Lumora Test Pattern" with the named compressors
// ("" = none), as the device dialog's lists name them.
inline bool BuildTestPattern(CCaptureSession& session, CountingOwner& owner, const std::string& compressor,
                             const std::string& audioCompressor = "") {
    ListedNames devices, compressors, audio;
    session.ListVideoDevices(&devices);
    session.ListVideoCompressors(&compressors);
    session.ListAudioCompressors(&audio);
    const int video = compressor.empty() ? -1 : compressors.IndexOf(compressor);
    const int sound = audioCompressor.empty() ? -1 : audio.IndexOf(audioCompressor);
    return session.BuildGraph(devices.IndexOf("Lumora Test Pattern"), video, sound, &owner) >= 0;
}

// The simulated camera's rows: preview, and preview while recording, with
// the camera's JPEG frames kept or decoded and compressed again.
void BenchSimulatedCamera(const std::filesystem::path& folder);

// The same H.264 take written as AVI, Matroska and MP4: CPU and file size.
void BenchContainers(const std::filesystem::path& folder, int recordSeconds);

}  // namespace bench

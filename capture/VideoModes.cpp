#include "capture/VideoModes.h"

#include <algorithm>
#include <cstdio>

#include "capture/VideoModeChoices.h"

namespace {

// Rates are compared with some slack: 29.97 frames/s is a 30 frames/s mode.
constexpr double kRateSlack = 0.95;
// A camera is asked for no more than this by default.
constexpr double kEnoughFramesPerSecond = 30.0;

int64_t Area(const VideoMode& mode) { return static_cast<int64_t>(mode.width) * mode.height; }

}  // namespace

std::optional<VideoMode> ChooseDefaultMode(const std::vector<VideoMode>& modes) {
    double highest = 0;
    for (const VideoMode& mode : modes) highest = std::max(highest, mode.FramesPerSecond());
    if (modes.empty()) return std::nullopt;
    const double wanted = std::min(highest, kEnoughFramesPerSecond) * kRateSlack;

    const VideoMode* best = nullptr;
    for (const VideoMode& mode : modes) {
        if (mode.FramesPerSecond() < wanted || mode.width <= 0 || mode.height <= 0) continue;
        if (!best) {
            best = &mode;
            continue;
        }
        if (Area(mode) != Area(*best)) {
            if (Area(mode) > Area(*best)) best = &mode;
            continue;
        }
        // Same size: raw frames cost no decoding; then the rate nearest the wanted one.
        if (mode.IsMjpeg() != best->IsMjpeg()) {
            if (!mode.IsMjpeg()) best = &mode;
            continue;
        }
        if (mode.FramesPerSecond() < best->FramesPerSecond()) best = &mode;
    }
    if (!best) return modes.front();
    return *best;
}

std::string DescribeVideoMode(const VideoMode& mode) {
    return DescribeVideoSize(VideoModeChoices::SizeOf(mode)) + "  " +
           DescribeFrameRate(VideoModeChoices::RateOf(mode)) + "  " + mode.format;
}

std::string VideoModeToText(const VideoMode& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "@" + std::to_string(mode.rateNumerator) +
           "/" + std::to_string(mode.rateDenominator) + ":" + mode.format;
}

std::optional<VideoMode> VideoModeFromText(const std::string& text) {
    VideoMode mode;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%dx%d@%d/%d:%n", &mode.width, &mode.height, &mode.rateNumerator,
                    &mode.rateDenominator, &consumed) != 4 ||
        consumed <= 0)
        return std::nullopt;
    mode.format = text.substr(static_cast<std::size_t>(consumed));
    if (mode.width <= 0 || mode.height <= 0 || mode.rateNumerator <= 0 || mode.rateDenominator <= 0 ||
        mode.format.empty() || mode.format.find_first_of(" \t\r\n") != std::string::npos)
        return std::nullopt;
    return mode;
}

std::vector<VideoMode> VideoModesFromList(const std::string& text) {
    std::vector<VideoMode> modes;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        std::string entry = text.substr(start, end - start);
        entry.erase(0, entry.find_first_not_of(" \t"));
        entry.erase(entry.find_last_not_of(" \t") + 1);
        if (const std::optional<VideoMode> mode = VideoModeFromText(entry)) modes.push_back(*mode);
        start = end + 1;
    }
    return modes;
}

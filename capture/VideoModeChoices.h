#pragma once
// A camera's picture modes as three short choices: the picture size, the
// rates offered at that size, and the formats offered at that size and rate.
// A test driver offers some 500 combinations; one list of them all is
// unreadable, while each of these lists stays within about 20 entries.

#include <optional>
#include <string>
#include <vector>

#include "capture/CapturePlatform.h"

class VideoModeChoices {
public:
    struct Size {
        int32_t width = 0;
        int32_t height = 0;
        bool operator==(const Size&) const = default;
    };
    struct Rate {
        int32_t numerator = 0;  // frames per second, as a fraction in lowest terms
        int32_t denominator = 1;
        bool operator==(const Rate&) const = default;
    };

    explicit VideoModeChoices(std::vector<VideoMode> offered);

    // Largest first.
    std::vector<Size> Sizes() const;
    // Highest first.
    std::vector<Rate> Rates(Size size) const;
    // The formats that cost least to show first (raw pictures before JPEG,
    // those cameras commonly send before the rest). Formats no webcam sends
    // (a test driver's dozens of RGB and Bayer layouts) are left out unless
    // nothing else is offered there, or the format is `keep` (a remembered
    // choice).
    std::vector<std::string> Formats(Size size, Rate rate, const std::string& keep = {}) const;
    std::optional<VideoMode> Find(Size size, Rate rate, const std::string& format) const;

    static Size SizeOf(const VideoMode& mode) { return {mode.width, mode.height}; }
    static Rate RateOf(const VideoMode& mode);

private:
    std::vector<VideoMode> modes;
};

// "1920 x 1080"
std::string DescribeVideoSize(VideoModeChoices::Size size);
// "30 帧/秒", "29.97 帧/秒"
std::string DescribeFrameRate(VideoModeChoices::Rate rate);

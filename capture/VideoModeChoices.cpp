#include "capture/VideoModeChoices.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string_view>

namespace {

// The formats webcams and capture cards send, cheapest to show first.
constexpr std::array<std::string_view, 19> kCommonFormats = {
    "YUY2", "NV12", "I420", "YV12", "UYVY", "YVYU", "VYUY", "NV21", "NV16", "NV61",
    "Y42B", "MJPEG", "RGB", "BGR", "BGRx", "xRGB", "BGRA", "RGB16", "GRAY8"};

std::size_t FormatRank(const std::string& format) {
    const auto found = std::find(kCommonFormats.begin(), kCommonFormats.end(), format);
    return static_cast<std::size_t>(found - kCommonFormats.begin());
}

bool IsCommon(const std::string& format) { return FormatRank(format) < kCommonFormats.size(); }

double PerSecond(VideoModeChoices::Rate rate) {
    return rate.denominator > 0 ? static_cast<double>(rate.numerator) / rate.denominator : 0.0;
}

}  // namespace

VideoModeChoices::VideoModeChoices(std::vector<VideoMode> offered) : modes(std::move(offered)) {}

VideoModeChoices::Rate VideoModeChoices::RateOf(const VideoMode& mode) {
    const int32_t divisor = std::gcd(mode.rateNumerator, mode.rateDenominator);
    if (divisor <= 0) return {mode.rateNumerator, mode.rateDenominator};
    return {mode.rateNumerator / divisor, mode.rateDenominator / divisor};
}

std::vector<VideoModeChoices::Size> VideoModeChoices::Sizes() const {
    std::vector<Size> sizes;
    for (const VideoMode& mode : modes)
        if (std::find(sizes.begin(), sizes.end(), SizeOf(mode)) == sizes.end()) sizes.push_back(SizeOf(mode));
    std::stable_sort(sizes.begin(), sizes.end(), [](Size a, Size b) {
        const int64_t areaA = int64_t{a.width} * a.height, areaB = int64_t{b.width} * b.height;
        return areaA != areaB ? areaA > areaB : a.width > b.width;
    });
    return sizes;
}

std::vector<VideoModeChoices::Rate> VideoModeChoices::Rates(Size size) const {
    std::vector<Rate> rates;
    for (const VideoMode& mode : modes)
        if (SizeOf(mode) == size && std::find(rates.begin(), rates.end(), RateOf(mode)) == rates.end())
            rates.push_back(RateOf(mode));
    std::stable_sort(rates.begin(), rates.end(), [](Rate a, Rate b) { return PerSecond(a) > PerSecond(b); });
    return rates;
}

std::vector<std::string> VideoModeChoices::Formats(Size size, Rate rate, const std::string& keep) const {
    std::vector<std::string> all;
    for (const VideoMode& mode : modes)
        if (SizeOf(mode) == size && RateOf(mode) == rate &&
            std::find(all.begin(), all.end(), mode.format) == all.end())
            all.push_back(mode.format);
    std::stable_sort(all.begin(), all.end(),
                     [](const std::string& a, const std::string& b) { return FormatRank(a) < FormatRank(b); });
    const bool anyCommon = std::any_of(all.begin(), all.end(), IsCommon);
    std::vector<std::string> shown;
    for (const std::string& format : all)
        if (!anyCommon || IsCommon(format) || format == keep) shown.push_back(format);
    return shown;
}

std::optional<VideoMode> VideoModeChoices::Find(Size size, Rate rate, const std::string& format) const {
    for (const VideoMode& mode : modes)
        if (SizeOf(mode) == size && RateOf(mode) == rate && mode.format == format) return mode;
    return std::nullopt;
}

std::string DescribeVideoSize(VideoModeChoices::Size size) {
    return std::to_string(size.width) + " x " + std::to_string(size.height);
}

std::string DescribeFrameRate(VideoModeChoices::Rate rate) {
    const double perSecond = PerSecond(rate);
    char text[32];
    if (std::fabs(perSecond - std::round(perSecond)) < 0.005)
        std::snprintf(text, sizeof text, "%.0f 帧/秒", perSecond);
    else
        std::snprintf(text, sizeof text, "%.2f 帧/秒", perSecond);
    return text;
}

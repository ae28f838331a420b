#include "tests/support/gst/TestCameraFrames.h"

#include <cstdlib>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <mutex>

#include "capture/gst/GstHandles.h"
#include "tests/support/gst/GstTesting.h"

namespace lumora::gst {

namespace {

// Frames made in advance are kept below this many bytes per mode.
constexpr gsize kFrameBudget = 64u * 1024 * 1024;
constexpr int kMostFrames = 30;
constexpr int kFewestFrames = 4;

int FramesToMake(const GstCaps* caps) {
    GstVideoInfo info;
    gsize size = 0;
    if (gst_video_info_from_caps(&info, caps)) size = GST_VIDEO_INFO_SIZE(&info);
    if (size == 0) return kMostFrames;
    return static_cast<int>(std::clamp<gsize>(kFrameBudget / size, kFewestFrames, kMostFrames));
}

// A moving pattern in the layout of `caps`, rendered once by a private
// pipeline (JPEG frames by jpegenc from `jpegLayout`, which sets their
// chroma sampling).
std::vector<GstBuffer*> RenderFrames(const GstCaps* caps, const Balance& balance, const char* pattern = "ball",
                                     int count = 0, const std::string& jpegLayout = "I420") {
    std::vector<GstBuffer*> frames;
    const GstStructure* wanted = gst_caps_get_structure(caps, 0);
    const bool jpeg = gst_structure_has_name(wanted, "image/jpeg");
    CapsPtr raw(gst_caps_copy(caps));
    if (jpeg) {
        GstStructure* s = gst_caps_get_structure(raw.get(), 0);
        gst_structure_set_name(s, "video/x-raw");
        gst_structure_set(s, "format", G_TYPE_STRING, jpegLayout.c_str(), nullptr);
    }
    if (count == 0) count = FramesToMake(raw.get());
    const std::string adjust = balance.Neutral() ? "" : " ! videobalance " + balance.Text();
    const std::string description = "videotestsrc pattern=" + std::string(pattern) + " num-buffers=" + std::to_string(count) + adjust +
                                    " ! capsfilter name=layout" + (jpeg ? " ! jpegenc" : "") +
                                    " ! appsink name=out sync=false";
    GError* parseError = nullptr;
    ElementPtr pipeline = AdoptFloating(gst_parse_launch(description.c_str(), &parseError));
    if (parseError) g_error_free(parseError);
    if (!pipeline) return frames;
    const ElementPtr layout(gst_bin_get_by_name(GST_BIN(pipeline.get()), "layout"));
    const ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    if (!layout || !sink) return frames;
    g_object_set(layout.get(), "caps", raw.get(), nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    for (int i = 0; i < count; ++i) {
        const SamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink.get())));
        if (!sample) break;
        // A copy of its own, so no buffer of the private pipeline's pool stays held.
        frames.push_back(gst_buffer_copy_deep(gst_sample_get_buffer(sample.get())));
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return frames;
}

// The frames of the layout used last are kept for the next element: a
// camera that starts again (each Record and Stop does) costs no rendering,
// and memory does not grow with the starts.
std::mutex cacheMutex;
std::string cachedLayout;
std::shared_ptr<const FrameSet> cached;
std::string pattern = "ball";  // guarded by cacheMutex
std::string jpegSampling = "I420";  // guarded by cacheMutex

}  // namespace

std::shared_ptr<const FrameSet> FramesFor(const GstCaps* caps, const Balance& balance) {
    const TextPtr text(gst_caps_to_string(caps));
    std::string shown, sampling;
    {
        std::lock_guard lock(cacheMutex);
        shown = pattern;
        sampling = jpegSampling;
    }
    const std::string layout = std::string(text ? text.get() : "") + "|" + balance.Text() +
                               (SyncSignalPeriod() > 0 ? "|flash" : "") + "|" + shown + "|" + sampling;
    {
        std::lock_guard lock(cacheMutex);
        if (cached && layout == cachedLayout) return cached;
    }
    auto made = std::make_shared<FrameSet>();
    made->frames = RenderFrames(caps, balance, shown.c_str(), 0, sampling);
    if (SyncSignalPeriod() > 0) {
        std::vector<GstBuffer*> white = RenderFrames(caps, balance, "white", 1, sampling);
        if (!white.empty()) made->flash = white.front();
    }
    std::lock_guard lock(cacheMutex);
    cachedLayout = layout;
    cached = made;
    return made;
}

GstClockTime SyncSignalPeriod() {
    const char* seconds = std::getenv("LUMORA_TEST_SYNC_SIGNAL");
    return seconds ? static_cast<GstClockTime>(g_ascii_strtod(seconds, nullptr) * GST_SECOND) : 0;
}

bool SyncSignalFlashing(GstClockTime runningTime) {
    const GstClockTime period = SyncSignalPeriod();
    // A microsecond's grace: a frame's time, counted in whole nanoseconds
    // per frame, falls just short of the instant it stands for.
    return period > 0 && GST_CLOCK_TIME_IS_VALID(runningTime) && (runningTime + GST_USECOND) % period < GST_SECOND / 2;
}

static std::vector<std::vector<uint8_t>> CopyOf(const FrameSet& set) {
    std::vector<std::vector<uint8_t>> copies;
    for (GstBuffer* frame : set.frames) {
        std::vector<uint8_t>& bytes = copies.emplace_back(gst_buffer_get_size(frame));
        gst_buffer_extract(frame, 0, bytes.data(), bytes.size());
    }
    return copies;
}

void SetTestCameraPattern(const std::string& shown) {
    std::lock_guard lock(cacheMutex);
    pattern = shown;
}

void SetTestCameraJpegSampling(const std::string& layout) {
    std::lock_guard lock(cacheMutex);
    jpegSampling = layout;
}

std::vector<std::vector<uint8_t>> TestCameraFrames() {
    std::lock_guard lock(cacheMutex);
    return cached ? CopyOf(*cached) : std::vector<std::vector<uint8_t>>{};
}

}  // namespace lumora::gst

// The sound gap filler between a sound input's queue and a recording: when
// the branch after it is slow long enough for the watcher to fill silence,
// the sound that comes back and the silence still reach the branch in the
// order they were counted, so every buffer follows on from the one before.

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/gst/SoundGapFiller.h"
#include "tests/WaitFor.h"

namespace {

constexpr int kRate = 8000;
constexpr GstClockTime kBuffer = 20 * GST_MSECOND;

struct Arrival {
    GstClockTime pts;
    GstClockTime duration;
};

struct Branch {
    std::mutex mutex;
    std::vector<Arrival> arrivals;
    std::atomic<int> handed{0};
    std::atomic<int> slowAt{-1};
};

GstPadProbeReturn Arrived(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* branch = static_cast<Branch*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard lock(branch->mutex);
    branch->arrivals.push_back({GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer)});
    return GST_PAD_PROBE_OK;
}

// The branch takes its time over one buffer: longer than the stall limit.
void Handoff(GstElement*, GstBuffer*, gpointer data) {
    auto* branch = static_cast<Branch*>(data);
    if (branch->handed.fetch_add(1) == branch->slowAt.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
}

GstClockTime RunningTime(GstElement* pipeline) {
    GstClock* clock = gst_element_get_clock(pipeline);
    const GstClockTime now = gst_clock_get_time(clock) - gst_element_get_base_time(pipeline);
    gst_object_unref(clock);
    return now;
}

GstBuffer* Sound(GstClockTime pts) {
    const gsize samples = kBuffer * kRate / GST_SECOND;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, samples * 2, nullptr);
    gst_buffer_memset(buffer, 0, 0x11, samples * 2);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = kBuffer;
    return buffer;
}

}  // namespace

TEST(SoundGapFiller, SoundBackFromASlowBranchNeverOvertakesTheSilenceBeforeIt) {
    gst_init(nullptr, nullptr);
    for (int round = 0; round < 5; ++round) {
        GError* error = nullptr;
        GstElement* pipeline = gst_parse_launch(
            "appsrc name=sound is-live=true format=time "
            "caps=audio/x-raw,format=S16LE,rate=8000,channels=1,layout=interleaved "
            "! queue name=queue ! identity name=slow signal-handoffs=true ! fakesink name=out sync=false async=false "
            "appsrc name=pictures is-live=true format=time caps=video/x-raw,format=GRAY8,width=2,height=2,framerate=30/1 "
            "! fakesink name=pictureSink sync=false async=false",
            &error);
        ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
        Branch branch;
        branch.slowAt = 10;
        std::atomic<int> stalls{0};
        GstElement* sound = gst_bin_get_by_name(GST_BIN(pipeline), "sound");
        GstElement* pictures = gst_bin_get_by_name(GST_BIN(pipeline), "pictures");
        GstElement* queue = gst_bin_get_by_name(GST_BIN(pipeline), "queue");
        GstElement* slow = gst_bin_get_by_name(GST_BIN(pipeline), "slow");
        GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
        GstElement* pictureSink = gst_bin_get_by_name(GST_BIN(pipeline), "pictureSink");
        g_signal_connect(slow, "handoff", G_CALLBACK(Handoff), &branch);
        GstPad* arrivals = gst_element_get_static_pad(out, "sink");
        gst_pad_add_probe(arrivals, GST_PAD_PROBE_TYPE_BUFFER, &Arrived, &branch, nullptr);
        GstPad* queueOutput = gst_element_get_static_pad(queue, "src");
        GstPad* pictureEntry = gst_element_get_static_pad(pictureSink, "sink");
        ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        gst_element_get_state(pipeline, nullptr, nullptr, GST_CLOCK_TIME_NONE);
        {
            lumora::gst::SoundGapFiller filler(pipeline, queueOutput, pictureEntry, 100 * GST_MSECOND, "stalled",
                                               "lost", [&](const std::string&) { ++stalls; });
            filler.SetRunning(true);
            const GstClockTime start = RunningTime(pipeline);
            GstBuffer* picture = gst_buffer_new_allocate(nullptr, 4, nullptr);
            GST_BUFFER_PTS(picture) = start;
            // One picture that lasts the take, as pictures that go on: the
            // filler blames the sound only for time the pictures cover.
            GST_BUFFER_DURATION(picture) = 10 * GST_SECOND;
            gst_app_src_push_buffer(GST_APP_SRC(pictures), picture);
            // The input delivers on time, as a sound card does, while the
            // branch stalls once.
            for (int i = 0; i < 40; ++i) {
                const GstClockTime due = start + (i + 1) * kBuffer;
                WaitUntil([&] { return RunningTime(pipeline) >= due; }, 1.0,
                          [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
                gst_app_src_push_buffer(GST_APP_SRC(sound), Sound(start + i * kBuffer));
            }
            EXPECT_TRUE(WaitUntil([&] { return branch.handed.load() >= 20; }, 5.0));
            gst_element_set_state(pipeline, GST_STATE_NULL);
        }
        EXPECT_EQ(stalls.load(), 1) << "the slow branch did not make the filler fill";
        std::lock_guard lock(branch.mutex);
        for (std::size_t i = 1; i < branch.arrivals.size(); ++i) {
            const Arrival& before = branch.arrivals[i - 1];
            const GstClockTime expected = before.pts + before.duration;
            const GstClockTime pts = branch.arrivals[i].pts;
            EXPECT_LE((pts > expected ? pts - expected : expected - pts), GST_SECOND / kRate)
                << "round " << round << ", buffer " << i << " at " << pts << " after one ending at " << expected;
        }
        for (GstElement* element : {sound, pictures, queue, slow, out, pictureSink}) gst_object_unref(element);
        for (GstPad* pad : {arrivals, queueOutput, pictureEntry}) gst_object_unref(pad);
        gst_object_unref(pipeline);
    }
}

// Recording again and again on real GStreamer pipelines: each Record / Stop /
// Start video builds two pipelines, and none of them may stay behind with its
// descriptors and buffers.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/engine/GstSessionFixture.h"

namespace {

using namespace gst_session;

// AddressSanitizer keeps freed memory in quarantine, so resident memory
// grows there whatever the program does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentMemoryTells = false;
#else
constexpr bool kResidentMemoryTells = true;
#endif

long OpenDescriptors() {
    return static_cast<long>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));  // kB
    return -1;
}

TEST_F(GstSession, RecordStopStartCyclesKeepDescriptorsAndMemoryFlat) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    const auto cycle = [this](int number) {
        // StartRecording returns once data has reached the file.
        ASSERT_TRUE(session.StartRecording()) << number;
        session.Stop();
        session.Run();
        // Counted while frames flow, not during a state change, whose threads
        // hold descriptors for a moment.
        ASSERT_TRUE(WaitForFrames(owner.Frames() + 2)) << number;
    };
    // The first cycles fill GStreamer's caches and thread pools.
    for (int number = 0; number < 5; ++number) {
        cycle(number);
        if (HasFatalFailure()) return;
    }
    // The least of a few readings while frames flow: the pictures on their
    // way come and go with the load of the machine, what is kept stays.
    const auto steadyResident = [this] {
        long least = ResidentKilobytes();
        for (int reading = 0; reading < 4; ++reading) {
            EXPECT_TRUE(WaitForFrames(owner.Frames() + 2));
            least = std::min(least, ResidentKilobytes());
        }
        return least;
    };
    const long descriptors = OpenDescriptors();
    const long resident = steadyResident();
    for (int number = 5; number < 50; ++number) {
        cycle(number);
        if (HasFatalFailure()) return;
    }
    EXPECT_LE(OpenDescriptors(), descriptors + 2);
    if (kResidentMemoryTells) {
        EXPECT_LE(steadyResident(), resident + 8 * 1024);
    }
    EXPECT_TRUE(messages.empty()) << messages.front();
}

}  // namespace

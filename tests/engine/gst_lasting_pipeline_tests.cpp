// One pipeline for the life of a built graph: a recording joins the running
// preview and leaves it again, so Record never stops or reopens the camera,
// the picture goes on while it starts, and the file holds what was filmed
// between Record and Stop with its sound in step.

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/gst/GstTesting.h"
#include "tests/AviReader.h"
#include "tests/engine/GstSessionFixture.h"

namespace {

using namespace gst_session;
using LastingPipeline = GstSession;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST_F(LastingPipeline, RecordAndStopNeverReopenTheCameraAndRecordNeverRestartsIt) {
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    const lumora::gst::TestCameraUse atBuild = lumora::gst::TestCameraUseCounts();
    for (int cycle = 0; cycle < 10; ++cycle) {
        if (cycle > 0) session.Run();  // Start video after Stop
        const unsigned startsBefore = lumora::gst::TestCameraUseCounts().started;
        ASSERT_TRUE(session.StartRecording()) << cycle << ": " << (messages.empty() ? "" : messages.front());
        EXPECT_EQ(lumora::gst::TestCameraUseCounts().started, startsBefore) << "Record restarted the camera";
        ASSERT_TRUE(PicturesRecorded(8)) << cycle;
        session.Stop();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        EXPECT_TRUE(avi.hasIndex) << cycle;
        EXPECT_GE(avi.totalFrames, 5u) << cycle;
    }
    const lumora::gst::TestCameraUse after = lumora::gst::TestCameraUseCounts();
    EXPECT_EQ(after.opened, atBuild.opened) << "the camera was opened again";
    // Each Start video after a Stop starts its stream once.
    EXPECT_EQ(after.started - atBuild.started, 9u);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(LastingPipeline, ThePreviewGoesOnWhileARecordingStartsAndEnds) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(10));
    const int before = owner.Frames();
    ASSERT_TRUE(session.StartRecording());
    // The preview shows what the camera sends, as the recording gets it:
    // a second of it once the recording holds a second.
    ASSERT_TRUE(PicturesRecorded(30));
    EXPECT_GE(owner.Frames() - before, 28) << "pictures shown in the second of Record";
    session.Pause();
    session.Run();
    const int beforeEnd = owner.Frames();
    session.Stop();
    session.Run();
    ASSERT_TRUE(WaitForFrames(beforeEnd + 5));
    EXPECT_FALSE(session.RecordingActive());
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(LastingPipeline, TheFileHoldsTheTimeBetweenRecordAndStopWithItsSoundInStep) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(30));  // the recording starts well into the pipeline's life
    const Clock::time_point record = Clock::now();
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(60));
    const double heldFor = SecondsSince(record);
    session.Stop();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_TRUE(avi.hasIndex);
    ASSERT_NE(avi.First("auds"), nullptr);
    EXPECT_NEAR(PictureSeconds(avi), heldFor, 0.1);
    // The sound starts with the first picture and ends with the last.
    EXPECT_NEAR(SoundSeconds(avi), PictureSeconds(avi), 0.04);
    // The test tone is sound from its first sample on.
    ASSERT_GT(avi.sound.size(), 64u);
    int silentAtStart = 0;
    while (silentAtStart < 64 && avi.sound[silentAtStart] == 0) ++silentAtStart;
    EXPECT_LT(silentAtStart, 64);
}

TEST_F(LastingPipeline, PauseWhileRecordingKeepsOneRecordingThatStopFinishes) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(30));
    session.Pause();
    Wait(1.0);  // the pause, which the file leaves out
    ASSERT_TRUE(session.RecordingActive());
    session.Run();
    // Two seconds' pictures in all (the timestamps' span holds the pause).
    ASSERT_TRUE(PicturesRecorded(60));
    session.Stop();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_TRUE(avi.hasIndex);
    // The paused second is not in the file.
    EXPECT_NEAR(PictureSeconds(avi), 2.0, 0.25);
    EXPECT_NEAR(SoundSeconds(avi), PictureSeconds(avi), 0.1);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

}  // namespace

namespace {

// The camera stays open while stopped; one unplugged meanwhile cannot
// stream again, and Start video says so instead of showing a dead picture.
TEST_F(LastingPipeline, ACameraUnpluggedWhileStoppedIsNamedWhenStartedAgain) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    session.Stop();
    lumora::gst::UnplugTestCamera();
    lumora::gst::ReplugTestCamera();
    EXPECT_TRUE(FAILED(session.Run()));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Couldn't run the graph!", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("Lumora Test Pattern"), std::string::npos) << messages[0];
    EXPECT_EQ(session.State().graph, CaptureState::Graph::Stopped);
    // A new build opens the camera afresh.
    const int before = owner.Frames();
    ASSERT_EQ(Build(), S_OK);
    EXPECT_TRUE(WaitForFrames(before + 3));
}

}  // namespace

namespace {

// A camera that stops sending while previewing is started again inside the
// same pipeline: the picture comes back by itself, and the status bar says
// why it stood still. A second freeze within a minute is the camera's
// failure, told as one that sends nothing.
class FrozenCamera : public GstSession {
protected:
    void SetUp() override {
        GstSession::SetUp();
        session.SetNoticeHandler([this](const std::string& text) { notices.push_back(text); });
        session.SetEventNotifier([this] { ++events; });
    }
    void TearDown() override {
        session.SetEventNotifier(nullptr);
        session.SetNoticeHandler(nullptr);
        GstSession::TearDown();
    }
    // Freezes the camera and handles what the graph then tells.
    void Freeze() {
        events.store(0);
        lumora::gst::FreezeTestCamera();
        ASSERT_TRUE(WaitUntil([&] { return events.load() > 0; }, 10));
        session.ProcessPendingEvents();
    }
    std::vector<std::string> notices;
    std::atomic<int> events{0};
};

TEST_F(FrozenCamera, IsStartedAgainInTheSamePipelineAndThePreviewComesBack) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    const lumora::gst::TestCameraUse before = lumora::gst::TestCameraUseCounts();
    Freeze();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "摄像头“Lumora Test Pattern”停止了发送画面，已重新启动。");
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 10));
    EXPECT_EQ(lumora::gst::TestCameraUseCounts().started, before.started + 1);
    EXPECT_EQ(session.State().graph, CaptureState::Graph::Running);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(FrozenCamera, ASecondFreezeWithinAMinuteEndsThePreviewAsALostCamera) {
    int stopped = 0;
    session.SetGraphStoppedHandler([&] { ++stopped; });
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    Freeze();
    ASSERT_TRUE(WaitForFrames(owner.Frames() + 10));
    Freeze();
    session.SetGraphStoppedHandler(nullptr);
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_EQ(stopped, 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "捕获已停止：摄像头“Lumora Test Pattern”在 3 秒内没有送来画面。");
    EXPECT_EQ(session.State().graph, CaptureState::Graph::Stopped);
}

}  // namespace

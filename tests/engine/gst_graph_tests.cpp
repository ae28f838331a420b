// The capture graph on real pipelines: a camera that hangs while starting,
// one that is unplugged, and what a JPEG recording's pipeline holds.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "tests/support/gst/GstTesting.h"
#include "tests/AviReader.h"
#include "tests/engine/GstSessionFixture.h"

namespace {

using namespace gst_session;

bool Holds(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A pipeline given up on is still taken down by its worker; the leaks
// check at the end of the run relies on that.
bool AbandonedPipelinesGone() {
    return WaitUntil([] { return lumora::gst::PipelinesBeingAbandoned() == 0; }, 10);
}

TEST_F(GstSession, ACameraThatHangsWhileStartingFailsTheBuildWhileTheWindowKeepsPainting) {
    std::atomic<int> waits{0};
    session.SetWaitHook([&] { ++waits; });
    lumora::gst::DelayPipelineStart(9.0);
    EXPECT_NE(Build(), S_OK);
    // Waited in short slices, not in one block: about 400 over 8 seconds.
    EXPECT_GT(waits.load(), 100);
    ASSERT_EQ(messages.size(), 1u);
    const std::string reason = "摄像头“Lumora Test Pattern”在 8 秒内没有启动。";
    EXPECT_EQ(messages[0], "Failt to read the connected media type\n" + reason);
    EXPECT_EQ(lumora::gst::LatestGraphError(), reason);
    EXPECT_TRUE(lumora::gst::RunningGraphElementFactories().empty());  // the graph let go of it

    // Building again does not wait for the one given up on.
    messages.clear();
    ASSERT_EQ(Build(), S_OK);
    EXPECT_TRUE(WaitForFrames(5));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(AbandonedPipelinesGone());
}

TEST_F(GstSession, AGraphWithAHungCameraIsReleasedWithoutWaitingForIt) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    session.Stop();
    lumora::gst::DelayPipelineStart(9.0);
    EXPECT_NE(session.Run(), S_OK);
    EXPECT_NE(lumora::gst::LatestGraphError().find("没有启动"), std::string::npos);
    // Stop, run again and tear down: none touches the abandoned pipeline.
    session.Stop();
    EXPECT_EQ(session.Run(), S_OK);
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 3));
    session.TearDown();
    EXPECT_TRUE(AbandonedPipelinesGone());
}

// The recording branch's pipeline hangs as it starts: the recording is
// refused with the reason, and the preview comes back on a fresh pipeline
// while the hung one (holding the file) is still being given up.
TEST_F(GstSession, ARecordingWhoseCameraHangsIsRefusedAndThePreviewComesBack) {
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    lumora::gst::DelayPipelineStart(9.0);
    EXPECT_FALSE(session.StartRecording());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "录相无法开始：摄像头“Lumora Test Pattern”在 8 秒内没有启动。");
    EXPECT_FALSE(session.RecordingActive());
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 5));
    EXPECT_EQ(lumora::gst::PipelinesBeingAbandoned(), 1);
    EXPECT_TRUE(AbandonedPipelinesGone());

    // The same file records normally afterwards.
    messages.clear();
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(30));
    session.Stop();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_GT(avi.totalFrames, 15u);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(GstSession, AnUnpluggedCameraEndsTheRecordingReadableAndIsNamed) {
    ASSERT_NO_FATAL_FAILURE(LoseTheCameraWhileRecording([] { lumora::gst::SimulateCameraRemoval(); }));
    EXPECT_NE(messages[0].find("摄像头“Lumora Test Pattern”已断开。"), std::string::npos)
        << messages[0];
}

TEST_F(GstSession, ACameraUnpluggedWhileStoppedIsNotReported) {
    ASSERT_EQ(Build(), S_OK);
    std::atomic<int> notified{0};  // from a streaming thread
    session.SetEventNotifier([&] { ++notified; });
    session.Stop();
    lumora::gst::SimulateCameraRemoval();
    ASSERT_TRUE(ToneMeterReads(2));
    EXPECT_EQ(notified, 0);
    EXPECT_TRUE(messages.empty());
}

// The test pattern sends raw pictures: the JPEG encoder compresses them,
// and nothing of the JPEG pass-through is built.
TEST_F(GstSession, AJpegRecordingOfARawCameraEncodesItsPictures) {
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    EXPECT_FALSE(Holds(lumora::gst::RunningGraphElementFactories(), "jpegenc"));  // preview only
    ASSERT_TRUE(session.StartRecording());
    const std::vector<std::string> recording = lumora::gst::RunningGraphElementFactories();
    EXPECT_TRUE(Holds(recording, "jpegenc"));
    EXPECT_FALSE(Holds(recording, "jpegparse"));
    EXPECT_FALSE(Holds(recording, "jpegdec"));
    ASSERT_TRUE(PicturesRecorded(30));
    session.Stop();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_TRUE(avi.valid);
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_EQ(avi.First("vids")->handler, "MJPG");
    EXPECT_GT(avi.totalFrames, 15u);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

}  // namespace

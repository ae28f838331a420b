// The simulated devices of LUMORA_TEST_SOURCES=1 on the real device road:
// listed by the device monitor, a webcam's modes, a mode chosen or taken
// by default, a camera plugged out and in (and found by its identity), and
// one that never starts.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "capture/VideoModes.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/engine/GstSessionFixture.h"

namespace {

using namespace gst_session;
using TestDevices = GstSession;

VideoMode Mode(const char* text) { return *VideoModeFromText(text); }

int CameraIndex(CCaptureSession& session) {
    ListedNames devices;
    session.ListVideoDevices(&devices);
    return devices.IndexOf("Lumora Test Pattern");
}

TEST_F(TestDevices, AreListedThroughTheMonitorOnlyWhenAskedFor) {
    const int camera = CameraIndex(session);
    ASSERT_GE(camera, 0);
    std::string path;
    ASSERT_TRUE(session.ReadVideoDevicePath(camera, path));
    EXPECT_EQ(path.rfind("Lumora Test Pattern|", 0), 0u) << path;

    // Without a sound server the tone is the first input; with one it comes
    // right after the real default. Either way it has an identity of its own.
    ListedNames inputs;
    std::vector<std::string> paths;
    session.ListAudioInputs(&inputs, paths);
    const int tone = inputs.IndexOf("Lumora Test Tone");
    ASSERT_GE(tone, 0);
    EXPECT_LE(tone, 1);
    EXPECT_NE(paths[tone], "Lumora Test Tone");

    unsetenv("LUMORA_TEST_SOURCES");
    ListedNames realCameras, realInputs;
    std::vector<std::string> realPaths;
    session.ListVideoDevices(&realCameras);
    session.ListAudioInputs(&realInputs, realPaths);
    setenv("LUMORA_TEST_SOURCES", "1", 1);
    EXPECT_EQ(realCameras.IndexOf("Lumora Test Pattern"), -1);
    EXPECT_EQ(realInputs.IndexOf("Lumora Test Tone"), -1);
}

TEST_F(TestDevices, TheCameraOffersAWebcamsNineModesInItsOrder) {
    std::vector<VideoMode> modes;
    ASSERT_EQ(session.ListVideoModes(CameraIndex(session), modes), 9);
    EXPECT_EQ(modes.front(), Mode("640x480@30/1:YUY2"));
    EXPECT_EQ(modes[2], Mode("1920x1080@5/1:YUY2"));
    EXPECT_EQ(modes.back(), Mode("1920x1080@15/1:MJPEG"));
    EXPECT_EQ(std::count_if(modes.begin(), modes.end(), [](const VideoMode& m) { return m.IsMjpeg(); }), 6);
}

TEST_F(TestDevices, WithoutAChoiceTheCameraRunsInItsLargestFastModeAsJpeg) {
    session.SetCaptureChoice(CaptureChoice{});
    owner.client = {0, 0, 1920, 1080};  // shown whole, so the preview decodes it whole
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(videoWidth, 1920);
    EXPECT_EQ(videoHeight, 1080);
    EXPECT_EQ(session.CurrentVideoMode(), Mode("1920x1080@30/1:MJPEG"));
    EXPECT_TRUE(WaitForFrames(3));
    EXPECT_EQ(owner.lastWidth, 1920);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(TestDevices, AChosenRawModeIsPreviewedAtItsSize) {
    ASSERT_EQ(Build(), S_OK);  // the fixture chose 640x480 YUY2
    EXPECT_EQ(videoWidth, 640);
    EXPECT_EQ(videoHeight, 480);
    EXPECT_EQ(session.CurrentVideoMode(), Mode("640x480@30/1:YUY2"));
    EXPECT_TRUE(WaitForFrames(3));
}

TEST_F(TestDevices, ReplacedModesAreOfferedAndTheLargerIsTaken) {
    session.SetCaptureChoice(CaptureChoice{});
    lumora::gst::SetTestCameraModes({"320x240@30/1:I420", "352x288@30/1:NV12"});
    std::vector<VideoMode> modes;
    const int count = session.ListVideoModes(CameraIndex(session), modes);
    const HRESULT built = Build();
    const int width = videoWidth;
    const bool framesCame = WaitForFrames(3);
    session.TearDown();
    lumora::gst::ResetTestCameraModes();

    EXPECT_EQ(count, 2);
    EXPECT_EQ(built, S_OK);
    EXPECT_EQ(width, 352);
    EXPECT_TRUE(framesCame);
    std::vector<VideoMode> restored;
    EXPECT_EQ(session.ListVideoModes(CameraIndex(session), restored), 9);
}

TEST_F(TestDevices, UnpluggingTheCameraStopsItsGraphAndTellsTheHandler) {
    std::atomic<int> changes{0};
    session.SetDeviceChangeHandler([&] { ++changes; });
    std::atomic<int> events{0};
    session.SetEventNotifier([&] { ++events; });
    bool stopped = false;
    session.SetGraphStoppedHandler([&] { stopped = true; });
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));

    lumora::gst::UnplugTestCamera();
    WaitUntil([&] { return events.load() > 0; }, 2);
    session.ProcessPendingEvents();
    const int unpluggedChanges = changes.load();
    const int whileUnplugged = CameraIndex(session);
    lumora::gst::ReplugTestCamera();

    EXPECT_GE(unpluggedChanges, 1);
    EXPECT_EQ(whileUnplugged, -1);
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(messages.empty());
    EXPECT_GT(changes.load(), unpluggedChanges);
    EXPECT_GE(CameraIndex(session), 0);
}

TEST_F(TestDevices, AChosenCameraIsBoundByItsIdentityAndNamedWhenUnplugged) {
    const int camera = CameraIndex(session);
    ASSERT_GE(camera, 0);
    CaptureChoice choice = session.GetCaptureChoice();
    ASSERT_TRUE(session.ReadVideoDevicePath(camera, choice.videoDevicePath));
    choice.videoDeviceName = "Lumora Test Pattern";
    session.SetCaptureChoice(choice);

    lumora::gst::UnplugTestCamera();
    const HRESULT whileUnplugged = session.BuildGraph(camera, -1, -1, &owner);
    lumora::gst::ReplugTestCamera();
    EXPECT_LT(whileUnplugged, 0);
    EXPECT_EQ(messages, std::vector<std::string>{"无法使用所选的视频设备！\n"
                                                 "摄像头“Lumora Test Pattern”已不再连接。"});

    // Plugged in again it keeps its identity, which alone finds it: the
    // index given lists nothing.
    ASSERT_EQ(session.BuildGraph(camera + 1, -1, -1, &owner), S_OK);
    EXPECT_TRUE(WaitForFrames(3));
}

TEST_F(TestDevices, ACameraThatNeverStartsShowsNothingAndIsReleased) {
    lumora::gst::StallTestCameraStart(true);
    Build();  // may give up waiting for the camera: that is up to the graph
    EXPECT_TRUE(ToneMeterReads(5));
    const int framesWhileStalled = owner.Frames();
    session.TearDown();  // does not wait for the camera
    lumora::gst::StallTestCameraStart(false);
    EXPECT_EQ(framesWhileStalled, 0);

    ASSERT_EQ(Build(), S_OK);
    EXPECT_TRUE(WaitForFrames(3));
}

}  // namespace

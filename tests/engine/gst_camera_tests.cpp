// The simulated camera on the road every camera takes (device monitor,
// device element, caps, JPEG decoding): its default mode, each of its modes
// recorded, JPEG frames kept as sent, the microphone choice, a camera that
// goes away or never starts.

#include <algorithm>
#include <atomic>
#include <chrono>

#include "capture/VideoModes.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/AviReader.h"
#include "tests/engine/GstSessionFixture.h"

namespace gst_session {
namespace {

CaptureChoice WithMode(const VideoMode& mode) {
    CaptureChoice choice;
    choice.videoMode = mode;
    return choice;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class SimulatedCamera : public GstSession {
protected:
    std::vector<VideoMode> Modes() {
        ListedNames devices;
        session.ListVideoDevices(&devices);
        std::vector<VideoMode> modes;
        session.ListVideoModes(devices.IndexOf("Lumora Test Pattern"), modes);
        return modes;
    }
    // Records until the pictures span `seconds`; the span they cover.
    double Record(double seconds) {
        EXPECT_TRUE(session.StartRecording());
        EXPECT_TRUE(RecordedFor(seconds));
        session.Stop();
        return lumora::gst::LatestRecordingSeconds();
    }
    AviInfo Recorded() { return ReadAvi((folder / "capture.avi").string()); }
};

TEST_F(SimulatedCamera, OffersAWebcamsModesAndRunsTheLargestFullRatePictureByDefault) {
    session.SetCaptureChoice(CaptureChoice{});
    const std::vector<VideoMode> modes = Modes();
    owner.client = {0, 0, 1920, 1080};  // shown whole, so the preview decodes it whole
    EXPECT_EQ(modes.size(), 9u);
    EXPECT_TRUE(std::find(modes.begin(), modes.end(), VideoMode{1920, 1080, 5, 1, "YUY2"}) != modes.end());
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(session.CurrentVideoMode(), (VideoMode{1920, 1080, 30, 1, "MJPEG"}));
    EXPECT_EQ(videoWidth, 1920);
    EXPECT_EQ(videoHeight, 1080);
    ASSERT_TRUE(WaitForFrames(5));
    EXPECT_EQ(owner.lastWidth, 1920);
}

TEST_F(SimulatedCamera, EveryModePreviewsAndRecordsAtItsSizeAndRate) {
    for (const VideoMode& mode : Modes()) {
        SCOPED_TRACE(VideoModeToText(mode));
        session.SetCaptureChoice(WithMode(mode));
        ASSERT_EQ(Build("JPEG image encoder"), S_OK) << (messages.empty() ? "" : messages.front());
        EXPECT_EQ(session.CurrentVideoMode(), mode);
        EXPECT_EQ(videoWidth, mode.width);
        EXPECT_EQ(videoHeight, mode.height);
        ASSERT_TRUE(WaitForFrames(owner.Frames() + 3));
        const double span = Record(2.2);
        const AviInfo avi = Recorded();
        ASSERT_TRUE(avi.valid);
        EXPECT_TRUE(avi.hasIndex);
        EXPECT_EQ(avi.width, static_cast<uint32_t>(mode.width));
        EXPECT_EQ(avi.height, static_cast<uint32_t>(mode.height));
        const AviStream* video = avi.First("vids");
        ASSERT_NE(video, nullptr);
        ASSERT_GT(video->scale, 0u);
        EXPECT_NEAR(static_cast<double>(video->rate) / video->scale, mode.FramesPerSecond(), 0.01);
        const double expected = mode.FramesPerSecond() * span;
        EXPECT_NEAR(avi.totalFrames, expected, mode.FramesPerSecond() >= 30 ? expected * 0.03 : 1.0);
        EXPECT_GT(span, 2.0);
        session.TearDown();
    }
}

TEST_F(SimulatedCamera, TheCamerasJpegFramesAreRecordedAsSent) {
    session.SetCaptureChoice(WithMode({1280, 720, 30, 1, "MJPEG"}));
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(5));
    const std::vector<std::string> elements = lumora::gst::RunningGraphElementFactories();
    EXPECT_FALSE(Contains(elements, "jpegenc"));
    EXPECT_TRUE(Contains(elements, "lumorascaledjpegdec"));  // the preview still decodes
    session.Stop();
    const AviInfo avi = Recorded();
    ASSERT_TRUE(avi.valid);
    EXPECT_EQ(avi.First("vids")->handler, "MJPG");
    EXPECT_EQ(avi.width, 1280u);
    // Byte for byte the camera's own frames.
    const std::vector<std::vector<uint8_t>> sent = lumora::gst::TestCameraFrames();
    ASSERT_FALSE(avi.firstPictures.empty());
    for (const std::vector<uint8_t>& picture : avi.firstPictures)
        EXPECT_NE(std::find(sent.begin(), sent.end(), picture), sent.end());

    // Raw frames are compressed as chosen.
    session.SetCaptureChoice(WithMode({640, 480, 30, 1, "YUY2"}));
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    ASSERT_TRUE(session.StartRecording());
    EXPECT_TRUE(WaitUntil([] { return Contains(lumora::gst::RunningGraphElementFactories(), "jpegenc"); }, 2));
    session.Stop();
}

TEST_F(SimulatedCamera, TheChosenMicrophoneOrNoSound) {
    CaptureChoice choice = WithMode({640, 480, 30, 1, "MJPEG"});
    choice.sound = CaptureChoice::Sound::None;
    session.SetCaptureChoice(choice);
    ASSERT_EQ(Build(), S_OK);
    Record(0.5);
    EXPECT_EQ(Recorded().Count("auds"), 0);

    ListedNames inputs;
    std::vector<std::string> paths;
    ASSERT_GE(session.ListAudioInputs(&inputs, paths), 1);
    const int tone = inputs.IndexOf("Lumora Test Tone");
    ASSERT_GE(tone, 0);
    choice.sound = CaptureChoice::Sound::Device;
    choice.audioDevicePath = paths[static_cast<std::size_t>(tone)];
    session.SetCaptureChoice(choice);
    ASSERT_EQ(Build(), S_OK);
    Record(1.0);
    const AviInfo avi = Recorded();
    ASSERT_EQ(avi.Count("auds"), 1);
    EXPECT_GT(avi.sound.size(), 20000u);
}

TEST_F(SimulatedCamera, UnpluggedWhileRecordingLeavesAReadableFileAndAnotherStartWorks) {
    std::atomic<int> events{0};
    session.SetEventNotifier([&] { ++events; });
    int devicesChanged = 0;
    session.SetDeviceChangeHandler([&] { ++devicesChanged; });
    session.SetCaptureChoice(WithMode({640, 480, 30, 1, "MJPEG"}));
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(45));
    lumora::gst::UnplugTestCamera();
    ASSERT_TRUE(WaitUntil([&] { return events.load() > 0; }, 5));
    session.ProcessPendingEvents();
    EXPECT_FALSE(session.RecordingActive());
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find("Lumora Test Pattern"), std::string::npos) << messages.back();
    const AviInfo avi = Recorded();
    ASSERT_TRUE(avi.valid);
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_GT(avi.totalFrames, 40u);
    EXPECT_EQ(avi.videoChunks, avi.totalFrames);

    ListedNames gone;
    session.ListVideoDevices(&gone);
    EXPECT_EQ(gone.IndexOf("Lumora Test Pattern"), -1);
    lumora::gst::ReplugTestCamera();
    EXPECT_GE(devicesChanged, 2);
    messages.clear();
    ASSERT_EQ(Build(), S_OK);
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 5));
    session.SetDeviceChangeHandler(nullptr);
}

// A camera whose latency grows during a take (a longer exposure in the
// dark) says so, and the pipeline works its latency out again: its sinks
// then wait as long as the pictures now take.
TEST_F(SimulatedCamera, ACameraWhoseLatencyGrowsDuringATakeIsFollowed) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(WaitForFrames(owner.Frames() + 5));
    const unsigned before = lumora::gst::TestCameraLatencyEvents();
    lumora::gst::SetTestCameraLatency(0.1);
    const bool followed = WaitUntil([&] { return lumora::gst::TestCameraLatencyEvents() > before; }, 3.0);
    lumora::gst::SetTestCameraLatency(0.0);
    EXPECT_TRUE(followed) << "the new latency was not followed";
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 5));
    session.Stop();
    EXPECT_TRUE(Recorded().hasIndex);
}

TEST_F(SimulatedCamera, ACameraThatDoesNotStartIsReportedAndTheWaitGoesOnPumping) {
    int calls = 0;
    session.SetWaitHook([&] { ++calls; });
    lumora::gst::StallTestCameraStart(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(Build(), 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    lumora::gst::StallTestCameraStart(false);
    EXPECT_LT(seconds, 10.0) << "the message must come within 10 s";
    EXPECT_GT(calls, 50);
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find("Lumora Test Pattern"), std::string::npos) << messages.back();
    session.SetWaitHook(nullptr);
    messages.clear();
    ASSERT_EQ(Build(), S_OK);
    EXPECT_TRUE(WaitForFrames(5));
}

}  // namespace
}  // namespace gst_session

// A USB webcam on the kernel's own driver, uvcvideo: the camera that
// scripts/camera-vm/uvc-camera emulates over USB/IP in the virtual machine
// of scripts/with-camera-vm --uvc (which names its node in
// LUMORA_UVC_DEVICE). MJPEG sampled 4:2:2 as webcams send it, YUYV, its
// controls, unplug and plug, damaged pictures. Skipped elsewhere.

#include <cstdio>
#include <filesystem>

#include "capture/CameraControls.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/engine/KernelCameraHelpers.h"

namespace gst_session {
namespace {

constexpr const char* kCameraName = "Lumora USB Camera";

std::string UvcNode() { return BenchText("LUMORA_UVC_DEVICE"); }

// A control's value as the camera itself has it.
std::string EmulatedControl(const std::string& name) {
    std::string value;
    if (FILE* out = popen(("uvc-camera control " + name).c_str(), "r")) {
        char line[64] = {};
        if (fgets(line, sizeof line, out)) value = line;
        pclose(out);
    }
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

class UvcCamera : public GstSession {
protected:
    void SetUp() override {
        if (UvcNode().empty()) GTEST_SKIP() << "no USB webcam (run through scripts/with-camera-vm --uvc)";
        GstSession::SetUp();
        setenv("LUMORA_TEST_SOURCES", "0", 1);
        Choose(VideoModeFromText("640x480@30/1:MJPEG"));
        session.SetEventNotifier([this] { ++notified; });
    }
    void TearDown() override {
        if (UvcNode().empty()) return;
        session.SetEventNotifier(nullptr);
        GstSession::TearDown();
    }
    void Choose(const std::optional<VideoMode>& mode) {  // nullopt: 自动
        CaptureChoice choice;
        choice.sound = CaptureChoice::Sound::None;
        choice.videoMode = mode;
        session.SetCaptureChoice(choice);
    }
    // Its index in the list, where it is listed once: its metadata node is
    // no camera.
    int CameraIndex() {
        ListedNames devices;
        session.ListVideoDevices(&devices);
        int index = -1;
        for (std::size_t i = 0; i < devices.names.size(); ++i) {
            if (devices.names[i].find(kCameraName) == std::string::npos) continue;
            EXPECT_EQ(index, -1) << "listed twice: " << devices.names[i];
            index = static_cast<int>(i);
        }
        return index;
    }
    HRESULT BuildCamera(const std::string& compressor = "") {
        const int camera = CameraIndex();
        EXPECT_GE(camera, 0);
        ListedNames compressors;
        session.ListVideoCompressors(&compressors);
        const int video = compressor.empty() ? -1 : compressors.IndexOf(compressor);
        EXPECT_EQ(video < 0, compressor.empty()) << compressor;
        return session.BuildGraph(camera, video, -1, &owner);
    }
    bool Frames(int count, double seconds = 20) {
        const int from = owner.Frames();
        return WaitUntil([&] { return owner.Frames() >= from + count; }, seconds);
    }
    // A failure reported by the graph, handled as the UI thread handles it.
    bool Reported(double seconds = 15) {
        if (!WaitUntil([this] { return notified.load() > 0; }, seconds)) return false;
        session.ProcessPendingEvents();
        notified = 0;
        return true;
    }
    int32_t BrightnessId() {
        std::vector<CameraControl> controls;
        std::string error;
        EXPECT_TRUE(session.ListCameraControls(controls, error)) << error;
        for (const CameraControl& control : controls)
            if (control.key == "brightness") return static_cast<int32_t>(control.id);
        ADD_FAILURE() << "no brightness control";
        return -1;
    }
    std::atomic<int> notified{0};
};

// 自动 (MJPEG 1280x720, 4:2:2; recorded as JPEG, as sent) and a chosen raw
// mode: preview, a recording whose pictures match the time held at the
// mode's rate, Start again; 自动's preview goes on through damaged pictures.
TEST_F(UvcCamera, PreviewsAndRecordsInAutoAndAChosenMode) {
    struct Case {
        std::optional<VideoMode> mode;
        int width;
        std::string compressor;
    };
    for (const Case& take : {Case{std::nullopt, 1280, "JPEG image encoder"},
                             Case{VideoModeFromText("640x480@30/1:YUY2"), 640, ""}}) {
        const int width = take.width;
        SCOPED_TRACE(width);
        messages.clear();
        fs::remove(folder / "capture.avi");
        Choose(take.mode);
        ASSERT_EQ(BuildCamera(take.compressor), S_OK) << (messages.empty() ? "" : messages.front());
        ASSERT_TRUE(Frames(5)) << (messages.empty() ? "" : messages.front());
        EXPECT_EQ(owner.lastWidth, width);
        const std::optional<VideoMode> running = session.CurrentVideoMode();
        ASSERT_TRUE(running.has_value());
        ASSERT_TRUE(session.StartRecording());
        ASSERT_TRUE(RecordedFor(6.0));
        session.Stop();
        const double held = lumora::gst::LatestRecordingSeconds();
        EXPECT_TRUE(messages.empty()) << messages.front();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        EXPECT_TRUE(avi.hasIndex);
        EXPECT_EQ(avi.width, static_cast<uint32_t>(width));
        const double rate = running->FramesPerSecond();
        EXPECT_NEAR(static_cast<double>(avi.totalFrames), held * rate, held * rate * 0.05);
        ASSERT_EQ(session.Run(), S_OK);
        EXPECT_TRUE(Frames(5)) << "Start after Stop";
        if (!take.mode) {  // twenty undecodable JPEG pictures, as a camera short of bandwidth sends
            ASSERT_TRUE(Shell("uvc fault garbage 20"));
            EXPECT_TRUE(Frames(60, 30)) << "the preview goes on after the burst";
            session.ProcessPendingEvents();
            EXPECT_TRUE(messages.empty()) << messages.front();
        }
        session.TearDown();
    }
}

// Brightness reaches the camera; pulled out while recording, the take keeps
// its index and the message names the camera; plugged in again it is the
// same entry of the list, starts again and gets its brightness again (a
// camera starts from its defaults).
TEST_F(UvcCamera, UnpluggedWhileRecordingComesBackAsItselfWithItsBrightness) {
    const int camera = CameraIndex();
    ASSERT_GE(camera, 0);
    ListedNames before;
    session.ListVideoDevices(&before);
    std::string path;
    ASSERT_TRUE(session.ReadVideoDevicePath(camera, path));
    ASSERT_EQ(BuildCamera(), S_OK) << (messages.empty() ? "" : messages.front());
    ASSERT_TRUE(Frames(5));
    std::string error;
    ASSERT_TRUE(session.SetCameraControl(static_cast<uint32_t>(BrightnessId()), 23, error)) << error;
    EXPECT_EQ(EmulatedControl("brightness"), "23");

    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(Frames(15));
    ASSERT_TRUE(Shell("uvc unplug"));
    ASSERT_TRUE(Reported()) << "the loss is reported";
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find(kCameraName), std::string::npos) << messages.back();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_GT(avi.totalFrames, 10u);
    session.TearDown();

    ASSERT_TRUE(Shell("uvc plug >/dev/null"));
    ASSERT_TRUE(WaitUntil([this] { return CameraIndex() >= 0; }, 10)) << "listed again";
    ListedNames after;
    session.ListVideoDevices(&after);
    std::string pathAfter;
    ASSERT_TRUE(session.ReadVideoDevicePath(CameraIndex(), pathAfter));
    EXPECT_EQ(after.names[static_cast<std::size_t>(CameraIndex())],
              before.names[static_cast<std::size_t>(camera)]);
    EXPECT_EQ(pathAfter, path);
    EXPECT_EQ(EmulatedControl("brightness"), "0");
    messages.clear();
    ASSERT_EQ(BuildCamera(), S_OK) << (messages.empty() ? "" : messages.front());
    ASSERT_TRUE(Frames(5)) << "Start after the replug";
    EXPECT_TRUE(session.ApplyCameraControlValues({{"brightness", 23}}).empty());
    EXPECT_EQ(EmulatedControl("brightness"), "23");
}

}  // namespace
}  // namespace gst_session

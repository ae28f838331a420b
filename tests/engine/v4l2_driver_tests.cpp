// A webcam of the kernel's own: the vivid driver, in the virtual machine of
// scripts/with-camera-vm (which names its node in LUMORA_VIVID_DEVICE).
// The same ioctls, buffer queues and udev events as a USB webcam: modes,
// preview, recording and photos, unplug and plug, another program holding
// it, and the driver's own faults. Skipped elsewhere.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/CameraControls.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/engine/KernelCameraHelpers.h"

namespace gst_session {
namespace {

std::string VividNode() { return BenchText("LUMORA_VIVID_DEVICE"); }

// The descriptors of this process open on a video node.
int OpenVideoNodes() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error && target.string().rfind("/dev/video", 0) == 0) ++count;
    }
    return count;
}

class VividCamera : public GstSession {
protected:
    void SetUp() override {
        if (VividNode().empty()) GTEST_SKIP() << "no vivid camera (run through scripts/with-camera-vm)";
        GstSession::SetUp();
        setenv("LUMORA_TEST_SOURCES", "0", 1);
        CaptureChoice choice;
        choice.sound = CaptureChoice::Sound::None;
        choice.videoMode = VideoModeFromText("640x480@25/1:YUY2");
        session.SetCaptureChoice(choice);
        session.SetEventNotifier([this] { ++notified; });
    }
    void TearDown() override {
        if (VividNode().empty()) return;
        session.SetEventNotifier(nullptr);
        GstSession::TearDown();
    }
    int CameraIndex() {
        ListedNames devices;
        session.ListVideoDevices(&devices);
        int index = -1;
        for (std::size_t i = 0; i < devices.names.size(); ++i) {
            std::string path;
            session.ReadVideoDevicePath(static_cast<int32_t>(i), path);
            if (devices.names[i].find("vivid") != std::string::npos) {
                EXPECT_EQ(index, -1) << "the camera is listed once";
                index = static_cast<int>(i);
            }
        }
        return index;
    }
    std::string CameraName() {
        ListedNames devices;
        session.ListVideoDevices(&devices);
        const int index = CameraIndex();
        return index >= 0 ? devices.names[static_cast<std::size_t>(index)] : "";
    }
    HRESULT BuildCamera() {
        const int camera = CameraIndex();
        EXPECT_GE(camera, 0);
        return session.BuildGraph(camera, -1, -1, &owner);
    }
    bool Frames(int count, double seconds = 20) {
        const int from = owner.Frames();
        return WaitUntil([&] { return owner.Frames() >= from + count; }, seconds);
    }
    // The bench's `vivid` unbinds the driver, which takes the node away as a
    // USB unplug does, and binds it again; each waits for the node.
    void Unplug() { ASSERT_TRUE(Shell("vivid unplug")); }
    void Plug() {
        ASSERT_TRUE(Shell("vivid plug"));
        ASSERT_TRUE(WaitUntil([this] { return CameraIndex() >= 0; }, 10)) << "the monitor lists it again";
    }
    // A failure reported by the graph, handled as the UI thread handles it.
    bool Reported(double seconds = 15) {
        if (!WaitUntil([this] { return notified.load() > 0; }, seconds)) return false;
        session.ProcessPendingEvents();
        notified = 0;
        return true;
    }
    std::atomic<int> notified{0};
};

TEST_F(VividCamera, PreviewsRecordsAndPhotographsInAutoAndAChosenMode) {
    const int camera = CameraIndex();
    ASSERT_GE(camera, 0);
    std::vector<VideoMode> modes;
    ASSERT_GT(session.ListVideoModes(camera, modes), 0);

    // 自动: a driver that states no pixel aspect ratio still negotiates.
    CaptureChoice automatic;
    automatic.sound = CaptureChoice::Sound::None;
    session.SetCaptureChoice(automatic);
    ASSERT_EQ(BuildCamera(), S_OK) << (messages.empty() ? "" : messages.front());
    ASSERT_TRUE(Frames(5)) << "pictures in 自动";
    ASSERT_TRUE(session.CurrentVideoMode().has_value());
    EXPECT_EQ(owner.lastWidth, session.CurrentVideoMode()->width);
    session.TearDown();

    CaptureChoice chosen = automatic;
    chosen.videoMode = VideoMode{640, 480, 25, 1, "YUY2"};
    session.SetCaptureChoice(chosen);
    ASSERT_EQ(BuildCamera(), S_OK) << (messages.empty() ? "" : messages.front());
    ASSERT_TRUE(Frames(5));
    EXPECT_EQ(owner.lastWidth, 640);
    EXPECT_EQ(owner.lastHeight, 480);
    const std::string photo = TakeOnePhoto();
    ASSERT_FALSE(photo.empty());
    EXPECT_EQ(avi_detail::U32(std::vector<uint8_t>(photo.begin(), photo.begin() + 26), 18), 640u);

    // Stop -> Start, then Record -> Stop -> Start: the same pipeline again.
    for (int take = 0; take < 2; ++take) {
        ASSERT_TRUE(session.StartRecording());
        ASSERT_TRUE(Frames(25 * 8, 40));
        session.Stop();
        // Pictures = the span of their timestamps x the rate.
        const double held = lumora::gst::LatestRecordingSeconds();
        EXPECT_TRUE(messages.empty()) << messages.front();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        ASSERT_TRUE(avi.valid);
        EXPECT_TRUE(avi.hasIndex);
        EXPECT_EQ(avi.width, 640u);
        EXPECT_NEAR(static_cast<double>(avi.totalFrames), held * 25, held * 25 * 0.05);
        ASSERT_EQ(session.Run(), S_OK);
        ASSERT_TRUE(Frames(5)) << "Start after Stop";
    }
}

TEST_F(VividCamera, AnotherProgramStreamingItIsNamedNotANegotiationError) {
    // It writes a line for each picture it gets; the busy answer comes only
    // once it streams.
    const std::string log = (folder / "other.log").string();
    const pid_t other = fork();
    if (other == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) dup2(out, 1);
        execlp("gst-launch-1.0", "gst-launch-1.0", "-v", "v4l2src", ("device=" + VividNode()).c_str(), "!",
               "video/x-raw,width=320,height=180,pixel-aspect-ratio=1/1", "!", "fakesink", "silent=false", nullptr);
        _exit(127);
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::ifstream in(log);
            const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            return written.find("chain") != std::string::npos;
        },
        20))
        << "the other program gets no pictures";
    const std::string name = CameraName();
    EXPECT_LT(BuildCamera(), 0);
    kill(other, SIGTERM);
    waitpid(other, nullptr, 0);
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find("正被其他程序使用"), std::string::npos) << messages.back();
    EXPECT_NE(messages.back().find(name), std::string::npos) << messages.back();
}

// Unplugs and plugs, while previewing or recording: each is named, the take
// keeps its index, the node comes back as the same one, and no descriptor
// of it stays behind. Eight here; LUMORA_REPLUG_CYCLES asks for more
// (scripts/soak runs a hundred).
TEST_F(VividCamera, UnpluggedAndPluggedAgainManyTimesHoldingNothing) {
    const std::string node = VividNode();
    const std::string name = CameraName();
    const char* wanted = std::getenv("LUMORA_REPLUG_CYCLES");
    const int cycles = wanted ? std::max(1, std::atoi(wanted)) : 8;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        messages.clear();
        ASSERT_EQ(BuildCamera(), S_OK) << (messages.empty() ? "" : messages.front());
        ASSERT_TRUE(Frames(3));
        const bool recording = cycle % 2 == 1;
        if (recording) {
            ASSERT_TRUE(session.StartRecording());
            ASSERT_TRUE(Frames(10));
        }
        Unplug();
        ASSERT_TRUE(Reported()) << "the loss is reported";
        ASSERT_FALSE(messages.empty());
        EXPECT_NE(messages.back().find(name), std::string::npos) << messages.back();
        if (recording) {
            const AviInfo avi = ReadAvi((folder / "capture.avi").string());
            EXPECT_TRUE(avi.hasIndex);
            EXPECT_GT(avi.totalFrames, 5u);
        }
        session.TearDown();
        EXPECT_EQ(OpenVideoNodes(), 0) << "the node is let go";
        Plug();
        EXPECT_TRUE(fs::exists(node)) << "back under the same node";
    }
}

// Brightness through the driver's own control ioctls: it reaches the
// recorded pictures, and a remembered value is set again on the node a
// replug made (the driver starts from its defaults then).
TEST_F(VividCamera, BrightnessReachesThePicturesAndIsSetAgainAfterAReplug) {
    const auto brightness = [this](CameraControl& found) {
        std::vector<CameraControl> controls;
        std::string error;
        EXPECT_TRUE(session.ListCameraControls(controls, error)) << error;
        for (const CameraControl& control : controls)
            if (control.key == "brightness") found = control;
        return !found.key.empty();
    };
    const auto recordedMean = [this] {
        fs::remove(folder / "capture.avi");
        EXPECT_TRUE(session.StartRecording());
        EXPECT_TRUE(Frames(10));
        session.Stop();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        if (avi.firstPictures.empty()) return -1.0;
        const std::vector<uint8_t>& picture = avi.firstPictures.back();
        // The luma plane of the recorded I420 picture.
        const std::size_t luma = std::min<std::size_t>(picture.size(), 640 * 480);
        double sum = 0;
        for (std::size_t i = 0; i < luma; ++i) sum += picture[i];
        return luma ? sum / static_cast<double>(luma) : -1.0;
    };
    ASSERT_EQ(BuildCamera(), S_OK);
    ASSERT_TRUE(Frames(3));
    CameraControl control;
    ASSERT_TRUE(brightness(control));
    std::string error;
    ASSERT_TRUE(session.SetCameraControl(control.id, control.minimum + (control.maximum - control.minimum) / 8, error))
        << error;
    const double dark = recordedMean();
    ASSERT_TRUE(session.SetCameraControl(control.id, control.maximum - (control.maximum - control.minimum) / 8, error))
        << error;
    const double bright = recordedMean();
    EXPECT_GT(bright, dark + 40) << "dark " << dark << ", bright " << bright;
    const int32_t remembered = control.maximum - (control.maximum - control.minimum) / 8;
    session.TearDown();

    Unplug();
    Plug();
    ASSERT_EQ(BuildCamera(), S_OK);
    ASSERT_TRUE(Frames(3));
    CameraControl fresh;
    ASSERT_TRUE(brightness(fresh));
    EXPECT_EQ(fresh.value, fresh.defaultValue) << "the driver starts over";
    EXPECT_TRUE(session.ApplyCameraControlValues({{"brightness", remembered}}).empty());
    ASSERT_TRUE(brightness(fresh));
    EXPECT_EQ(fresh.value, remembered);
    EXPECT_NEAR(recordedMean(), bright, 10);
}

// The driver's own faults while recording: named, the take kept with its
// index, and Start works again.
TEST_F(VividCamera, DriverFaultsWhileRecordingKeepTheTakeAndLetItStartAgain) {
    struct Fault {
        std::string name;  // as `vivid fault` takes it
        bool ends;         // the stream cannot go on
    };
    for (const Fault& fault : {Fault{"fatal", true}, Fault{"disconnect", true}, Fault{"qbuf", false},
                               Fault{"drop=20", false}}) {
        SCOPED_TRACE(fault.name);
        messages.clear();
        fs::remove(folder / "capture.avi");
        ASSERT_EQ(BuildCamera(), S_OK) << (messages.empty() ? "" : messages.front());
        ASSERT_TRUE(session.StartRecording());
        ASSERT_TRUE(Frames(25));
        ASSERT_TRUE(Shell("vivid fault " + fault.name));
        if (fault.ends) {
            ASSERT_TRUE(Reported());
            ASSERT_FALSE(messages.empty());
        } else {
            EXPECT_TRUE(Frames(25)) << "pictures go on with some dropped";
            session.Stop();
            Shell("vivid fault drop=0");
        }
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        EXPECT_TRUE(avi.hasIndex);
        EXPECT_GT(avi.totalFrames, 10u);
        session.TearDown();
        if (fault.name == "disconnect") {
            // Its node is gone for good until the device is bound again.
            Unplug();
            Plug();
        }
        EXPECT_EQ(OpenVideoNodes(), 0);
        ASSERT_EQ(BuildCamera(), S_OK) << (messages.empty() ? "" : messages.back());
        ASSERT_TRUE(Frames(5)) << "Start after the fault";
        session.TearDown();
    }
}

// A stream that stops (the driver drops every buffer) is started again in
// the same pipeline, with a note rather than a message, and goes on once
// the driver sends again.
TEST_F(VividCamera, AStreamThatStopsIsStartedAgainAndGoesOn) {
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    ASSERT_EQ(BuildCamera(), S_OK);
    ASSERT_TRUE(Frames(10));
    notified = 0;
    ASSERT_TRUE(Shell("vivid fault drop=100"));
    const bool restarted = Reported(10);
    Shell("vivid fault drop=0");
    ASSERT_TRUE(restarted);
    EXPECT_TRUE(Frames(10)) << "pictures after the restart";
    session.SetNoticeHandler(nullptr);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("已重新启动"), std::string::npos) << notices[0];
    EXPECT_TRUE(messages.empty()) << messages.front();
    session.TearDown();
}

// A STREAMON that fails is named at Start, and the next Start works.
TEST_F(VividCamera, StreamonFailureIsNamedAndTheNextStartWorks) {
    ASSERT_TRUE(Shell("vivid fault streamon"));
    messages.clear();
    EXPECT_LT(BuildCamera(), 0);
    EXPECT_FALSE(messages.empty());
    session.TearDown();
    ASSERT_EQ(BuildCamera(), S_OK) << "the next Start works";
    EXPECT_TRUE(Frames(5));
}

}  // namespace
}  // namespace gst_session

// A virtual camera of the kind streaming and phone-as-webcam programs
// publish: v4l2loopback's node, fed by a producer in YUY2 or in MJPEG, in the
// virtual machine of scripts/with-camera-vm --loopback (which names the node
// in LUMORA_LOOPBACK_DEVICE). Skipped elsewhere.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/support/gst/GstTesting.h"
#include "tests/engine/KernelCameraHelpers.h"

namespace gst_session {
namespace {

std::string LoopbackNode() { return BenchText("LUMORA_LOOPBACK_DEVICE"); }

// The video nodes this process holds open, in the order of its descriptors.
std::vector<std::string> OpenVideoNodes() {
    std::vector<std::string> nodes;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.rfind("/dev/video", 0) == 0) nodes.push_back(target);
    }
    return nodes;
}

class LoopbackCamera : public GstSession {
protected:
    void SetUp() override {
        if (LoopbackNode().empty()) GTEST_SKIP() << "no v4l2loopback camera (scripts/with-camera-vm --loopback)";
        GstSession::SetUp();
        setenv("LUMORA_TEST_SOURCES", "0", 1);
        CaptureChoice choice;
        choice.sound = CaptureChoice::Sound::None;
        session.SetCaptureChoice(choice);
    }
    void TearDown() override {
        if (LoopbackNode().empty()) return;
        GstSession::TearDown();
        StopProducer();
    }
    // The producer writes pictures of `size` ("640x480") into the loopback
    // node until stopped; the node is a camera of that size once it writes.
    void StartProducer(const std::string& size, const std::vector<std::string>& command) {
        producer = fork();
        if (producer == 0) {
            std::vector<char*> argv;
            for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        const std::string check = "v4l2-ctl -d " + LoopbackNode() + " --list-formats-ext 2>/dev/null | grep -q " + size;
        WaitUntil([&] { return Shell(check); }, 30);
    }
    void StopProducer() {
        if (producer <= 0) return;
        kill(producer, SIGTERM);
        waitpid(producer, nullptr, 0);
        producer = -1;
    }
    // A loopback node is a camera only while something feeds it, which the
    // device monitor learns from no plug event: it looks again.
    int CameraIndex() {
        int index = -1;
        bool again = false;
        const bool found = WaitUntil(
            [&] {
                if (again) {
                    session.UsePlatform(nullptr);
                    lumora::gst::RestartDeviceWatch();
                    session.UsePlatform(CreateGstCapturePlatform());
                }
                again = true;
                ListedNames devices;
                session.ListVideoDevices(&devices);
                index = devices.IndexOf("Lumora Loopback");
                std::vector<VideoMode> modes;
                listed = devices.names;
                return index >= 0 && session.ListVideoModes(index, modes) > 0;
            },
            12, [] { Wait(0.2); });
        if (found) return index;
        for (const std::string& name : listed) ADD_FAILURE() << "listed: " << name;
        return -1;
    }
    bool Frames(int count, double seconds = 20) {
        const int from = owner.Frames();
        return WaitUntil([&] { return owner.Frames() >= from + count; }, seconds);
    }
    // Preview, a recording of about 6 s (pictures = the span of their
    // timestamps x rate), Stop and Start again; the recording's file.
    AviInfo PreviewRecordStopStart(int videoCompressor) {
        const int camera = CameraIndex();
        EXPECT_GE(camera, 0);
        if (camera < 0) return {};
        EXPECT_EQ(session.BuildGraph(camera, videoCompressor, -1, &owner), S_OK)
            << (messages.empty() ? "" : messages.front());
        EXPECT_TRUE(Frames(5)) << "pictures from the loopback camera";
        const std::optional<VideoMode> mode = session.CurrentVideoMode();
        EXPECT_TRUE(mode.has_value());
        EXPECT_TRUE(session.StartRecording());
        EXPECT_TRUE(Frames(30));
        EXPECT_TRUE(RecordedFor(6.0));
        factories = lumora::gst::RunningGraphElementFactories();
        session.Stop();
        const double held = lumora::gst::LatestRecordingSeconds();
        EXPECT_TRUE(messages.empty()) << messages.front();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        EXPECT_TRUE(avi.hasIndex);
        if (mode) {
            EXPECT_NEAR(static_cast<double>(avi.totalFrames), held * mode->FramesPerSecond(),
                        held * mode->FramesPerSecond() * 0.05);
        }
        EXPECT_EQ(session.Run(), S_OK);
        EXPECT_TRUE(Frames(5)) << "Start after Stop";
        return avi;
    }
    int VideoCompressor(const std::string& name) {
        ListedNames devices, compressors;
        session.ListVideoDevices(&devices);  // makes the enumerator the compressors are listed with
        session.ListVideoCompressors(&compressors);
        return compressors.IndexOf(name);
    }

    pid_t producer = -1;
    std::vector<std::string> listed;
    std::vector<std::string> factories;  // the recording pipeline's elements
};

TEST_F(LoopbackCamera, RawPicturesPreviewAndRecord) {
    StartProducer("640x480", {"gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "!",
                   "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1", "!", "v4l2sink",
                   "device=" + LoopbackNode()});
    const AviInfo avi = PreviewRecordStopStart(-1);
    EXPECT_EQ(avi.width, 640u);
    EXPECT_EQ(avi.height, 480u);
}

// With the JPEG compressor the producer's own JPEG frames are stored as they
// came: nothing is decoded and compressed again.
TEST_F(LoopbackCamera, JpegPicturesAreRecordedAsSent) {
    StartProducer("320x240", {"ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                   "testsrc=size=320x240:rate=30", "-c:v", "mjpeg", "-q:v", "5", "-f", "v4l2", LoopbackNode()});
    const int jpeg = VideoCompressor("JPEG image encoder");
    ASSERT_GE(jpeg, 0);
    const AviInfo avi = PreviewRecordStopStart(jpeg);
    EXPECT_EQ(std::count(factories.begin(), factories.end(), "jpegenc"), 0);
    ASSERT_NE(avi.First("vids"), nullptr);
    EXPECT_EQ(avi.First("vids")->handler, "MJPG");
    ASSERT_FALSE(avi.firstPictures.empty());
    const std::vector<uint8_t>& picture = avi.firstPictures.front();
    ASSERT_GT(picture.size(), 4u);
    EXPECT_EQ(picture[0], 0xFF);
    EXPECT_EQ(picture[1], 0xD8);
}

// Two vivid webcams of one name beside the loopback camera (--vivid-count 2):
// each is listed apart and chosen as itself, by its place and by its
// identity, and their unplug and plug leave the loopback camera's preview
// alone.
TEST_F(LoopbackCamera, RawPreviewGoesOnBesideTwoCamerasOfOneNameThatComeAndGo) {
    if (BenchText("LUMORA_VIVID_COUNT") != "2") GTEST_SKIP() << "no two vivid cameras (--vivid-count 2)";
    StartProducer("640x480", {"gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "!",
                   "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1", "!", "v4l2sink",
                   "device=" + LoopbackNode()});
    const int loopback = CameraIndex();
    ASSERT_GE(loopback, 0);
    ListedNames devices;
    session.ListVideoDevices(&devices);
    std::vector<int> vivid;
    for (std::size_t i = 0; i < devices.names.size(); ++i)
        if (devices.names[i].rfind("vivid", 0) == 0) vivid.push_back(static_cast<int>(i));
    ASSERT_EQ(vivid.size(), 2u);
    EXPECT_NE(devices.names[vivid[0]], devices.names[vivid[1]]) << "told apart";
    CaptureChoice choice;
    choice.sound = CaptureChoice::Sound::None;
    choice.videoMode = VideoModeFromText("640x480@25/1:YUY2");
    std::vector<std::vector<std::string>> nodes;  // held while each previews
    for (const bool byIdentity : {false, true}) {
        for (const int camera : vivid) {
            choice.videoDevicePath.clear();
            if (byIdentity) {
                ASSERT_TRUE(session.ReadVideoDevicePath(camera, choice.videoDevicePath));
            }
            session.SetCaptureChoice(choice);
            ASSERT_EQ(session.BuildGraph(byIdentity ? 0 : camera, -1, -1, &owner), S_OK);
            ASSERT_TRUE(Frames(3));
            nodes.push_back(OpenVideoNodes());
            session.TearDown();
        }
    }
    EXPECT_NE(nodes[0], nodes[1]) << "the second is not the first";
    EXPECT_EQ(nodes[0], nodes[2]);
    EXPECT_EQ(nodes[1], nodes[3]);

    CaptureChoice loopbackChoice;  // its default mode, bound by its index
    loopbackChoice.sound = CaptureChoice::Sound::None;
    session.SetCaptureChoice(loopbackChoice);
    ASSERT_EQ(session.BuildGraph(loopback, -1, -1, &owner), S_OK);
    ASSERT_TRUE(Frames(5));
    ASSERT_TRUE(Shell("vivid unplug"));
    EXPECT_TRUE(Frames(90)) << "pictures after the other cameras' unplug";
    ASSERT_TRUE(Shell("vivid plug"));
    EXPECT_TRUE(Frames(90)) << "pictures after their plug";
    EXPECT_TRUE(messages.empty()) << messages.front();
}

}  // namespace
}  // namespace gst_session

// A camera that comes through PipeWire, as on desktops whose cameras do:
// scripts/with-pipewire starts a private daemon publishing "PipeWire Test
// Camera" (YUY2 640x480 at 30 frames/s) and runs these tests beside it.
// Without that daemon they are skipped.

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "capture/gst/GstTesting.h"
#include "tests/AviReader.h"
#include "tests/engine/GstSessionFixture.h"

namespace gst_session {
namespace {

std::string PublishedCamera() {
    const char* name = std::getenv("LUMORA_PIPEWIRE_CAMERA");
    return name ? name : "";
}

bool SessionManagerRuns() {
    const char* flag = std::getenv("LUMORA_PIPEWIRE_SESSION_MANAGER");
    return flag && std::string(flag) == "1";
}

class PipeWireCamera : public GstSession {
protected:
    void SetUp() override {
        if (PublishedCamera().empty()) GTEST_SKIP() << "no PipeWire daemon (run through scripts/with-pipewire)";
        GstSession::SetUp();
    }
    int CameraIndex() {
        ListedNames devices;
        session.ListVideoDevices(&devices);
        EXPECT_EQ(std::count(devices.names.begin(), devices.names.end(), PublishedCamera()), 1)
            << "the camera is listed once";
        return devices.IndexOf(PublishedCamera());
    }
    HRESULT BuildCamera(const std::string& videoCompressor = "") {
        const int camera = CameraIndex();
        ListedNames compressors, audioCompressors;
        session.ListVideoCompressors(&compressors);
        session.ListAudioCompressors(&audioCompressors);
        const int video = videoCompressor.empty() ? -1 : compressors.IndexOf(videoCompressor);
        return session.BuildGraph(camera, video, -1, &owner);
    }
};

TEST_F(PipeWireCamera, IsListedOncePreviewsAndRecordsInItsOwnMode) {
    if (!SessionManagerRuns()) GTEST_SKIP() << "needs the session manager";
    const int camera = CameraIndex();
    ASSERT_GE(camera, 0);
    std::vector<VideoMode> modes;
    ASSERT_GE(session.ListVideoModes(camera, modes), 1);
    EXPECT_NE(std::find(modes.begin(), modes.end(), VideoMode{640, 480, 30, 1, "YUY2"}), modes.end());

    ASSERT_EQ(BuildCamera("JPEG image encoder"), S_OK) << (messages.empty() ? "" : messages.front());
    EXPECT_EQ(videoWidth, 640);
    EXPECT_EQ(videoHeight, 480);
    ASSERT_TRUE(WaitForFrames(10));
    EXPECT_EQ(owner.lastWidth, 640);

    // Record joins the running preview: the picture goes on through the
    // second of Record, and the file holds the time until Stop.
    using Clock = std::chrono::steady_clock;
    const auto since = [](Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const int before = owner.Frames();
    const Clock::time_point record = Clock::now();
    ASSERT_TRUE(session.StartRecording());
    while (since(record) < 1.0) Wait(0.01);
    EXPECT_GE(owner.Frames() - before, 28) << "pictures shown in the second of Record";
    while (since(record) < 3.0) Wait(0.01);
    const double held = since(record);
    session.Stop();
    EXPECT_TRUE(messages.empty()) << messages.front();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_TRUE(avi.valid);
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_EQ(avi.width, 640u);
    EXPECT_EQ(avi.height, 480u);
    EXPECT_EQ(avi.First("vids")->handler, "MJPG");
    EXPECT_NEAR(PictureSeconds(avi), held, 0.1);
    EXPECT_NEAR(SoundSeconds(avi), PictureSeconds(avi), 0.04);
    // Every picture that entered the recording reached the file.
    const auto offered = static_cast<double>(lumora::gst::FramesOfferedToRecording());
    EXPECT_NEAR(static_cast<double>(avi.totalFrames), offered, 3.0);
    EXPECT_EQ(avi.videoChunks, avi.totalFrames);
}

// Nothing links the camera without a session manager: it never starts.
// The window must not freeze meanwhile (the wait hook stands for its
// repainting), and the user learns which camera failed.
TEST_F(PipeWireCamera, ACameraThatNeverStartsIsReportedWhileTheWindowGoesOn) {
    if (SessionManagerRuns()) GTEST_SKIP() << "needs a daemon without a session manager";
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastCall = Clock::now();
    Clock::duration longestGap{};
    int calls = 0;
    session.SetWaitHook([&] {
        const Clock::time_point now = Clock::now();
        longestGap = std::max(longestGap, now - lastCall);
        lastCall = now;
        ++calls;
    });
    for (int attempt = 0; attempt < 2; ++attempt) {
        messages.clear();
        const Clock::time_point start = Clock::now();
        lastCall = start;
        EXPECT_LT(BuildCamera(), 0);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_LT(seconds, 10.0) << "the message must come within 10 s";
        ASSERT_FALSE(messages.empty());
        EXPECT_NE(messages.back().find(PublishedCamera()), std::string::npos) << messages.back();
    }
    EXPECT_GT(calls, 50);
    EXPECT_LT(std::chrono::duration<double>(longestGap).count(), 0.5);
    session.SetWaitHook(nullptr);
}

}  // namespace
}  // namespace gst_session

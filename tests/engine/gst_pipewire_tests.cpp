// A camera that comes through PipeWire, as on desktops whose cameras do:
// scripts/with-pipewire starts a private daemon publishing "PipeWire Test
// Camera" (YUY2 640x480 at 30 frames/s) and runs these tests beside it.
// Without that daemon they are skipped.

#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/gst/GstTesting.h"
#include "tests/AviReader.h"
#include "tests/engine/GstSessionFixture.h"
#include "capture/gst/PipeWireCameraRest.h"

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
    // second of Record (the preview shows a second's pictures once the
    // recording holds as many), and the file holds the time until Stop.
    using Clock = std::chrono::steady_clock;
    const auto since = [](Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const int before = owner.Frames();
    const Clock::time_point record = Clock::now();
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(30));
    EXPECT_GE(owner.Frames() - before, 28) << "pictures shown in the second of Record";
    ASSERT_TRUE(PicturesRecorded(60));
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

// A producer that stops sending (stopped with SIGSTOP) has its camera
// started again inside the pipeline: once the producer goes on, so does
// the preview, and the status bar said why the picture stood still.
TEST_F(PipeWireCamera, AProducerThatStopsAndGoesOnHasThePreviewBack) {
    if (!SessionManagerRuns()) GTEST_SKIP() << "needs the session manager";
    const auto producer = [](const char* action) {
        return std::system((std::getenv("LUMORA_PIPEWIRE_CAMERA_CONTROL") + std::string(" ") + action).c_str()) == 0;
    };
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    std::atomic<int> events{0};
    session.SetEventNotifier([&] { ++events; });
    ASSERT_EQ(BuildCamera(), S_OK) << (messages.empty() ? "" : messages.front());
    ASSERT_TRUE(WaitForFrames(10));
    ASSERT_TRUE(producer("freeze"));
    const bool told = WaitUntil([&] { return events.load() > 0; }, 10);
    ASSERT_TRUE(producer("thaw"));
    ASSERT_TRUE(told) << "the stopped camera went unnoticed";
    session.ProcessPendingEvents();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("已重新启动"), std::string::npos) << notices[0];
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 10));
    session.ProcessPendingEvents();
    EXPECT_TRUE(messages.empty()) << messages.front();
    session.SetEventNotifier(nullptr);
    session.SetNoticeHandler(nullptr);
}

// A program run beside the test, its output in `log`; ended with it.
class Program {
public:
    Program(std::vector<std::string> argv, std::string log, const char* gstDebug = nullptr)
        : logPath(std::move(log)) {
        pid = ::fork();
        if (pid != 0) return;
        const int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        if (gstDebug) {
            ::setenv("GST_DEBUG", gstDebug, 1);
            ::setenv("GST_DEBUG_NO_COLOR", "1", 1);
        }
        std::vector<char*> args;
        for (std::string& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ~Program() {
        if (pid <= 0 || exited) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    // Its exit code once it ends within `seconds`; -1 while it runs on.
    int Exit(double seconds) {
        int status = 0;
        if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, seconds)) return -1;
        exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::size_t Count(const std::string& text) const {
        std::ifstream in(logPath);
        const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::size_t count = 0;
        for (std::size_t at = written.find(text); at != std::string::npos; at = written.find(text, at + 1)) ++count;
        return count;
    }
    // Whether `text` is in its output `count` times within `seconds`.
    bool Wrote(const std::string& text, std::size_t count, double seconds) const {
        return WaitUntil([&] { return Count(text) >= count; }, seconds);
    }

private:
    std::string logPath;
    pid_t pid = -1;
    bool exited = false;
};

constexpr const char* kVirtualCamera = "Virtual Camera";

// Another program's client of the virtual camera, as bare as one gets,
// writing a line for each picture; with `pictures`, it ends (0) after so many.
std::vector<std::string> BareClient(int pictures) {
    std::vector<std::string> argv{"gst-launch-1.0", "-v", "pipewiresrc", "target-object=lumora-virtual-cam"};
    if (pictures > 0) argv.push_back("num-buffers=" + std::to_string(pictures));
    for (const char* arg : {"!", "videoconvert", "!", "fakesink", "silent=false"}) argv.emplace_back(arg);
    return argv;
}

// A virtual camera as the tools that make one publish it: GStreamer's
// pipewiresink (run through with-pipewire --no-camera, so that it is the
// only camera), with a line written for each picture handed to it. An
// older sink loses the buffers it is handed while nobody streams from it,
// and then waits; a pooled one (PipeWireSinksNeedRest false) ends when its consumer's
// link goes, as with any program, and is published again for the next.
class PipeWireVirtualCamera : public GstSession {
protected:
    void SetUp() override {
        if (!SessionManagerRuns() || !PublishedCamera().empty())
            GTEST_SKIP() << "run through scripts/with-pipewire --no-camera";
        if (std::system("gst-launch-1.0 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gst-launch-1.0";
        GstSession::SetUp();
        Publish();
    }
    void Publish() {
        publisher.reset();
        publisher.emplace(std::vector<std::string>{"gst-launch-1.0", "-v", "videotestsrc", "is-live=true", "!",
                                                   "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1",
                                                   "!", "identity", "silent=false", "!", "pipewiresink", "mode=provide",
                                                   R"(stream-properties="props,media.class=Video/Source,)"
                                                   R"(node.name=lumora-virtual-cam,)"
                                                   R"(node.description=\"Virtual Camera\"")"},
                          (folder / ("publisher" + std::to_string(++published) + ".log")).string());
        ASSERT_TRUE(WaitUntil([this] { return CameraIndex() >= 0; }, 5)) << "the virtual camera was not published";
    }
    // After a preview is taken down: a pooled sink ended with its link.
    void PublishAgainWhereItEnded() {
        if (lumora::gst::PipeWireSinksNeedRest()) return;
        ASSERT_NE(publisher->Exit(5), -1) << "the pooled sink outlived its link";
        ASSERT_TRUE(WaitUntil(
            [this] {
                session.ProcessPendingEvents();
                return CameraIndex() < 0;
            },
            5))
            << "its node stayed listed";
        Publish();
    }
    int CameraIndex() {
        ListedNames devices;
        session.ListVideoDevices(&devices);
        return devices.IndexOf(kVirtualCamera);
    }
    // Stopped until the sink waits for a buffer: an older pipewiresink left
    // idle loses all it had, and then takes no more pictures.
    void StopAWhile(const std::string& what) {
        session.Stop();
        std::size_t handed = publisher->Count("chain");
        auto since = std::chrono::steady_clock::now();
        EXPECT_TRUE(WaitUntil(
            [&] {
                if (const std::size_t now = publisher->Count("chain"); now != handed) {
                    handed = now;
                    since = std::chrono::steady_clock::now();
                }
                return std::chrono::steady_clock::now() - since > std::chrono::milliseconds(300);
            },
            5))
            << what << ": the sink never waited";
    }
    bool ProgramGetsPictures(const std::string& name) {
        return Program(BareClient(30), (folder / (name + ".log")).string()).Exit(10) == 0;
    }

    std::optional<Program> publisher;
    int published = 0;
};

// Three previews in a row, each stopped a while, started again, stopped a
// while and taken down, leave the camera sending to the next program (it
// used to send nothing to anyone after the first stop); and a preview
// joins another program's.
TEST_F(PipeWireVirtualCamera, StaysWorkingForOtherProgramsAfterPreviews) {
    for (int start = 1; start <= 3; ++start) {
        const std::string what = "start " + std::to_string(start);
        const int before = owner.Frames();
        ASSERT_EQ(session.BuildGraph(CameraIndex(), -1, -1, &owner), S_OK)
            << what << ": " << (messages.empty() ? "" : messages.front());
        EXPECT_TRUE(WaitForFrames(before + 10)) << what;
        // PipeWire's source (1.4) links anew as it starts again, which a
        // pooled sink does not outlive: there a preview is built each time.
        if (lumora::gst::PipeWireSinksNeedRest()) {
            StopAWhile(what);
            const int stopped = owner.Frames();
            EXPECT_EQ(session.Run(), S_OK) << what << ": " << (messages.empty() ? "" : messages.back());
            EXPECT_TRUE(WaitForFrames(stopped + 10)) << what << ", started again";
            StopAWhile(what + ", started again");
        }
        session.TearDown();
        PublishAgainWhereItEnded();
    }
    EXPECT_TRUE(ProgramGetsPictures("after")) << "another program gets no pictures";
    PublishAgainWhereItEnded();

    Program other(BareClient(0), (folder / "other.log").string());
    ASSERT_TRUE(other.Wrote("chain", 1, 10)) << "the other program gets no pictures";
    const int before = owner.Frames();
    ASSERT_EQ(session.BuildGraph(CameraIndex(), -1, -1, &owner), S_OK) << (messages.empty() ? "" : messages.front());
    EXPECT_TRUE(WaitForFrames(before + 10)) << "beside another program";
    EXPECT_TRUE(messages.empty()) << messages.front();
}

}  // namespace
}  // namespace gst_session

// Sound in step with the picture. A sync signal (a picture that turns white
// and a tone that stops at the same instants, every 5 s) is recorded, and
// every event's sound must lie within one picture (40 ms) of its picture,
// from the first event to the last, with the tracks as long as each other.
// The PipeWire tests run through scripts/with-pipewire, beside a PulseAudio
// daemon of their own; the signal comes from one publishing process.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tests/support/gst/GstTesting.h"
#include "tests/SyncSignal.h"
#include "tests/engine/GstSessionFixture.h"
#include "tests/engine/PulseServer.h"

namespace gst_session {
namespace {

constexpr double kOnePicture = 0.040;
constexpr double kPeriod = 5.0;
const char* const kSyncCamera = "Lumora Sync Camera";

// LUMORA_SYNC_SECONDS shortens the takes (the sanitizer runs, which are slow).
double TakeSeconds() {
    const char* seconds = std::getenv("LUMORA_SYNC_SECONDS");
    return seconds ? std::atof(seconds) : 60.0;
}

// Every event within one picture (those after `recovered` seconds within
// `strayAfter`); at least the events the take's pictures span, less the one
// it may begin on and those `lost` around a loss.
void ExpectInStep(const fs::path& recording, int lost = 0, double recovered = 1e9, double strayAfter = kOnePicture) {
    if (const char* keep = std::getenv("LUMORA_SYNC_KEEP")) fs::copy_file(recording, keep, fs::copy_options::overwrite_existing);
    const SyncEvents events = FindSyncEvents(recording.string());
    const std::vector<SyncOffset> offsets = SyncOffsets(events);
    EXPECT_GT(events.pictureSeconds, 0.0);
    EXPECT_GE(static_cast<int>(offsets.size()), static_cast<int>(events.pictureSeconds / kPeriod) - 1 - lost);
    int missing = 0;
    std::string seen;
    for (const SyncOffset& pair : offsets) {
        char line[64];
        std::snprintf(line, sizeof line, " %.1f s: %+.0f ms", pair.picture, pair.offset * 1000);
        seen += line;
        if (std::isnan(pair.offset)) {
            ++missing;
            continue;
        }
        EXPECT_LE(std::abs(pair.offset), pair.picture > recovered ? strayAfter : kOnePicture) << "the sound strays " << pair.offset * 1000 << " ms at "
                                                      << pair.picture << " s";
    }
    std::printf("sound against picture:%s; tracks %.3f s and %.3f s\n", seen.c_str(), events.soundSeconds,
                events.pictureSeconds);
    EXPECT_LE(missing, lost) << "events without their sound";
    EXPECT_NEAR(events.soundSeconds, events.pictureSeconds, kOnePicture);
}

// Records until the pictures span `seconds`, running `during` (if any)
// once they span `at`, with the session's events handled as the UI thread
// handles them.
void RecordFor(CCaptureSession& session, const std::vector<std::string>& messages, double seconds, double at = 0,
               const std::function<void()>& during = nullptr) {
    ASSERT_TRUE(session.StartRecording()) << (messages.empty() ? "" : messages.front());
    bool done = !during;
    const bool recorded = WaitUntil(
        [&] {
            session.ProcessPendingEvents();
            if (!done && lumora::gst::LatestRecordingSeconds() >= at) {
                during();
                done = true;
            }
            return lumora::gst::LatestRecordingSeconds() >= seconds;
        },
        seconds + 30, [] { Wait(0.05); });
    EXPECT_TRUE(recorded) << "the pictures stopped at " << lumora::gst::LatestRecordingSeconds() << " s";
    session.ProcessPendingEvents();
    session.Stop();
}

// The test pattern and the tone as a sync signal, in one pipeline.
class SimulatedSyncSignal : public GstSession {
protected:
    void SetUp() override {
        setenv("LUMORA_TEST_SYNC_SIGNAL", "5", 1);
        GstSession::SetUp();
    }
    void TearDown() override {
        GstSession::TearDown();
        unsetenv("LUMORA_TEST_SYNC_SIGNAL");
    }
};

TEST_F(SimulatedSyncSignal, TheTestPatternAndToneStayInStep) {
    ASSERT_EQ(Build(), S_OK);
    RecordFor(session, messages, TakeSeconds());
    EXPECT_TRUE(messages.empty()) << messages.front();
    ExpectInStep(folder / "capture.avi");
}

// A sound input that fails for good (its device gone, with nothing to move
// to): the recording goes on, silent from there, told once, and nothing
// before it shifts.
TEST_F(SimulatedSyncSignal, ASoundInputThatFailsLeavesSilenceInItsPlace) {
    ASSERT_EQ(Build(), S_OK);
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    RecordFor(session, messages, 16.0, 7.0, [] { lumora::gst::FailTestTone(true); });
    lumora::gst::FailTestTone(false);
    EXPECT_TRUE(messages.empty()) << messages.front();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "声音输入“Lumora Test Tone”已断开，录相继续，没有声音");
    ExpectInStep(folder / "capture.avi", 2);
}

// A camera that freezes during a take is started again: the take goes on
// in the same file, the last picture held over the gap, and every event
// after it still in step with its sound.
TEST_F(SimulatedSyncSignal, ACameraThatFreezesDuringATakeComesBackInTheSameFile) {
    ASSERT_EQ(Build(), S_OK);
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    RecordFor(session, messages, 16.0, 6.0, [] { lumora::gst::FreezeTestCamera(); });
    EXPECT_TRUE(messages.empty()) << messages.front();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "摄像头“Lumora Test Pattern”停止了发送画面，已重新启动。");
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    EXPECT_NEAR(PictureSeconds(avi), lumora::gst::LatestRecordingSeconds(), 0.2);
    ExpectInStep(folder / "capture.avi", 1);
}

// A sound card whose crystal runs 1 % fast or slow against the system's
// clock (far more than real ones do, so that a short take shows it): its
// sample count is kept to the clock, the sound never drifts off.
TEST_F(SimulatedSyncSignal, AToneThatRunsFastOrSlowStaysInStep) {
    for (const double error : {0.01, -0.01}) {
        SCOPED_TRACE(error);
        lumora::gst::SetTestToneRateError(error);
        ASSERT_EQ(Build(), S_OK);
        RecordFor(session, messages, 16.0);
        session.TearDown();
        lumora::gst::SetTestToneRateError(0);
        EXPECT_TRUE(messages.empty()) << messages.front();
        ExpectInStep(folder / "capture.avi");
    }
}

// One PulseAudio daemon serves the whole suite. It starts before the
// suite's first platform, so that the process's device watch finds it when
// it starts: the watch is never stopped here, since stopping one that has
// talked to a PipeWire daemon corrupts the heap in PipeWire's provider
// (0.3.65); the program never stops its watch either. The suite runs in a
// process of its own (the sound_sync test). Each test gets the microphone
// back as the suite began with it.
class SyncSignal : public GstSession {
protected:
    static constexpr const char* kMicrophone =
        "load-module module-remap-source source_name=microphone master=room.monitor "
        "source_properties=device.description=USB-Microphone";

    static void SetUpTestSuite() {
        if (!std::getenv("LUMORA_PIPEWIRE_CAMERA") || !PulseServer::Installed()) return;
        // The room hears the signal's tone; the microphone (the default
        // input) is the room's monitor, as a headset's would be.
        server = std::make_unique<PulseServer>();
        if (!server->Start(std::string("load-module module-null-sink sink_name=room "
                                       "sink_properties=device.description=Room\n") +
                           kMicrophone + "\nset-default-source microphone"))
            server.reset();
    }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override {
        if (!std::getenv("LUMORA_PIPEWIRE_CAMERA")) GTEST_SKIP() << "no PipeWire daemon (run through scripts/with-pipewire)";
        if (!PulseServer::Installed()) GTEST_SKIP() << "pulseaudio is not installed";
#ifndef LUMORA_SYNC_SIGNAL_TOOL
        GTEST_SKIP() << "the sync signal needs libpipewire-0.3-dev";
#else
        GstSession::SetUp();
        CaptureChoice choice;
        choice.videoMode = VideoModeFromText("640x480@30/1:YUY2");
        session.SetCaptureChoice(choice);
        ASSERT_TRUE(server) << "the sound server did not start";
        ::kill(server->Pid(), SIGCONT);
        const std::string restore = std::string("pactl list short modules | grep -q module-remap-source || pactl ") +
                                    kMicrophone + "; pactl set-default-source microphone && pactl suspend-source microphone 0";
        ASSERT_EQ(std::system(restore.c_str()), 0) << "the microphone is not back";
        publisher = ::fork();
        if (publisher == 0) {
            ::execl(LUMORA_SYNC_SIGNAL_TOOL, "lumora_sync_signal", kSyncCamera, "room", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(publisher, 0);
        ASSERT_TRUE(WaitUntil([this] { return CameraIndex() >= 0; }, 5)) << "the sync camera was not published";
#endif
    }
    // The take's camera is let go before its program ends, as the program
    // a user closes goes before the camera program does.
    void TearDown() override {
        GstSession::TearDown();
        if (publisher > 0) {
            ::kill(publisher, SIGTERM);
            ::waitpid(publisher, nullptr, 0);
        }
    }
    int CameraIndex() {
        ListedNames devices;
        session.ListVideoDevices(&devices);
        return devices.IndexOf(kSyncCamera);
    }
    HRESULT BuildSync() { return session.BuildGraph(CameraIndex(), -1, -1, &owner); }
    void Record(double seconds, double at = 0, const std::function<void()>& during = nullptr) {
        RecordFor(session, messages, seconds, at, during);
    }

    static inline std::unique_ptr<PulseServer> server;
    pid_t publisher = -1;
};

TEST_F(SyncSignal, APipeWireCameraAndAPulseAudioMicrophoneStayInStep) {
    ASSERT_EQ(BuildSync(), S_OK) << (messages.empty() ? "" : messages.front());
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    Record(TakeSeconds());
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_TRUE(notices.empty()) << notices.front();
    ExpectInStep(folder / "capture.avi");
}

// The microphone's module unloaded 5 s into the take: the server moves the
// stream to the room's monitor, which hears the same tone. Nothing of the
// sound shifts, and the user is told once which input the sound now comes from.
TEST_F(SyncSignal, AMicrophoneThatGoesAwayShiftsNothing) {
    ASSERT_EQ(BuildSync(), S_OK) << (messages.empty() ? "" : messages.front());
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    const double seconds = std::min(TakeSeconds(), 22.0);
    Record(seconds, 5.0, [] { ASSERT_EQ(std::system("pactl unload-module module-remap-source"), 0); });
    EXPECT_TRUE(messages.empty()) << messages.front();
    ExpectInStep(folder / "capture.avi", 1);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "声音输入“USB-Microphone”已断开，录相继续，声音来自“Monitor of Room”");
}

// The microphone suspended by the server for 3 s: silence stands in at its
// place, and the user hears of it once.
TEST_F(SyncSignal, ASuspendedMicrophoneShiftsNothing) {
    ASSERT_EQ(BuildSync(), S_OK) << (messages.empty() ? "" : messages.front());
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    const double seconds = std::min(TakeSeconds(), 22.0);
    Record(seconds, 5.0, [] {
        ASSERT_EQ(std::system("pactl suspend-source microphone 1"), 0);
        Wait(3.0);
        ASSERT_EQ(std::system("pactl suspend-source microphone 0"), 0);
    });
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(notices.size(), 1u);
    ExpectInStep(folder / "capture.avi", 1);
}

// The whole sound server stopped (SIGSTOP) for 3 s: the tracks keep their
// length and nothing before it moves. The signal's own tone goes through
// the same server, whose output is out of step for a while after it wakes
// (20 to 170 ms, both ways, run to run), so the events after it are held
// only to half a second: no shift by the hang's length.
TEST_F(SyncSignal, ASoundServerThatHangsShiftsNothing) {
    ASSERT_EQ(BuildSync(), S_OK) << (messages.empty() ? "" : messages.front());
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    const double seconds = std::min(TakeSeconds(), 22.0);
    Record(seconds, 5.0, [this] {
        ::kill(server->Pid(), SIGSTOP);
        Wait(3.0);
        ::kill(server->Pid(), SIGCONT);
    });
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(notices.size(), 1u);
    ExpectInStep(folder / "capture.avi", 2, 8.0, 0.5);
}

}  // namespace
}  // namespace gst_session

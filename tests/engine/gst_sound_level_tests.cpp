// The sound input's level while previewing and recording, and the device
// dialog's meter of an input on its own: a tone of known level through a
// real PulseAudio daemon, silence, the built-in test tone, and no input.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "capture/SoundLevelSlot.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/engine/GstSessionFixture.h"
#include "tests/engine/PulseServer.h"

namespace {

using namespace gst_session;
using SoundLevelTest = GstSession;

// A 1 kHz sine of amplitude 0.1 (-20 dBFS) played into a sink of the
// PulseAudio daemon of the test, by gst-launch-1.0, while it lives.
class TonePlayer {
public:
    explicit TonePlayer(const std::string& sink) {
        pid = ::fork();
        if (pid == 0) {
            const std::string device = "device=" + sink;
            ::execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "audiotestsrc", "is-live=true", "freq=1000",
                     "volume=0.1", "!", "audio/x-raw,format=S16LE,rate=48000,channels=2", "!", "pulsesink",
                     device.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~TonePlayer() { Stop(); }
    void Stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
};

// Waits (up to `limit` seconds) for `wanted` new readings from `read` and
// returns them; fewer when the readings stopped coming.
std::vector<SoundLevel> NextReadings(const std::function<uint64_t(SoundLevel&)>& read, std::size_t wanted,
                                     double limit = 10.0) {
    std::vector<SoundLevel> readings;
    SoundLevel level;
    uint64_t seen = read(level);
    WaitUntil(
        [&] {
            const uint64_t count = read(level);
            if (count != seen) readings.push_back(level);
            seen = count;
            return readings.size() >= wanted;
        },
        limit, [] { Wait(0.02); });
    return readings;
}

std::vector<SoundLevel> SessionReadings(const CCaptureSession& session, std::size_t wanted, double limit = 10.0) {
    return NextReadings([&](SoundLevel& level) { return session.ReadSoundLevel(level); }, wanted, limit);
}

// The peak once the input has settled: the last of `readings`.
double LastPeak(const std::vector<SoundLevel>& readings) { return readings.empty() ? 1.0 : readings.back().peakDb; }

bool OnlyTheTestTone() {
    ListedNames names;
    std::vector<std::string> paths;
    CCaptureSession probe(CreateGstCapturePlatform());
    probe.ListAudioInputs(&names, paths);
    return names.names == std::vector<std::string>{"Lumora Test Tone"};
}

}  // namespace

// A tone at -20 dBFS reads -20 (its peak; its RMS 3 dB lower) while
// previewing, also while recording, where the recording's own sound chain
// measures; silence reads below -60. The device dialog's meter of the
// same input reads the same.
TEST_F(SoundLevelTest, AToneAtMinus20dBFSReadsMinus20AndSilenceBelowMinus60) {
    if (!PulseServer::Installed()) GTEST_SKIP() << "pulseaudio is not installed";
    session.UsePlatform(nullptr);
    PulseServer pulse;
    const DeviceWatchRestartAtEnd restartAtEnd{session};
    ASSERT_TRUE(pulse.Start(
        "load-module module-null-sink sink_name=room sink_properties=device.description=Room\n"
        "load-module module-remap-source source_name=microphone master=room.monitor "
        "source_properties=device.description=USB-Microphone\n"
        "set-default-source microphone"));
    lumora::gst::RestartDeviceWatch();
    session.UsePlatform(CreateGstCapturePlatform());
    TonePlayer tone("room");

    ASSERT_EQ(Build(), S_OK);
    EXPECT_TRUE(session.HasSoundInput());
    std::vector<SoundLevel> readings = SessionReadings(session, 15);
    ASSERT_EQ(readings.size(), 15u);
    for (std::size_t i = readings.size() - 5; i < readings.size(); ++i) {
        EXPECT_NEAR(readings[i].peakDb, -20.0, 2.0);
        EXPECT_NEAR(readings[i].rmsDb, -23.0, 2.0);
    }

    ASSERT_TRUE(session.StartRecording()) << (messages.empty() ? "" : messages.front());
    readings = SessionReadings(session, 10);
    ASSERT_EQ(readings.size(), 10u) << "no level while recording";
    EXPECT_NEAR(LastPeak(readings), -20.0, 2.0);
    ASSERT_EQ(session.Stop(), S_OK);
    // A stopped meter reads nothing while one that runs on reads five levels.
    SoundLevel level;
    uint64_t stopped = session.ReadSoundLevel(level);
    ASSERT_TRUE(ToneMeterReads(5));
    EXPECT_EQ(session.ReadSoundLevel(level), stopped) << "the meter goes on after Stop";
    ASSERT_EQ(session.Run(), S_OK);
    readings = SessionReadings(session, 10);
    ASSERT_EQ(readings.size(), 10u) << "no level after the recording";
    EXPECT_NEAR(LastPeak(readings), -20.0, 2.0);

    auto dialogLevels = std::make_shared<SoundLevelSlot>();
    {
        std::unique_ptr<ISoundMeter> meter =
            session.MeterAudioInput("", [dialogLevels](const SoundLevel& level) { dialogLevels->Put(level); });
        ASSERT_NE(meter, nullptr);
        readings = NextReadings([&](SoundLevel& level) { return dialogLevels->Read(level); }, 10);
        ASSERT_EQ(readings.size(), 10u);
        EXPECT_NEAR(LastPeak(readings), -20.0, 2.0);
    }
    stopped = dialogLevels->Read(level);
    ASSERT_EQ(SessionReadings(session, 5).size(), 5u);
    EXPECT_EQ(dialogLevels->Read(level), stopped) << "the dialog's meter goes on after it was let go";

    tone.Stop();
    readings = SessionReadings(session, 20);
    ASSERT_EQ(readings.size(), 20u);
    EXPECT_LT(LastPeak(readings), -60.0);
    EXPECT_LT(readings.back().rmsDb, -60.0);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

// Without a sound server the built-in tone (440 Hz at amplitude 0.2,
// -14 dBFS) is the input, and its level reads so, in the preview and in
// a meter of its own.
TEST_F(SoundLevelTest, TheTestToneReadsItsLevel) {
    if (!OnlyTheTestTone()) GTEST_SKIP() << "this machine has sound inputs of its own";
    ASSERT_EQ(Build(), S_OK);
    std::vector<SoundLevel> readings = SessionReadings(session, 10);
    ASSERT_EQ(readings.size(), 10u);
    EXPECT_NEAR(LastPeak(readings), -14.0, 2.0);
    EXPECT_NEAR(readings.back().rmsDb, -17.0, 2.0);

    ASSERT_EQ(session.Pause(), S_OK);
    SoundLevel level;
    const uint64_t paused = session.ReadSoundLevel(level);
    ASSERT_TRUE(ToneMeterReads(5));
    EXPECT_EQ(session.ReadSoundLevel(level), paused) << "the meter goes on while paused";

    auto levels = std::make_shared<SoundLevelSlot>();
    std::unique_ptr<ISoundMeter> meter =
        session.MeterAudioInput("", [levels](const SoundLevel& level) { levels->Put(level); });
    ASSERT_NE(meter, nullptr);
    readings = NextReadings([&](SoundLevel& level) { return levels->Read(level); }, 10);
    ASSERT_EQ(readings.size(), 10u);
    EXPECT_NEAR(LastPeak(readings), -14.0, 2.0);
}

// "无声音": the graph has no sound input and nothing is measured.
TEST_F(SoundLevelTest, WithoutASoundInputNothingIsMeasured) {
    CaptureChoice choice = session.GetCaptureChoice();
    choice.sound = CaptureChoice::Sound::None;
    session.SetCaptureChoice(choice);
    ASSERT_EQ(Build(), S_OK);
    EXPECT_FALSE(session.HasSoundInput());
    ASSERT_TRUE(WaitForFrames(owner.Frames() + 15));  // half a second of pictures
    SoundLevel level;
    EXPECT_EQ(session.ReadSoundLevel(level), 0u);
}

namespace {

// The first entry of `category` named `name` ("" : the first entry), bound.
FilterPtr BoundEntry(ICreateDevEnum& devices, DeviceCategory category, const std::string& name) {
    std::unique_ptr<IEnumMoniker> entries;
    if (devices.CreateClassEnumerator(category, entries) != S_OK) return nullptr;
    std::unique_ptr<IMoniker> entry;
    while (entries->Next(entry) == S_OK) {
        std::string listed;
        FilterPtr filter;
        if (SUCCEEDED(entry->ReadFriendlyName(listed)) && (name.empty() || listed == name) &&
            SUCCEEDED(entry->BindToObject(filter)))
            return filter;
    }
    return nullptr;
}

}  // namespace

// The graph knows its sound input by what the filter is, not by the name
// it was added under: another name still gets the input metered.
TEST_F(SoundLevelTest, TheSoundInputIsMeteredWhateverNameItIsAddedUnder) {
    if (!OnlyTheTestTone()) GTEST_SKIP() << "this machine has sound inputs of its own";
    std::unique_ptr<ICapturePlatform> platform = CreateGstCapturePlatform();
    std::unique_ptr<ICreateDevEnum> devices;
    ASSERT_EQ(platform->CreateDeviceEnumerator(devices), S_OK);
    const FilterPtr camera = BoundEntry(*devices, DeviceCategory::VideoInputDevice, "Lumora Test Pattern");
    const FilterPtr tone = BoundEntry(*devices, DeviceCategory::AudioInputDevice, "");
    ASSERT_TRUE(camera && tone);
    std::unique_ptr<IGraphBuilder> graph;
    std::unique_ptr<ICaptureGraphBuilder2> builder;
    std::shared_ptr<ISampleGrabber> grabber;
    ASSERT_EQ(platform->CreateFilterGraph(graph), S_OK);
    ASSERT_EQ(platform->CreateCaptureGraphBuilder(builder), S_OK);
    ASSERT_EQ(platform->CreateSampleGrabber(grabber), S_OK);
    builder->SetFiltergraph(graph.get());
    auto levels = std::make_shared<SoundLevelSlot>();
    graph->SetSoundLevelHandler([levels](const SoundLevel& level) { levels->Put(level); });
    graph->AddFilter(camera, "Camera");
    graph->AddFilter(grabber, "Frames");
    graph->AddFilter(tone, "Microphone");
    ASSERT_EQ(builder->RenderStream(PinCategory::Preview, MediaType::Video, camera, grabber, nullptr), S_OK);
    graph->QueryVideoWindow()->PutOwner(&owner);
    ASSERT_EQ(graph->QueryMediaControl()->Run(), S_OK);
    EXPECT_EQ(NextReadings([&](SoundLevel& level) { return levels->Read(level); }, 3).size(), 3u);
    graph->QueryMediaControl()->Stop();
    graph->QueryVideoWindow()->PutOwner(nullptr);
}

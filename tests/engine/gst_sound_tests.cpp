// The sound of a recording: which input is recorded (with a real PulseAudio
// daemon), and a sound input that stalls while recording.

#include <atomic>
#include <cmath>

#include "tests/support/gst/GstTesting.h"
#include "tests/AviReader.h"
#include "tests/engine/GstSessionFixture.h"
#include "tests/engine/PulseServer.h"

namespace {

using namespace gst_session;
using SoundRecording = GstSession;

std::vector<std::string> AudioInputNames() {
    std::unique_ptr<ICreateDevEnum> enumerator;
    std::unique_ptr<IEnumMoniker> entries;
    std::vector<std::string> names;
    if (CreateGstCapturePlatform()->CreateDeviceEnumerator(enumerator) != S_OK ||
        enumerator->CreateClassEnumerator(DeviceCategory::AudioInputDevice, entries) != S_OK)
        return names;
    std::unique_ptr<IMoniker> entry;
    while (entries->Next(entry) == S_OK) {
        std::string name;
        if (SUCCEEDED(entry->ReadFriendlyName(name))) names.push_back(name);
    }
    return names;
}

// Level in dB of full scale, and sign changes per second of one channel,
// from where the input's sound begins (silence stands before an input that
// started after the first picture).
struct SoundMeasure {
    double decibels = -200;
    double crossingsPerSecond = 0;
};

SoundMeasure Measure(const AviInfo& avi) {
    SoundMeasure result;
    const AviStream* sound = avi.First("auds");
    if (!sound || sound->channels == 0 || sound->sampleRate == 0) return result;
    const std::size_t frames = avi.sound.size() / sound->channels;
    std::size_t begin = 0;
    while (begin < frames && avi.sound[begin * sound->channels] == 0) ++begin;
    if (frames - begin < 2) return result;
    double energy = 0;
    int crossings = 0;
    for (std::size_t i = begin; i < frames; ++i) {
        const double sample = avi.sound[i * sound->channels] / 32768.0;
        energy += sample * sample;
        if (i > begin && (avi.sound[(i - 1) * sound->channels] < 0) != (sample < 0)) ++crossings;
    }
    const double heard = static_cast<double>(frames - begin);
    result.decibels = 10 * std::log10(energy / heard + 1e-20);
    result.crossingsPerSecond = crossings * static_cast<double>(sound->sampleRate) / heard;
    return result;
}

}  // namespace

// With a sound server, the system's default input is recorded: not the
// monitor of an output, whose name sorts first, and not the test tone,
// which comes right after the real default.
TEST_F(SoundRecording, TheSystemsDefaultInputIsRecorded) {
    if (!PulseServer::Installed()) GTEST_SKIP() << "pulseaudio is not installed";
    // The device watch finds the sound servers that run when it starts:
    // it starts again once this one runs.
    session.UsePlatform(nullptr);
    PulseServer pulse;
    // The tests after this one run without the server, so the watch that
    // knows it goes with it (before it: declared after).
    const DeviceWatchRestartAtEnd restartAtEnd{session};
    // A silent output whose monitor sorts first by name, and a microphone
    // (the default input) that hears a 1 kHz tone.
    ASSERT_TRUE(pulse.Start(
        "load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers\n"
        "load-module module-null-sink sink_name=room sink_properties=device.description=Room\n"
        "load-module module-sine sink=room frequency=1000\n"
        "load-module module-remap-source source_name=microphone master=room.monitor "
        "source_properties=device.description=USB-Microphone\n"
        "set-default-source microphone"));
    lumora::gst::RestartDeviceWatch();
    session.UsePlatform(CreateGstCapturePlatform());

    const std::vector<std::string> inputs = AudioInputNames();
    ASSERT_EQ(inputs.size(), 4u);
    EXPECT_EQ(inputs[0], "USB-Microphone");
    EXPECT_EQ(inputs[1], "Lumora Test Tone");
    EXPECT_EQ(inputs[2], "Monitor of Room");
    EXPECT_EQ(inputs[3], "Monitor of Speakers");

    ASSERT_EQ(Build(), S_OK);
    std::vector<std::string> notices;
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });
    ASSERT_TRUE(session.StartRecording()) << (messages.empty() ? "" : messages.front());
    ASSERT_TRUE(RecordedFor(3.0));
    session.ProcessPendingEvents();
    session.Stop();
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_TRUE(notices.empty()) << notices.front();

    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_TRUE(avi.hasIndex);
    ASSERT_NE(avi.First("auds"), nullptr);
    const SoundMeasure measured = Measure(avi);
    EXPECT_GT(measured.decibels, -40.0);
    // 1000 Hz crosses zero 2000 times a second; the 440 Hz test tone 880.
    EXPECT_NEAR(measured.crossingsPerSecond, 2000.0, 200.0);
    // The sound track covers the pictures: a sound server that takes its
    // time to start is preceded by silence, not played early.
    EXPECT_NEAR(SoundSeconds(avi), PictureSeconds(avi), 0.1);
}

// Without any sound input the test tone stands in, and it is heard.
TEST_F(SoundRecording, WithoutASoundInputTheTestToneIsRecorded) {
    const std::vector<std::string> inputs = AudioInputNames();
    if (inputs.size() != 1 || inputs.front() != "Lumora Test Tone")
        GTEST_SKIP() << "this machine has sound inputs of its own";
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(30));
    session.Stop();
    const SoundMeasure measured = Measure(ReadAvi((folder / "capture.avi").string()));
    EXPECT_GT(measured.decibels, -30.0);
    EXPECT_NEAR(measured.crossingsPerSecond, 880.0, 100.0);
}

// A sound input that stops delivering never holds up the pictures, neither
// the preview nor the recording; it is reported once, and the recording
// keeps its full length (silence for the stalled stretch).
TEST_F(SoundRecording, ASoundInputThatStallsIsReportedOnceAndThePicturesGoOn) {
    if (AudioInputNames() != std::vector<std::string>{"Lumora Test Tone"})
        GTEST_SKIP() << "this machine has sound inputs of its own";
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    std::atomic<int> notified{0};
    std::vector<std::string> notices;
    session.SetEventNotifier([&] { ++notified; });
    session.SetNoticeHandler([&](const std::string& text) { notices.push_back(text); });

    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(30));
    lumora::gst::StallTestTone(true);
    const int before = owner.Frames();
    // Stalled until it is told, and for 2 s at 30 frames/s at least; a
    // frozen preview shows a handful at most.
    EXPECT_TRUE(WaitUntil([&] { return notified.load() > 0 && owner.Frames() - before > 60; }, 10))
        << owner.Frames() - before << " pictures while stalled";
    lumora::gst::StallTestTone(false);
    session.ProcessPendingEvents();
    // Told once: not again while the recording goes on for another second.
    const unsigned long long recorded = lumora::gst::FramesOfferedToRecording();
    EXPECT_TRUE(PicturesRecorded(recorded + 30));
    session.ProcessPendingEvents();
    EXPECT_TRUE(session.RecordingActive());
    session.Stop();

    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("Lumora Test Tone"), std::string::npos) << notices[0];
    EXPECT_TRUE(messages.empty()) << messages.front();

    // Every picture of the recording's time, and sound (silence where it
    // stalled) as long.
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_TRUE(avi.hasIndex);
    const double span = lumora::gst::LatestRecordingSeconds();
    EXPECT_NEAR(static_cast<double>(avi.totalFrames), span * 30, span * 30 * 0.15);
    EXPECT_NEAR(SoundSeconds(avi), span, 1.0);
}

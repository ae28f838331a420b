// The sound meter: its figures and peak hold, the status bar's meter while
// previewing ("无声音" without an input), and the device dialog's meter of
// the chosen input.
#include <QComboBox>
#include <QStatusBar>

#include <algorithm>

#include "frame_fixture.h"
#include "capture/ui/DeviceDialog.h"
#include "frame/SoundLevelMeter.h"

namespace {

// A meter fed by hand: each Feed is one new reading of the level element.
struct FedMeter {
    MeterReading reading{true, true, 0, {}};
    CSoundLevelMeter meter{[this] { return reading; }};

    void Feed(double peak, double rms)
    {
        reading.level = SoundLevel{peak, rms};
        ++reading.count;
        meter.Refresh();
    }
};

}  // namespace

TEST(SoundLevelMeterTest, ShowsThePeakInDecibelsHoldsItAndFallsWhenReadingsStop)
{
    FedMeter fed;
    fed.Feed(-20.4, -23.5);
    EXPECT_TRUE(fed.meter.isVisibleTo(nullptr));
    EXPECT_EQ(fed.meter.Text(), "-20 dB");
    EXPECT_EQ(fed.meter.toolTip(), "声音输入电平：峰值 -20 dB，有效值 -24 dB");

    // A louder reading is held while quieter ones follow, then let go.
    fed.Feed(-6, -9);
    fed.Feed(-30, -33);
    EXPECT_EQ(fed.meter.Text(), "-30 dB");
    EXPECT_DOUBLE_EQ(fed.meter.PeakDb(), -30);
    EXPECT_DOUBLE_EQ(fed.meter.HeldPeakDb(), -6);
    for (int i = 1; i < CSoundLevelMeter::kHoldRefreshes; ++i) fed.Feed(-30, -33);
    EXPECT_DOUBLE_EQ(fed.meter.HeldPeakDb(), -6);
    fed.Feed(-30, -33);
    EXPECT_DOUBLE_EQ(fed.meter.HeldPeakDb(), -30);

    // Silence, and an input whose readings stopped coming, read below the floor.
    fed.Feed(kSilentDecibels, kSilentDecibels);
    EXPECT_EQ(fed.meter.Text(), "-60 dB 以下");
    fed.Feed(-12, -15);
    for (int i = 0; i < CSoundLevelMeter::kStaleRefreshes - 1; ++i) fed.meter.Refresh();
    EXPECT_EQ(fed.meter.Text(), "-12 dB");
    fed.meter.Refresh();
    EXPECT_EQ(fed.meter.Text(), "-60 dB 以下");
}

TEST(SoundLevelMeterTest, SaysNoSoundWithoutAnInputAndHidesWhenNothingIsMeasured)
{
    FedMeter fed;
    fed.reading.hasInput = false;
    fed.meter.Refresh();
    EXPECT_TRUE(fed.meter.isVisibleTo(nullptr));
    EXPECT_EQ(fed.meter.Text(), "无声音");

    fed.reading.hasInput = true;
    fed.Feed(-3, -6);
    fed.reading.active = false;
    fed.meter.Refresh();
    EXPECT_FALSE(fed.meter.isVisibleTo(nullptr));
    EXPECT_EQ(fed.meter.Text(), "");
    // Shown again, it starts afresh: no peak held from before.
    fed.reading.active = true;
    fed.Feed(-40, -43);
    EXPECT_DOUBLE_EQ(fed.meter.HeldPeakDb(), -40);
}

using SoundMeterFrameTest = ShellTest;

// The status bar's meter follows the preview: the test tone's level while
// it runs, nothing once stopped.
TEST_F(SoundMeterFrameTest, TheStatusBarShowsTheInputsLevelWhilePreviewing)
{
    CSoundLevelMeter* meter = frame->soundMeter;
    ASSERT_NE(meter, nullptr);
    EXPECT_FALSE(meter->isVisibleTo(frame));

    // The test tone, by its identity: a machine's own default input may be silent.
    NameCollector names;
    std::vector<std::string> paths;
    TheCaptureSession().ListAudioInputs(&names, paths);
    const auto tone = std::find(names.names.begin(), names.names.end(), "Lumora Test Tone");
    ASSERT_NE(tone, names.names.end());
    ChooseTestPattern();
    nextDeviceChoice.captureChoice.sound = CaptureChoice::Sound::Device;
    nextDeviceChoice.captureChoice.audioDevicePath = paths[tone - names.names.begin()];
    frame->OnStartVideo();
    ASSERT_TRUE(frame->previewing);
    EXPECT_TRUE(meter->isVisibleTo(frame));
    EXPECT_TRUE(WaitFor([&] { return meter->PeakDb() > -60; })) << meter->Text().toStdString();
    EXPECT_TRUE(meter->Text().endsWith(" dB")) << meter->Text().toStdString();

    frame->OnStopVideo();
    EXPECT_FALSE(meter->isVisibleTo(frame));
}

TEST_F(SoundMeterFrameTest, TheStatusBarSaysNoSoundWhenNoInputWasChosen)
{
    CSoundLevelMeter* meter = frame->soundMeter;
    ChooseTestPattern();
    nextDeviceChoice.captureChoice.sound = CaptureChoice::Sound::None;
    frame->OnStartVideo();
    ASSERT_TRUE(frame->previewing);
    EXPECT_TRUE(meter->isVisibleTo(frame));
    EXPECT_EQ(meter->Text(), "无声音");
    // Still so after several of its refreshes: ten pictures later.
    ASSERT_TRUE(WaitFor([&] { return view->VideoWindow() && view->VideoWindow()->FramesPresented() > 0; }));
    const auto shown = view->VideoWindow()->FramesPresented();
    ASSERT_TRUE(WaitFor([&] { return view->VideoWindow()->FramesPresented() >= shown + 10; }));
    EXPECT_EQ(meter->Text(), "无声音");
    frame->OnStopVideo();
}

// The dialog meters the input chosen in its list, "无声音" says so, and the
// meter stops with the dialog.
TEST_F(SoundMeterFrameTest, TheDeviceDialogMetersTheChosenInputBesideItsList)
{
    CDeviceDialog dialog(TheCaptureSession());
    CSoundLevelMeter* meter = dialog.InputMeter();
    ASSERT_NE(meter, nullptr);
    QComboBox* inputs = dialog.AudioInputList();
    EXPECT_EQ(meter->geometry().top(), inputs->geometry().top());
    EXPECT_GT(meter->geometry().left(), inputs->geometry().right());

    const int tone = inputs->findText("Lumora Test Tone");
    ASSERT_GE(tone, 0);
    inputs->setCurrentIndex(tone);
    EXPECT_TRUE(WaitFor([&] { return meter->PeakDb() > -60; })) << meter->Text().toStdString();

    inputs->setCurrentIndex(inputs->count() - 1);
    EXPECT_EQ(inputs->currentText(), "无声音");
    EXPECT_EQ(meter->Text(), "无声音");

    inputs->setCurrentIndex(tone);
    EXPECT_TRUE(WaitFor([&] { return meter->PeakDb() > -60; }));
    dialog.reject();
    EXPECT_FALSE(meter->isVisibleTo(&dialog));
}

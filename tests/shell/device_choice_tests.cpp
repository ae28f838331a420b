// The device dialog's picture mode and sound input (listed, remembered,
// refilled when devices come and go, handed to the session), the camera it
// chose built though cameras came and went since, and a close that arrives
// while the session waits for a slow device.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <thread>

#include "frame_fixture.h"
#include "capture/gst/GstCapturePlatform.h"
#include "capture/ui/CaptureChoiceProfile.h"
#include "capture/ui/DeviceDialog.h"
#include "tests/engine/FakePlatform.h"

namespace {

const VideoMode kVga{640, 480, 30, 1, "YUY2"};
const VideoMode kHd60{1280, 720, 60, 1, "NV12"};
const std::string kUsbMic = "alsa_input.usb/mic";

QStringList Items(const QComboBox* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

class DeviceChoiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings profile("Local AppWizard-Generated Applications", "Lumora");
        ASSERT_FALSE(profile.fileName().startsWith(QDir::homePath() + "/.config"));  // never the user's
        profile.clear();
        // Identities holding what QSettings would read as group separators.
        script->entries[DeviceCategory::VideoInputDevice] = {
            FakeEntry("Camera A", true, "/dev/v4l/by-id/cam-a", {VideoMode{1920, 1080, 30, 1, "MJPEG"}, kVga}),
            FakeEntry("Camera B", true, "usb-0:2\\1.0", {kHd60}),
        };
        script->entries[DeviceCategory::AudioInputDevice] = {FakeEntry("Built-in", true, "alsa_input.pci"),
                                                             FakeEntry("USB Mic", true, kUsbMic)};
        script->entries[DeviceCategory::VideoCompressor] = {FakeEntry("MJPEG"), FakeEntry("H.264")};
        script->entries[DeviceCategory::AudioCompressor] = {FakeEntry("MP3")};
    }

    std::shared_ptr<FakeScript> script = std::make_shared<FakeScript>();
    CCaptureSession session{std::make_unique<FakePlatform>(script)};
};

TEST_F(DeviceChoiceTest, ListsTheCamerasModesAndTheInputsAndOkSitsBelowThem)
{
    CDeviceDialog dialog(session);
    EXPECT_EQ(Items(dialog.VideoModeList()), QStringList({"自动", "1920 x 1080", "640 x 480"}));
    // Under 自动 the rate and format show what it takes, greyed.
    EXPECT_EQ(Items(dialog.VideoRateList()), QStringList({"30 帧/秒"}));
    EXPECT_EQ(Items(dialog.VideoFormatList()), QStringList({"MJPEG"}));
    EXPECT_FALSE(dialog.VideoFormatList()->isEnabled());
    EXPECT_EQ(Items(dialog.AudioInputList()), QStringList({"Built-in", "USB Mic", "无声音"}));
    dialog.VideoDeviceList()->setCurrentIndex(1);
    EXPECT_EQ(Items(dialog.VideoModeList()), QStringList({"自动", "1280 x 720"}));

    const QRect ok = dialog.OkButton()->geometry();
    EXPECT_GT(dialog.VideoModeList()->geometry().top(), dialog.AudioCompressorList()->geometry().bottom());
    EXPECT_GT(ok.top(), dialog.AudioInputList()->geometry().bottom());
    EXPECT_TRUE(dialog.rect().contains(ok));
}

// A test driver's hundreds of combinations: three short lists, a rate and
// format kept across a change of size where still offered.
TEST_F(DeviceChoiceTest, ManyModesMakeShortListsOfSizeRateAndFormat)
{
    std::vector<VideoMode> modes;
    const std::vector<std::string> formats = {"YUY2", "NV12", "RGB", "BGRx", "GRAY8", "RGB15", "ARGB64", "Y210",
                                              "r210", "AYUV", "v210", "NV24", "GBR", "BGR15", "xBGR", "ABGR",
                                              "RGBA", "GRAY16_LE", "UYVY", "YVYU", "VYUY", "Y41B", "NV61", "IYU2"};
    for (const auto& [width, height] : {std::pair{320, 180}, {640, 360}, {640, 480}, {1280, 720}, {1920, 1080}})
        for (int rate : {1, 2, 5, 10, 15, 25, 30, 50, 60})
            for (const std::string& format : formats) modes.push_back(VideoMode{width, height, rate, 1, format});
    script->entries[DeviceCategory::VideoInputDevice] = {FakeEntry("vivid", true, "/dev/video0", modes)};
    CDeviceDialog dialog(session);
    dialog.VideoModeList()->setCurrentIndex(2);  // 1280 x 720, at the rate 自动 showed
    EXPECT_EQ(dialog.VideoRateList()->count(), 9);
    EXPECT_EQ(dialog.VideoRateList()->currentText(), "30 帧/秒");
    EXPECT_LE(dialog.VideoFormatList()->count(), 20);
    EXPECT_EQ(dialog.VideoFormatList()->currentText(), "YUY2");
    dialog.VideoRateList()->setCurrentIndex(dialog.VideoRateList()->findText("25 帧/秒"));
    dialog.VideoFormatList()->setCurrentIndex(dialog.VideoFormatList()->findText("NV12"));
    dialog.VideoModeList()->setCurrentIndex(3);  // 640 x 480
    EXPECT_EQ(dialog.VideoRateList()->currentText(), "25 帧/秒");
    EXPECT_EQ(dialog.VideoFormatList()->currentText(), "NV12");
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.captureChoice.videoMode, (VideoMode{640, 480, 25, 1, "NV12"}));
}

// A size that lacks the rate shown falls back to its highest; the next size
// offering the chosen rate shows it again, not the fallback.
TEST_F(DeviceChoiceTest, SteppingThroughSizesKeepsTheChosenRateWhereOffered)
{
    script->entries[DeviceCategory::VideoInputDevice] = {FakeEntry(
        "webcam", true, "/dev/video0",
        {VideoMode{2592, 1944, 2, 1, "YUY2"}, VideoMode{640, 480, 30, 1, "YUY2"}, VideoMode{640, 480, 2, 1, "YUY2"}})};
    CDeviceDialog dialog(session);
    for (int size : {1, 2}) dialog.VideoModeList()->setCurrentIndex(size);  // as the arrow keys step
    EXPECT_EQ(dialog.VideoRateList()->currentText(), "30 帧/秒");
}

TEST_F(DeviceChoiceTest, OkRemembersTheChoiceForTheNextDialogAndWhatIsGoneFallsBack)
{
    {
        CDeviceDialog dialog(session);
        dialog.VideoDeviceList()->setCurrentIndex(1);
        dialog.VideoModeList()->setCurrentIndex(1);
        dialog.AudioInputList()->setCurrentIndex(1);
        dialog.VideoCompressorList()->setCurrentIndex(2);
        dialog.AudioCompressorList()->setCurrentIndex(1);
        dialog.OkButton()->click();
        EXPECT_EQ(dialog.videoCompressorIndex, 1);
        EXPECT_EQ(dialog.captureChoice.videoMode, kHd60);
        EXPECT_EQ(dialog.captureChoice.sound, CaptureChoice::Sound::Device);
        EXPECT_EQ(dialog.captureChoice.audioDevicePath, kUsbMic);
    }
    {
        QSettings profile("Local AppWizard-Generated Applications", "Lumora");
        profile.beginGroup("Video Modes");
        EXPECT_TRUE(profile.childGroups().isEmpty());  // no identity was split into groups
    }
    CDeviceDialog dialog(session);
    EXPECT_EQ(dialog.AudioInputList()->currentText(), "USB Mic");
    EXPECT_EQ(dialog.VideoCompressorList()->currentText(), "H.264");
    EXPECT_EQ(dialog.AudioCompressorList()->currentText(), "MP3");
    dialog.VideoDeviceList()->setCurrentIndex(1);
    EXPECT_EQ(dialog.VideoModeList()->currentIndex(), 1);

    // A mode the camera no longer offers, an input or a compressor that is
    // gone: 自动, the default input, 不压缩.
    script->entries[DeviceCategory::VideoInputDevice][1].modes = {kVga};
    script->entries[DeviceCategory::AudioInputDevice].pop_back();
    script->entries[DeviceCategory::VideoCompressor].pop_back();
    CDeviceDialog later(session);
    later.VideoDeviceList()->setCurrentIndex(1);
    EXPECT_EQ(later.VideoModeList()->currentIndex(), 0);
    EXPECT_EQ(later.AudioInputList()->currentIndex(), 0);
    EXPECT_EQ(later.VideoCompressorList()->currentIndex(), 0);
    EXPECT_EQ(later.AudioCompressorList()->currentText(), "MP3");
}

TEST_F(DeviceChoiceTest, DevicesThatComeAndGoRefillTheListsKeepingTheChoiceByIdentity)
{
    CDeviceDialog dialog(session);
    dialog.show();
    dialog.VideoDeviceList()->setCurrentIndex(1);
    dialog.VideoModeList()->setCurrentIndex(1);
    dialog.AudioInputList()->setCurrentIndex(1);
    auto& cameras = script->entries[DeviceCategory::VideoInputDevice];
    cameras.insert(cameras.begin(), FakeEntry("Camera New", true, "cam-new", {kVga}));
    auto& inputs = script->entries[DeviceCategory::AudioInputDevice];
    inputs.erase(inputs.begin());
    ASSERT_TRUE(script->deviceChangeHandler);
    std::thread(script->deviceChangeHandler).join();  // the platform reports on a thread of its own

    ASSERT_TRUE(WaitFor([&] { return dialog.VideoDeviceList()->count() == 3; }));
    EXPECT_EQ(dialog.VideoDeviceList()->currentText(), "Camera B");
    EXPECT_EQ(dialog.VideoModeList()->currentIndex(), 1);
    EXPECT_EQ(Items(dialog.AudioInputList()), QStringList({"USB Mic", "无声音"}));
    // Listed first now, the chosen input is still that device, not "the default".
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.captureChoice.audioDevicePath, kUsbMic);
    EXPECT_FALSE(script->deviceChangeHandler);  // closing stops the watch
}

using ChosenCameraTest = ShellTest;

TEST_F(ChosenCameraTest, StartVideoBuildsTheCameraChosenInTheDialogOrNamesItWhenGone)
{
    auto script = std::make_shared<FakeScript>();
    auto& cameras = script->entries[DeviceCategory::VideoInputDevice];
    cameras = {FakeEntry("Camera A", true, "cam-a", {kVga}), FakeEntry("Camera B", true, "cam-b", {kHd60})};
    const FakeEntry cameraB = cameras.back();
    TheCaptureSession().UsePlatform(std::make_unique<FakePlatform>(script));
    struct Restore {
        ~Restore() { TheCaptureSession().UsePlatform(CreateGstCapturePlatform()); }
    } restore;
    CLumoraView::deviceDialogHook = nullptr;  // the real dialog

    // Camera B is chosen in the dialog; after OK, before the build, `change` runs.
    const auto chooseCameraB = [&](const std::function<void()>& change) {
        QTimer::singleShot(0, frame, [change] {
            auto* dialog = qobject_cast<CDeviceDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->VideoDeviceList()->setCurrentIndex(dialog->VideoDeviceList()->findText("Camera B"));
            dialog->OkButton()->click();
            change();
        });
        frame->Action(ID_VIDEO_START)->trigger();
    };

    const auto plugInAhead = [&](const char* name) {
        cameras.insert(cameras.begin(), FakeEntry(name, true, name, {kVga}));
    };

    // Unplugged, and another camera plugged in ahead: Camera A, at its place
    // now, is not taken.
    chooseCameraB([&] {
        cameras.pop_back();
        plugInAhead("Camera New");
    });
    EXPECT_FALSE(frame->previewing);
    EXPECT_TRUE(script->formatsSet.empty());
    EXPECT_EQ(messages.join("|").toStdString(),
              "无法使用所选的视频设备！\n摄像头“Camera B”已不再连接。");

    // Back, and again a camera plugged in ahead after OK: still Camera B, in
    // its only mode.
    cameras.push_back(cameraB);
    chooseCameraB([&] { plugInAhead("Camera C"); });
    EXPECT_TRUE(frame->previewing);
    EXPECT_EQ(script->formatsSet, std::vector<VideoMode>{kHd60});
    EXPECT_EQ(messages.size(), 1);

    // 视频设备... in 最小模式 opens on the camera in use and builds anew; the
    // window stays small, also through 开始视频.
    frame->Action(ID_WINDOW_MINIMAL)->trigger();
    QString shown;
    QTimer::singleShot(0, frame, [&] {
        auto* dialog = qobject_cast<CDeviceDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shown = dialog->VideoDeviceList()->currentText();
        dialog->OkButton()->click();
    });
    frame->Action(ID_VIDEO_DEVICES)->trigger();
    frame->Action(ID_VIDEO_START)->trigger();
    EXPECT_EQ(shown, "Camera B");
    EXPECT_TRUE(frame->previewing);
    EXPECT_EQ(script->formatsSet, (std::vector<VideoMode>{kHd60, kHd60}));
    EXPECT_EQ(frame->frameGeometry().size(), QSize(280, 280));
}

using BusySessionTest = ShellTest;

TEST_F(BusySessionTest, ACloseWhileADeviceIsSlowToStartWaitsForTheSessionWhichGetsTheChoice)
{
    auto script = std::make_shared<FakeScript>();
    script->entries[DeviceCategory::VideoInputDevice] = {FakeEntry("Camera", true, "cam-0")};
    TheCaptureSession().UsePlatform(std::make_unique<FakePlatform>(script));
    struct Restore {
        ~Restore()
        {
            TheCaptureSession().UsePlatform(CreateGstCapturePlatform());
            QGuiApplication::setQuitOnLastWindowClosed(true);
        }
    } restore;
    QGuiApplication::setQuitOnLastWindowClosed(false);

    // The fake graph's Run waits once through the wait hook: File > 退出 comes then.
    bool stayedOpen = false;
    QTimer::singleShot(0, frame, [&] {
        frame->Action(ID_APP_EXIT)->trigger();
        stayedOpen = frame->isVisible();
    });
    nextDeviceChoice = DeviceChoice{0, -1, -1};
    nextDeviceChoice.captureChoice.sound = CaptureChoice::Sound::None;
    frame->Action(ID_VIDEO_START)->trigger();
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(frame->previewing);
    EXPECT_EQ(TheCaptureSession().GetCaptureChoice().sound, CaptureChoice::Sound::None);
    EXPECT_EQ(std::count(script->calls.begin(), script->calls.end(), "Stop"), 0);

    ASSERT_TRUE(WaitFor([&] { return !frame->isVisible(); }));
    EXPECT_EQ(std::count(script->calls.begin(), script->calls.end(), "Stop"), 1);
}

}  // namespace

// 摄像头设置: the menu item, the dialog's widget per kind of control, greyed
// inactive settings that follow their automatic switch, 恢复默认, and the
// values remembered per camera and applied at its next start.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTest>

#include "capture/ui/CameraControlsDialog.h"
#include "capture/ui/CameraControlsProfile.h"
#include "frame_fixture.h"
#include "res/Resources.h"
#include "tests/engine/FakePlatform.h"

namespace {

class CameraControlsTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Lumora"))
            .remove(QStringLiteral("Camera Controls"));
    }
    void StartPreview()
    {
        ChooseTestPattern();
        frame->Action(ID_VIDEO_START)->trigger();
        ASSERT_TRUE(frame->previewing);
    }
    CCameraControlsDialog* OpenDialog()
    {
        frame->Action(ID_VIDEO_CAMERA_SETTINGS)->trigger();
        return frame->CameraSettingsDialog();
    }
    int32_t CameraValue(const std::string& key)
    {
        std::vector<CameraControl> controls;
        std::string error;
        EXPECT_TRUE(TheCaptureSession().ListCameraControls(controls, error)) << error;
        for (const CameraControl& control : controls)
            if (control.key == key) return control.value;
        ADD_FAILURE() << "no control " << key;
        return -1;
    }
    template <typename Widget>
    Widget* Editor(CCameraControlsDialog* dialog, const std::string& key)
    {
        auto* widget = qobject_cast<Widget*>(dialog->EditorFor(key));
        EXPECT_NE(widget, nullptr) << key;
        return widget;
    }
};

TEST_F(CameraControlsTest, TheItemOpensOneModelessDialogWhilePreviewing)
{
    QAction* item = frame->Action(ID_VIDEO_CAMERA_SETTINGS);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QStringLiteral("摄像头设置..."));
    EXPECT_EQ(item->statusTip(), QStringLiteral("调整摄像头的亮度、对比度、白平衡、曝光和对焦"));
    EXPECT_EQ(item->toolTip(), QStringLiteral("摄像头设置"));
    EXPECT_FALSE(item->isEnabled());

    StartPreview();
    EXPECT_TRUE(item->isEnabled());
    CCameraControlsDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(OpenDialog(), dialog);  // the same one again
    // Return closes it and leaves the settings as they are.
    Editor<QSlider>(dialog, "brightness")->setValue(150);
    QTest::keyClick(dialog, Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(CameraValue("brightness"), 150);
    ASSERT_TRUE(WaitFor([this] { return frame->CameraSettingsDialog() == nullptr; }));  // closed for good
    dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Editor<QSlider>(dialog, "brightness")->value(), 150);

    frame->Action(ID_VIDEO_STOP)->trigger();
    EXPECT_FALSE(item->isEnabled());
    dialog->close();
    EXPECT_TRUE(WaitFor([this] { return frame->CameraSettingsDialog() == nullptr; }));
}

TEST_F(CameraControlsTest, EachKindHasItsWidgetAndInactiveOnesAreGreyedAsTheSwitchesMove)
{
    StartPreview();
    CCameraControlsDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);

    auto* brightness = Editor<QSlider>(dialog, "brightness");
    ASSERT_NE(brightness, nullptr);
    EXPECT_EQ(brightness->minimum(), 0);
    EXPECT_EQ(brightness->maximum(), 255);
    EXPECT_EQ(brightness->value(), 128);
    EXPECT_EQ(dialog->ValueLabelFor("brightness")->text(), QStringLiteral("128"));
    auto* mains = Editor<QComboBox>(dialog, "power_line_frequency");
    ASSERT_NE(mains, nullptr);
    EXPECT_EQ(mains->count(), 3);
    EXPECT_EQ(mains->currentText(), QStringLiteral("60 Hz"));

    auto* whiteBalance = Editor<QCheckBox>(dialog, "white_balance_automatic");
    auto* temperature = Editor<QSlider>(dialog, "white_balance_temperature");
    ASSERT_TRUE(whiteBalance && temperature);
    EXPECT_TRUE(whiteBalance->isChecked());
    EXPECT_FALSE(temperature->isEnabled());
    whiteBalance->click();
    EXPECT_EQ(CameraValue("white_balance_automatic"), 0);
    EXPECT_TRUE(temperature->isEnabled());

    auto* exposure = Editor<QComboBox>(dialog, "auto_exposure");
    auto* exposureTime = Editor<QSlider>(dialog, "exposure_time_absolute");
    ASSERT_TRUE(exposure && exposureTime);
    EXPECT_FALSE(exposureTime->isEnabled());
    exposure->setCurrentIndex(exposure->findText(QStringLiteral("手动")));
    emit exposure->activated(exposure->currentIndex());
    EXPECT_EQ(CameraValue("auto_exposure"), 1);
    EXPECT_TRUE(exposureTime->isEnabled());

    // A slider between two steps gives the nearer step.
    auto* focus = Editor<QCheckBox>(dialog, "focus_automatic_continuous");
    ASSERT_NE(focus, nullptr);
    focus->click();
    auto* focusDistance = Editor<QSlider>(dialog, "focus_absolute");
    ASSERT_NE(focusDistance, nullptr);
    focusDistance->setValue(43);
    EXPECT_EQ(CameraValue("focus_absolute"), 45);
    EXPECT_EQ(focusDistance->value(), 45);
}

TEST_F(CameraControlsTest, ChangesAreRememberedPerCameraReappliedAtTheNextStartAndUndoneByDefaults)
{
    StartPreview();
    const std::string camera = TheCaptureSession().CurrentCameraIdentity();
    ASSERT_FALSE(camera.empty());
    CCameraControlsDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    Editor<QSlider>(dialog, "brightness")->setValue(200);
    Editor<QCheckBox>(dialog, "white_balance_automatic")->click();
    Editor<QSlider>(dialog, "white_balance_temperature")->setValue(3300);
    EXPECT_EQ(CameraValue("brightness"), 200);
    EXPECT_EQ(CameraValue("white_balance_temperature"), 3300);
    EXPECT_EQ(CameraControlsProfile::ValuesFor(camera).size(), 3u);

    // The program starts again: a new build of the same camera gets them back.
    app.reset();
    app = std::make_unique<CLumoraApp>(nullptr, startDir.filePath("profile.ini"));
    ASSERT_TRUE(app->InitInstance());
    frame = app->Frame();
    StartPreview();
    EXPECT_EQ(CameraValue("brightness"), 200);
    EXPECT_EQ(CameraValue("white_balance_automatic"), 0);
    EXPECT_EQ(CameraValue("white_balance_temperature"), 3300);

    dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Editor<QSlider>(dialog, "brightness")->value(), 200);
    dialog->DefaultsButton()->click();
    EXPECT_EQ(CameraValue("brightness"), 128);
    EXPECT_EQ(CameraValue("white_balance_automatic"), 1);
    EXPECT_EQ(Editor<QSlider>(dialog, "brightness")->value(), 128);
    EXPECT_FALSE(Editor<QSlider>(dialog, "white_balance_temperature")->isEnabled());
    EXPECT_TRUE(CameraControlsProfile::ValuesFor(camera).empty());
    EXPECT_TRUE(dialog->Notice()->text().isEmpty());
}

// A camera that offers nothing to set, and no camera at all.
struct NoSettings : ICameraControls {
    bool List(std::vector<CameraControl>& controls, std::string&) override
    {
        controls.clear();
        return true;
    }
    bool Set(uint32_t, int32_t, std::string&) override { return false; }
};

TEST_F(CameraControlsTest, ACameraWithoutSettingsSaysSo)
{
    auto script = std::make_shared<FakeScript>();
    script->entries[DeviceCategory::VideoInputDevice] = {{"Camera One"}};
    script->cameraControls = std::make_shared<NoSettings>();
    CCaptureSession session(std::make_unique<FakePlatform>(script));
    session.SetMessageHandler([](const std::string&) {});
    {
        CCameraControlsDialog dialog(session);
        EXPECT_TRUE(dialog.Notice()->text().contains(QStringLiteral("开始视频")));  // nothing built
    }
    NameCollector names;
    session.ListVideoDevices(&names);
    ASSERT_EQ(session.BuildGraph(0, -1, -1, nullptr), S_OK);
    CCameraControlsDialog dialog(session);
    EXPECT_EQ(dialog.Notice()->text(), QStringLiteral("这个摄像头没有可调的设置。"));
    EXPECT_FALSE(dialog.DefaultsButton()->isEnabled());
    EXPECT_EQ(dialog.EditorFor("brightness"), nullptr);
    session.TearDown();
}

}  // namespace

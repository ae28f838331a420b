// The status bar: prompts of the context menu, the no-camera hint and the
// recording field with its time and size.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QCheckBox>
#include <QMenu>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>

#include <cstdlib>

#include "frame_fixture.h"
#include "capture/ui/DeviceDialog.h"
#include "frame/RecordingStatusField.h"
#include "res/Resources.h"
#include "settings/ui/OptionsDialog.h"

using StatusBarTest = ShellTest;

TEST(RecordingProgressText, TimeAndMegabytesWithATenthBelowAHundredOrKilobytes)
{
    constexpr uint64_t kMiB = 1024 * 1024;
    EXPECT_EQ(FormatRecordingProgress(207.9, 412ull * 1024 * 1024 + 1023, false), "录相 00:03:27  412 MB");
    EXPECT_EQ(FormatRecordingProgress(0, 0, false), "录相 00:00:00  0 KB");
    EXPECT_EQ(FormatRecordingProgress(1, 1024 * 1024 - 1, false), "录相 00:00:01  1023 KB");
    EXPECT_EQ(FormatRecordingProgress(1, 1024 * 1024, false), "录相 00:00:01  1.0 MB");
    // 7.2 MB written reads 7.2, not 7 (nor more than was written).
    EXPECT_EQ(FormatRecordingProgress(9, 72 * kMiB / 10 + 1, false), "录相 00:00:09  7.2 MB");
    EXPECT_EQ(FormatRecordingProgress(9, 73 * kMiB / 10 - 1, false), "录相 00:00:09  7.2 MB");
    EXPECT_EQ(FormatRecordingProgress(99, 100 * kMiB - 1, false), "录相 00:01:39  99.9 MB");
    EXPECT_EQ(FormatRecordingProgress(99, 100 * kMiB, false), "录相 00:01:39  100 MB");
    EXPECT_EQ(FormatRecordingProgress(100 * 3600 + 61, 5ull << 40, false), "录相 100:01:01  5242880 MB");
    EXPECT_EQ(FormatRecordingProgress(-3, 2048, true), "暂停 00:00:00  2 KB");
}

TEST_F(StatusBarTest, ContextMenuItemsShowTheirOwnPrompts)
{
    QMenu* menu = view->ContextMenu();
    menu->popup(frame->mapToGlobal(QPoint(20, 60)));
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
    for (QAction* item : menu->actions()) {
        if (item->isSeparator()) continue;
        menu->setActiveAction(item);
        EXPECT_EQ(frame->statusBar->currentMessage(), item->statusTip());
        EXPECT_EQ(item->statusTip(), item->text());  // each item's prompt is its label
    }
    menu->hide();
    EXPECT_EQ(frame->statusBar->currentMessage(), IdleMessage());
}

TEST_F(StatusBarTest, NoCameraIsSaidAndStartCanBeChosenAgain)
{
    // The real dialog over a catalogue without the test inputs.
    const QByteArray saved = qgetenv("LUMORA_TEST_SOURCES");
    qunsetenv("LUMORA_TEST_SOURCES");
    CLumoraView::deviceDialogHook = nullptr;
    int listed = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<CDeviceDialog*>(top); dialog && dialog->isVisible()) {
                listed = dialog->VideoDeviceList()->count();
                // A machine with a camera: close without choosing it.
                if (listed > 0)
                    dialog->reject();
                else
                    dialog->accept();
            }
    });
    poll.start(20);
    for (int attempt = 0; attempt < 2 && listed <= 0; ++attempt) {
        frame->Action(ID_VIDEO_START)->trigger();
        if (listed != 0) break;
        EXPECT_EQ(frame->statusBar->currentMessage(), "没有找到视频输入设备");
        EXPECT_FALSE(frame->previewing);
        EXPECT_FALSE(view->graphBuilt);
        EXPECT_TRUE(frame->Action(ID_VIDEO_START)->isEnabled());
        EXPECT_FALSE(frame->Action(ID_VIDEO_START)->isChecked());
        frame->statusBar->showMessage(IdleMessage());
    }
    poll.stop();
    if (!saved.isNull()) qputenv("LUMORA_TEST_SOURCES", saved);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
    if (listed > 0) GTEST_SKIP() << "this machine has a camera";
    EXPECT_EQ(listed, 0);
}

TEST_F(StatusBarTest, ClosingTheDialogOverCamerasSaysNothing)
{
    nextDeviceChoice = DeviceChoice{-1, -1, -1, 2};
    frame->Action(ID_VIDEO_START)->trigger();
    EXPECT_EQ(frame->statusBar->currentMessage(), IdleMessage());
}

TEST_F(StatusBarTest, EachTakeGetsAFileOfItsOwnWhenChosenAndStopNamesItsLengthAndSize)
{
    const QString configured = startDir.filePath("capture.avi");
    SetRecordingPath(configured);
    CMyPropertySheet().page3->newFileEachTake->setChecked(true);
    const struct Off {
        ~Off() { RememberNewFileEachTake(false); }  // the profile outlives the test
    } off;
    EXPECT_TRUE(CMyPropertySheet().page3->newFileEachTake->isChecked());

    ChooseTestPattern();
    QStringList takes;
    for (int take = 0; take < 2; ++take) {
        frame->Action(ID_VIDEO_START)->trigger();
        frame->Action(ID_VIDEO_RECORD)->trigger();
        ASSERT_TRUE(frame->recording) << messages.join("\n").toStdString();
        ASSERT_TRUE(WaitFor([] { return RecordedSeconds() >= 1; }));
        frame->Action(ID_VIDEO_STOP)->trigger();
        takes << QString::fromStdString(TheCaptureSession().State().lastTakePath);
        const QRegularExpression said(QStringLiteral("^已录制 capture \\d{8} \\d{6}(-2)?\\.avi，\\d+ 秒，") +
                                      QRegularExpression::escape(FormatFileSize(QFileInfo(takes.last()).size())) + "$");
        EXPECT_TRUE(said.match(frame->statusBar->currentMessage()).hasMatch())
            << frame->statusBar->currentMessage().toStdString();
        EXPECT_TRUE(frame->statusBar->currentMessage().contains(QFileInfo(takes.last()).fileName()));
    }
    EXPECT_NE(takes[0], takes[1]);
    EXPECT_FALSE(QFileInfo::exists(configured));
}

TEST_F(StatusBarTest, RecordingFieldFollowsRecordPauseAndStop)
{
    const QString recordingPath = startDir.filePath("capture.avi");
    SetRecordingPath(recordingPath);
    CRecordingStatusField* field = frame->recordingField;
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isHidden());

    ChooseTestPattern();
    frame->Action(ID_VIDEO_START)->trigger();
    ASSERT_TRUE(frame->previewing) << messages.join("\n").toStdString();
    EXPECT_TRUE(field->isHidden());  // a preview alone records nothing

    frame->Action(ID_VIDEO_RECORD)->trigger();
    ASSERT_TRUE(frame->recording) << messages.join("\n").toStdString();
    EXPECT_FALSE(field->isHidden());
    EXPECT_TRUE(field->text().startsWith("录相 ")) << field->text().toStdString();
    // The size grows as the file does, through the timer alone.
    const QString first = field->text();
    EXPECT_TRUE(WaitFor([&] { return field->text() != first && QFileInfo(recordingPath).size() > 0; }, 8000))
        << first.toStdString();

    frame->Action(ID_VIDEO_PAUSE)->trigger();
    EXPECT_FALSE(field->isHidden());
    EXPECT_TRUE(field->text().startsWith("暂停 ")) << field->text().toStdString();
    const QString paused = field->text();
    // A paused recording does not count: not by the time two of the field's
    // refreshes would have come, nor when it reads the figures again.
    int refreshes = 0;
    QTimer later;
    later.setInterval(CRecordingStatusField::kRefreshMs);
    QObject::connect(&later, &QTimer::timeout, [&refreshes] { ++refreshes; });
    later.start();
    ASSERT_TRUE(WaitFor([&] { return refreshes >= 2; }));
    EXPECT_EQ(field->text(), paused);
    field->Refresh();
    EXPECT_EQ(field->text(), paused);

    frame->Action(ID_VIDEO_START)->trigger();
    if (frame->recording) {
        EXPECT_TRUE(field->text().startsWith("录相 "));
    }

    frame->Action(ID_VIDEO_STOP)->trigger();
    EXPECT_TRUE(field->isHidden());
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

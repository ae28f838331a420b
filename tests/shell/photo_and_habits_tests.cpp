// Photo feedback and the small habits: the flash and the stored name, the
// folder items, Esc in full screen, the self-timer.
#include <QAction>
#include <QDir>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QMenu>
#include <QStatusBar>
#include <QtTest/QTest>

#include "frame/BurstDialog.h"
#include "frame/BurstShooter.h"
#include "frame/PhotoThumbnail.h"
#include "frame/SelfTimer.h"
#include "frame_fixture.h"
#include "view/PreviewOverlays.h"
#include "view/VideoWidget.h"

namespace {

class PhotoHabitsTest : public ShellTest {
protected:
    void StartPreview()
    {
        ChooseTestPattern();
        frame->Action(ID_VIDEO_START)->trigger();
        ASSERT_TRUE(frame->previewing) << messages.join("\n").toStdString();
    }

    void PressEscape()
    {
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        QTest::keyClick(frame, Qt::Key_Escape);
    }

    QString Status() const { return frame->statusBar->currentMessage(); }

    // A self-timer of `stepMs` started now runs out: one started before it
    // with the same step would have run out by then.
    static bool ATimerStartedNowRunsOut(int stepMs)
    {
        CSelfTimer probe;
        probe.SetStepMs(stepMs);
        bool elapsed = false;
        QObject::connect(&probe, &CSelfTimer::elapsed, [&elapsed] { elapsed = true; });
        probe.Start();
        return WaitFor([&] { return elapsed; });
    }
};

}  // namespace

TEST_F(PhotoHabitsTest, APhotoFlashesThePictureAndTheStatusBarNamesItsFile)
{
    const QString photos = startDir.filePath("photos");
    ASSERT_TRUE(QDir().mkpath(photos));
    SetPhotoFolder(photos);
    StartPreview();
    frame->Action(ID_VIDEO_SNAPSHOT)->trigger();
    ASSERT_TRUE(WaitFor([&] { return Status().startsWith("已保存 "); })) << Status().toStdString();
    const QStringList stored = QDir(photos).entryList(QDir::Files);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(Status(), "已保存 " + stored[0]);  // "已保存 20261208 131335.bmp"
    EXPECT_EQ(view->PhotoFlash()->Flashes(), 1);
    EXPECT_TRUE(WaitFor([&] { return view->PhotoFlash()->isHidden(); }));  // it fades away

    // The flash lies over the live picture and starts white.
    ASSERT_TRUE(WaitFor([&] { return view->VideoWindow() && view->VideoWindow()->isVisible(); }));
    view->FlashPhoto();
    const QObjectList stack = view->children();
    EXPECT_GT(stack.indexOf(view->PhotoFlash()), stack.indexOf(view->VideoWindow()));
    EXPECT_EQ(view->PhotoFlash()->geometry(), view->rect());
    const QImage shown = view->grab().toImage();
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::white));
    EXPECT_TRUE(WaitFor([&] { return view->PhotoFlash()->isHidden(); }));
    const QImage after = view->grab().toImage();
    EXPECT_NE(after.pixelColor(after.width() / 2, after.height() / 2), QColor(Qt::white));
}

TEST_F(PhotoHabitsTest, APhotoThatCannotBeStoredSaysWhyAndDoesNotFlash)
{
    SetPhotoFolder(startDir.filePath("gone"));
    StartPreview();
    frame->Action(ID_VIDEO_SNAPSHOT)->trigger();
    ASSERT_TRUE(WaitFor([&] { return Status().startsWith("照片未保存："); })) << Status().toStdString();
    EXPECT_TRUE(Status().contains("不存在")) << Status().toStdString();
    EXPECT_EQ(view->PhotoFlash()->Flashes(), 0);

    // A JPEG that became a bitmap is stored, and the status bar says both.
    frame->OnPhotoFailed("JPEG 转换失败，照片已存为位图");
    frame->OnPhotoStored(startDir.filePath("photos/20261208 131335.bmp"));
    EXPECT_EQ(Status(), "已保存 20261208 131335.bmp（JPEG 转换失败，照片已存为位图）");
    frame->OnPhotoStored(startDir.filePath("photos/20261208 131336.bmp"));
    EXPECT_EQ(Status(), "已保存 20261208 131336.bmp");  // that note was of the photo before
}

// The latest photo at the toolbar's right end: the folder's newest photo
// (not a scratch file), then each photo taken, opened by a click; one that
// was deleted meanwhile leaves it empty, with no message.
TEST_F(PhotoHabitsTest, TheThumbnailShowsTheLatestPhotoAndOpensIt)
{
    CPhotoThumbnail* thumbnail = frame->photoThumbnail;
    ASSERT_NE(thumbnail, nullptr);
    const QString photos = startDir.filePath("photos");
    ASSERT_TRUE(QDir().mkpath(photos));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(photos + "/20261201 090000.jpg"));
    ASSERT_TRUE(picture.save(photos + "/temp.jpg"));
    thumbnail->FollowFolder(photos);
    EXPECT_EQ(thumbnail->Photo(), photos + "/20261201 090000.jpg");

    SetPhotoFolder(photos);
    StartPreview();
    frame->Action(ID_VIDEO_SNAPSHOT)->trigger();
    ASSERT_TRUE(WaitFor([&] { return Status().startsWith("已保存 "); })) << Status().toStdString();
    const QString taken = photos + "/" + Status().mid(4);
    EXPECT_EQ(thumbnail->Photo(), taken);
    EXPECT_FALSE(thumbnail->icon().isNull());
    thumbnail->click();
    ASSERT_EQ(openedUrls.size(), 1);
    EXPECT_EQ(openedUrls[0], QUrl::fromLocalFile(taken));

    ASSERT_TRUE(QFile::remove(taken));
    thumbnail->click();
    EXPECT_EQ(openedUrls.size(), 1);
    EXPECT_TRUE(thumbnail->Photo().isEmpty());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(PhotoHabitsTest, TheFolderItemsOpenTheFoldersOrSayWhyNot)
{
    QAction* photos = frame->Action(ID_VIDEO_OPEN_PHOTO_FOLDER);
    QAction* recordings = frame->Action(ID_VIDEO_OPEN_RECORDING_FOLDER);
    ASSERT_NE(photos, nullptr);
    ASSERT_NE(recordings, nullptr);
    EXPECT_TRUE(photos->isEnabled());  // also without a camera
    EXPECT_FALSE(photos->statusTip().isEmpty());

    const QString pictures = startDir.filePath("pictures");
    const QString takes = startDir.filePath("takes");
    ASSERT_TRUE(QDir().mkpath(pictures));
    ASSERT_TRUE(QDir().mkpath(takes));
    SetPhotoFolder(pictures);
    SetRecordingPath(takes + "/monday.avi");
    photos->trigger();
    recordings->trigger();
    ASSERT_EQ(openedUrls.size(), 2);
    EXPECT_EQ(openedUrls[0], QUrl::fromLocalFile(pictures));
    EXPECT_EQ(openedUrls[1], QUrl::fromLocalFile(takes));

    // A relative photo folder is not used: the start folder stands in.
    SetPhotoFolder("pictures");
    photos->trigger();
    ASSERT_EQ(openedUrls.size(), 3);
    EXPECT_EQ(openedUrls[2], QUrl::fromLocalFile(startDir.path()));

    SetPhotoFolder(startDir.filePath("missing"));
    photos->trigger();
    EXPECT_EQ(openedUrls.size(), 3);
    EXPECT_EQ(Status(), "照片文件夹“" + startDir.filePath("missing") + "”不存在。");

    urlsOpen = false;  // no file manager
    recordings->trigger();
    EXPECT_EQ(Status(), "无法打开录相文件夹“" + takes + "”：没有能打开文件夹的文件管理器。");
}

TEST_F(PhotoHabitsTest, EscLeavesFullScreenWhileTheContextMenuKeepsItsOwnEsc)
{
    const QRect before = frame->geometry();
    QAction* escape = frame->Action(ID_ESCAPE);
    ASSERT_NE(escape, nullptr);
    EXPECT_FALSE(escape->isEnabled());  // Esc is left to others outside full screen
    frame->Action(ID_WINDOW_FULLSCREEN)->trigger();
    ASSERT_EQ(fullScreen, 1);
    EXPECT_TRUE(escape->isEnabled());

    // Esc in the open context menu closes the menu alone.
    QMenu* menu = view->ContextMenu();
    menu->popup(frame->mapToGlobal(QPoint(20, 60)));
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
    QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_TRUE(WaitFor([&] { return !menu->isVisible(); }));
    EXPECT_EQ(fullScreen, 1);

    PressEscape();
    EXPECT_EQ(fullScreen, 0);
    EXPECT_EQ(frame->geometry(), before);
    EXPECT_FALSE(frame->Action(ID_WINDOW_FULLSCREEN)->isChecked());
    EXPECT_FALSE(escape->isEnabled());

    // The context menu's full-screen item still works after it.
    for (QAction* item : menu->actions())
        if (item->data().toInt() == ID_POPUP_FULLSCREEN) item->trigger();
    EXPECT_EQ(fullScreen, 1);
    PressEscape();
    EXPECT_EQ(fullScreen, 0);
}

TEST_F(PhotoHabitsTest, TheSelfTimerCountsThreeTwoOneOverThePictureThenTakesThePhoto)
{
    QAction* later = frame->Action(ID_VIDEO_SNAPSHOT_TIMER);
    ASSERT_NE(later, nullptr);
    EXPECT_FALSE(later->isEnabled());  // like 拍照, only while previewing
    StartPreview();
    EXPECT_TRUE(later->isEnabled());

    QList<int> counted;
    QObject::connect(frame->SelfTimer(), &CSelfTimer::counted, [&](int n) {
        counted.append(n);
        EXPECT_EQ(view->Countdown()->Text(), QString::number(n));
        EXPECT_TRUE(view->Countdown()->isVisible());
    });
    frame->SelfTimer()->SetStepMs(40);
    later->trigger();
    EXPECT_EQ(soundsPlayed, 0);  // not yet
    EXPECT_EQ(snapshotArmed.load(), 0);
    later->trigger();  // a second press keeps the count going
    // The number lies over the live picture, in its middle.
    const QObjectList stack = view->children();
    EXPECT_GT(stack.indexOf(view->Countdown()), stack.indexOf(view->VideoWindow()));
    EXPECT_EQ(view->Countdown()->geometry().center(), view->rect().center());

    ASSERT_TRUE(WaitFor([&] { return soundsPlayed == 1; }));
    EXPECT_EQ(counted, (QList<int>{3, 2, 1}));
    EXPECT_TRUE(view->Countdown()->isHidden());
    EXPECT_TRUE(WaitFor([&] { return Status().startsWith("已保存 "); })) << Status().toStdString();
}

TEST_F(PhotoHabitsTest, EscOrStopCancelsTheSelfTimer)
{
    StartPreview();
    frame->SelfTimer()->SetStepMs(40);
    frame->Action(ID_WINDOW_FULLSCREEN)->trigger();
    frame->Action(ID_VIDEO_SNAPSHOT_TIMER)->trigger();
    ASSERT_TRUE(view->Countdown()->isVisible());
    PressEscape();
    EXPECT_FALSE(frame->SelfTimer()->Active());
    EXPECT_TRUE(view->Countdown()->isHidden());
    EXPECT_EQ(Status(), "已取消定时拍照");
    EXPECT_EQ(fullScreen, 1);  // one Esc ends one thing
    ASSERT_TRUE(ATimerStartedNowRunsOut(40));
    EXPECT_EQ(soundsPlayed, 0);
    EXPECT_EQ(snapshotArmed.load(), 0);

    frame->Action(ID_VIDEO_SNAPSHOT_TIMER)->trigger();
    frame->Action(ID_VIDEO_STOP)->trigger();
    EXPECT_TRUE(view->Countdown()->isHidden());
    ASSERT_TRUE(ATimerStartedNowRunsOut(40));
    EXPECT_EQ(soundsPlayed, 0);
    PressEscape();
    EXPECT_EQ(fullScreen, 0);
}

// Where the sink draws the picture into a subsurface above the window's
// surface (Wayland), the flash and the number are input-less windows of
// their own over the picture, following it, and gone when they end.
TEST_F(PhotoHabitsTest, OverAPictureInASubsurfaceTheFlashAndTheCountdownAreWindowsOverIt)
{
    StartPreview();
    ASSERT_TRUE(WaitFor([&] { return view->VideoWindow() && view->VideoWindow()->isVisible(); }));
    CVideoWindow* picture = view->VideoWindow();
    const auto onScreen = [&] { return QRect(view->mapToGlobal(picture->pos()), picture->size()); };
    const auto inTheMiddle = [&](const QRect& badge) {  // of the picture, within a pixel
        return onScreen().contains(badge) && (badge.center() - onScreen().center()).manhattanLength() <= 2;
    };
    CCountdownBadge* badge = view->Countdown();
    badge->SetAbovePicture(picture);
    badge->ShowNumber(3);
    EXPECT_TRUE(badge->isWindow());
    EXPECT_TRUE(badge->isVisible());
    EXPECT_TRUE(badge->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(inTheMiddle(badge->geometry()));
    picture->setGeometry(picture->geometry().adjusted(0, 0, -40, -20));  // another window mode
    EXPECT_TRUE(inTheMiddle(badge->geometry()));
    badge->ShowNumber(0);
    EXPECT_TRUE(badge->isHidden());

    CFlashOverlay* flash = view->PhotoFlash();
    flash->SetAbovePicture(picture);
    flash->Flash();
    EXPECT_TRUE(flash->isWindow());
    EXPECT_EQ(flash->geometry(), onScreen());
    EXPECT_TRUE(WaitFor([&] { return flash->isHidden(); }));

    // Back to the view's child where the view shows the picture.
    badge->SetAbovePicture(nullptr);
    badge->ShowNumber(2);
    EXPECT_FALSE(badge->isWindow());
    EXPECT_EQ(badge->geometry().center(), view->rect().center());
}

// 连拍 takes the series set in 连拍设置 (remembered in the profile), each
// photo with the shutter sound and under a name of its own, though several
// fall in one second; Esc and 停止 end a series under way.
TEST_F(PhotoHabitsTest, ABurstTakesTheSeriesSetAndEscOrStopEndsIt)
{
    EXPECT_EQ(CBurstShooter::RememberedCount(), CBurstShooter::kDefaultCount);
    EXPECT_EQ(CBurstShooter::RememberedIntervalMs(), CBurstShooter::kDefaultIntervalMs);
    {
        CBurstDialog settings(frame);
        settings.CountBox()->setValue(3);
        settings.IntervalBox()->setValue(0.2);
        settings.accept();
    }
    EXPECT_EQ(CBurstShooter::RememberedCount(), 3);
    EXPECT_EQ(CBurstShooter::RememberedIntervalMs(), 200);

    const QString photos = startDir.filePath("photos");
    ASSERT_TRUE(QDir().mkpath(photos));
    SetPhotoFolder(photos);
    StartPreview();
    const int soundsBefore = soundsPlayed;
    frame->Action(ID_VIDEO_BURST)->trigger();
    EXPECT_TRUE(frame->Burst()->Active());
    ASSERT_TRUE(WaitFor([&] { return !frame->Burst()->Active() && snapshotArmed.load() == 0; }));
    EXPECT_TRUE(WaitFor([&] { return QDir(photos).entryList(QDir::Files).size() == 3; }))
        << QDir(photos).entryList(QDir::Files).join(", ").toStdString();
    EXPECT_EQ(soundsPlayed - soundsBefore, 3);

    CBurstShooter::Remember(5, 1000);
    frame->Action(ID_VIDEO_BURST)->trigger();
    ASSERT_TRUE(frame->Burst()->Active());
    PressEscape();
    EXPECT_FALSE(frame->Burst()->Active());
    EXPECT_EQ(frame->Burst()->Taken(), 1);
    EXPECT_TRUE(Status().startsWith("连拍已停止")) << Status().toStdString();

    frame->Action(ID_VIDEO_BURST)->trigger();
    ASSERT_TRUE(frame->Burst()->Active());
    frame->Action(ID_VIDEO_STOP)->trigger();
    EXPECT_FALSE(frame->Burst()->Active());
    EXPECT_FALSE(frame->Action(ID_VIDEO_BURST)->isEnabled());
}

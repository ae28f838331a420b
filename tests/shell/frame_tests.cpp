// The main frame: start state, commands and their marks, window modes.
#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QStatusTipEvent>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest/QTest>
#include <QMenu>
#include <QTranslator>

#include <memory>

#include "frame/PhotoThumbnail.h"
#include "frame_fixture.h"
#include "app/QtTranslations.h"
#include "capture/SoundPlayer.h"
#include "res/Resources.h"
#include "res/RuntimeFiles.h"

using FrameTest = ShellTest;

namespace {
// Counts the Move events a window has had.
struct MoveCounter : QObject {
    int moves = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        moves += event->type() == QEvent::Move;
        return false;
    }
};
}  // namespace

TEST_F(FrameTest, StartsSmallCentredAndIdle)
{
    EXPECT_EQ(frame->frameGeometry().size(), QSize(280, 280));
    EXPECT_EQ(frame->windowTitle(), "Lumora");
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());  // cannot be resized
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(frame->statusBar->currentMessage(), "就绪");
    EXPECT_EQ(QString::fromStdString(appDirectory), startDir.path());

    const QRect area = frame->screen()->availableGeometry();
    EXPECT_EQ(frame->frameGeometry().center().x() / 2, area.center().x() / 2);

    EXPECT_TRUE(frame->Action(ID_VIDEO_START)->isEnabled());
    EXPECT_FALSE(frame->Action(ID_VIDEO_START)->isChecked());
    for (int id : {ID_VIDEO_RECORD, ID_VIDEO_PAUSE, ID_VIDEO_STOP, ID_VIDEO_SNAPSHOT, ID_VIDEO_CAMERA_SETTINGS})
        EXPECT_FALSE(frame->Action(id)->isEnabled()) << id;
    EXPECT_FALSE(frame->Action(ID_WINDOW_FULLSCREEN)->isChecked());
    EXPECT_TRUE(frame->Action(ID_VIEW_TOOLBAR)->isChecked());
    EXPECT_TRUE(frame->Action(ID_VIEW_STATUS_BAR)->isChecked());
}

TEST_F(FrameTest, MenusAndToolbarShareOneActionPerCommand)
{
    const auto& menus = MainMenuResource();
    const QList<QAction*> bar = frame->menuBar()->actions();
    ASSERT_EQ(bar.size(), static_cast<qsizetype>(menus.size()));
    for (size_t m = 0; m < menus.size(); ++m) {
        EXPECT_EQ(bar[m]->text(), menus[m].title);
        QList<QAction*> items = bar[m]->menu()->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(menus[m].items.size()));
        for (size_t i = 0; i < menus[m].items.size(); ++i) {
            if (menus[m].items[i].id == ID_SEPARATOR) {
                EXPECT_TRUE(items[i]->isSeparator());
                continue;
            }
            EXPECT_EQ(items[i], frame->Action(menus[m].items[i].id));
            EXPECT_EQ(items[i]->text(), menus[m].items[i].label);
        }
    }
    EXPECT_EQ(frame->Action(ID_VIDEO_RECORD)->statusTip(), "开始录相");
    EXPECT_EQ(frame->Action(ID_WINDOW_MINIMAL)->statusTip(), CommandStringFor(ID_WINDOW_MINIMAL).prompt);
    EXPECT_EQ(frame->Action(ID_WINDOW_COMPATIBLE)->statusTip(), CommandStringFor(ID_WINDOW_COMPATIBLE).prompt);

    const QList<QAction*> buttons = frame->toolBar->actions();
    const auto& ids = ToolbarResource();
    // Then a spacer and the latest photo, at the right end.
    ASSERT_EQ(buttons.size(), static_cast<qsizetype>(ids.size()) + 2);
    EXPECT_EQ(frame->toolBar->widgetForAction(buttons.back()), static_cast<QWidget*>(frame->photoThumbnail));
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(buttons[i], frame->Action(ids[i]));
        EXPECT_EQ(buttons[i]->toolTip(), CommandStringFor(ids[i]).tooltip);
    }
    // Every accelerator reaches an action with that key.
    for (const AcceleratorEntry& entry : AcceleratorResource()) {
        QAction* action = frame->ShortcutAction(entry.id);
        ASSERT_NE(action, nullptr);
        EXPECT_TRUE(action->shortcuts().contains(entry.keys));
        EXPECT_TRUE(static_cast<QWidget*>(frame)->actions().contains(action));
    }
}

TEST_F(FrameTest, StatusPaneShowsPromptThenIdleText)
{
    QStatusTipEvent prompt(frame->Action(ID_VIDEO_RECORD)->statusTip());
    QApplication::sendEvent(frame, &prompt);
    EXPECT_EQ(frame->statusBar->currentMessage(), "开始录相");
    QStatusTipEvent cleared{QString()};
    QApplication::sendEvent(frame, &cleared);
    EXPECT_EQ(frame->statusBar->currentMessage(), "就绪");
}

TEST_F(FrameTest, SpaceDoesNothingWhileNotPreviewing)
{
    // Space belongs to a disabled action, so the key has no handler.
    QAction* key = frame->ShortcutAction(ID_VIDEO_SNAPSHOT);
    EXPECT_FALSE(frame->Action(ID_VIDEO_SNAPSHOT)->isEnabled());
    EXPECT_FALSE(key->isEnabled());
    EXPECT_TRUE(key->shortcuts().contains(QKeySequence(Qt::Key_Space)));
    key->trigger();
    frame->Action(ID_VIDEO_SNAPSHOT)->trigger();  // disabled: ignored
    EXPECT_EQ(snapshotArmed.load(), 0);
    EXPECT_EQ(soundsPlayed, 0);
}

TEST_F(FrameTest, SnapshotItemSpellsSpaceOnceAndSpaceStillTakesAPhoto)
{
    QAction* snapshot = frame->Action(ID_VIDEO_SNAPSHOT);
    EXPECT_EQ(snapshot->text(), QStringLiteral("拍照        Space"));
    // The menu prints an action's own key in its shortcut column.
    EXPECT_TRUE(snapshot->shortcut().isEmpty()) << snapshot->shortcut().toString().toStdString();
    for (QAction* title : frame->menuBar()->actions())
        for (QAction* item : title->menu()->actions())
            EXPECT_NE(item, frame->ShortcutAction(ID_VIDEO_SNAPSHOT));

    ChooseTestPattern();
    frame->Action(ID_VIDEO_START)->trigger();
    ASSERT_TRUE(frame->previewing) << messages.join("\n").toStdString();
    EXPECT_TRUE(frame->ShortcutAction(ID_VIDEO_SNAPSHOT)->isEnabled());
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    QTest::keyClick(frame, Qt::Key_Space);
    EXPECT_EQ(soundsPlayed, 1);
    EXPECT_TRUE(WaitFor([] { return snapshotArmed.load() == 0; }));  // taken by the grabber
    frame->Action(ID_VIDEO_STOP)->trigger();
    QTest::keyClick(frame, Qt::Key_Space);
    EXPECT_EQ(soundsPlayed, 1);
}

TEST_F(FrameTest, OuterSizeIsKeptWhenDecorationsArriveAfterShowing)
{
    // A window manager frames the window only after it is shown: the client
    // size asked for before comes out too big by the decorations.
    const QSize decorations = frame->frameGeometry().size() - frame->geometry().size();
    ASSERT_FALSE(decorations.isEmpty()) << "the platform draws no frame";
    frame->move(5, 5);
    frame->setFixedSize(280, 280);  // the client alone at the outer size
    EXPECT_TRUE(WaitFor([&] { return frame->frameGeometry().size() == QSize(280, 280); }, 2000))
        << frame->frameGeometry().width() << "x" << frame->frameGeometry().height();
    const QRect area = frame->screen()->availableGeometry();
    EXPECT_LE((frame->frameGeometry().center() - area.center()).manhattanLength(), 2);

    // A window of the right size stays where the user puts it: once its
    // move has been handled, which might have moved it back.
    MoveCounter counter;
    frame->installEventFilter(&counter);
    frame->move(10, 20);
    EXPECT_TRUE(WaitFor([&] { return counter.moves > 0; }, 2000));
    frame->removeEventFilter(&counter);
    EXPECT_EQ(frame->frameGeometry().topLeft(), QPoint(10, 20));
}

TEST_F(FrameTest, StartWithoutDeviceChangesNothing)
{
    nextDeviceChoice = DeviceChoice{};
    const QRect before = frame->frameGeometry();
    frame->Action(ID_VIDEO_START)->trigger();
    EXPECT_EQ(deviceDialogShown, 1);
    EXPECT_FALSE(frame->previewing);
    EXPECT_FALSE(frame->Action(ID_VIDEO_START)->isChecked());
    EXPECT_FALSE(view->graphBuilt);
    EXPECT_EQ(frame->frameGeometry(), before);
}

TEST_F(FrameTest, CompatibleModeNeedsAVideoSize)
{
    frame->OnWindowFullScreen();
    const QRect full = frame->frameGeometry();
    frame->OnWindowCompatible();
    EXPECT_EQ(frame->frameGeometry(), full);

    videoWidth = 320;
    videoHeight = 240;
    frame->OnWindowCompatible();
    EXPECT_EQ(frame->frameGeometry().size(), QSize(320, 340));
    EXPECT_EQ(fullScreen, 1);  // the main menu's modes leave it alone
}

TEST_F(FrameTest, CompatibleModeScalesAPictureLargerThanTheScreenToFitIt)
{
    const QRect area = frame->screen()->availableGeometry();
    videoWidth = area.width() * 2;
    videoHeight = videoWidth * 9 / 16;
    frame->OnWindowCompatible();
    const QRect outer = frame->frameGeometry();
    EXPECT_TRUE(area.contains(outer));
    EXPECT_TRUE(outer.width() == area.width() || outer.height() == area.height());
    EXPECT_NEAR(outer.width() * 9.0 / 16, outer.height() - CMainFrame::kVideoExtraHeight, 1);
}

TEST_F(FrameTest, FullScreenViewCoversTheScreen)
{
    const QRect before = frame->geometry();
    frame->Action(ID_WINDOW_FULLSCREEN)->trigger();
    EXPECT_EQ(fullScreen, 1);
    EXPECT_TRUE(frame->Action(ID_WINDOW_FULLSCREEN)->isChecked());
    EXPECT_EQ(frame->savedPlacement, before);
    const QRect screenRect = frame->screen()->geometry();
    EXPECT_EQ(QRect(view->mapToGlobal(QPoint(0, 0)), view->size()), screenRect);
    EXPECT_EQ(frame->frameGeometry(), frame->fullScreenRect);

    // Again: the full-screen placement replaces the saved one.
    const QRect full = frame->geometry();
    frame->OnWindowFullScreen();
    EXPECT_EQ(frame->savedPlacement, full);
    frame->LeaveFullScreen();
    EXPECT_EQ(fullScreen, 0);
    EXPECT_EQ(frame->geometry(), full);
}

TEST_F(FrameTest, FullScreenWithHiddenBarsStillCoversTheScreen)
{
    frame->Action(ID_VIEW_TOOLBAR)->trigger();
    frame->Action(ID_VIEW_STATUS_BAR)->trigger();
    EXPECT_FALSE(frame->Action(ID_VIEW_TOOLBAR)->isChecked());
    EXPECT_FALSE(frame->Action(ID_VIEW_STATUS_BAR)->isChecked());
    frame->OnWindowFullScreen();
    EXPECT_EQ(QRect(view->mapToGlobal(QPoint(0, 0)), view->size()), frame->screen()->geometry());
}

TEST_F(FrameTest, MinimalInFullScreenKeepsTheFlagAndContextMenuRestores)
{
    const QRect before = frame->geometry();
    frame->OnWindowFullScreen();
    frame->Action(ID_WINDOW_MINIMAL)->trigger();
    EXPECT_EQ(frame->frameGeometry().size(), QSize(280, 280));
    EXPECT_EQ(fullScreen, 1);
    EXPECT_TRUE(frame->Action(ID_WINDOW_FULLSCREEN)->isChecked());

    view->OnPopupFullScreen();  // a toggle: leaves
    EXPECT_EQ(fullScreen, 0);
    EXPECT_EQ(frame->geometry(), before);
    EXPECT_FALSE(frame->Action(ID_WINDOW_FULLSCREEN)->isChecked());
}

TEST_F(FrameTest, HelpCommandsOpenReadmeAndHomepage)
{
    QFile readme(startDir.filePath("Readme.txt"));
    ASSERT_TRUE(readme.open(QIODevice::WriteOnly));
    readme.close();
    frame->Action(ID_HELP_README)->trigger();
    frame->Action(ID_HELP_HOMEPAGE)->trigger();
    ASSERT_EQ(openedUrls.size(), 2);
    EXPECT_EQ(openedUrls[0], QUrl::fromLocalFile(startDir.path() + "/Readme.txt"));
    EXPECT_EQ(openedUrls[1], QUrl(HomepageUrl()));
}

TEST_F(FrameTest, ReadOnlyFilesMissingHereComeFromTheInstallation)
{
    // Started from the menu, the start directory has no shutter sound.
    std::string played;
    frame->soundHook = [&played](const std::string& path) { played = path; return true; };
    frame->OnTakePhoto();
    snapshotArmed.store(0);
    const QString installed = InstalledDataDirectory() + "/CAMERA.WAV";
    const QString beside = QCoreApplication::applicationDirPath() + "/CAMERA.WAV";
    const QString expected = QFileInfo(beside).isFile()      ? beside
                             : QFileInfo(installed).isFile() ? installed
                                                             : startDir.filePath("CAMERA.WAV");
    EXPECT_EQ(QString::fromStdString(played), expected);

    QFile local(startDir.filePath("CAMERA.WAV"));
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.close();
    frame->OnTakePhoto();
    snapshotArmed.store(0);
    EXPECT_EQ(QString::fromStdString(played), startDir.filePath("CAMERA.WAV"));
}

TEST_F(FrameTest, TakePhotoArmsEvenWhenTheSoundFails)
{
    frame->soundHook = [](const std::string&) { return false; };
    frame->OnTakePhoto();
    EXPECT_EQ(snapshotArmed.load(), 1);
    snapshotArmed.store(0);
}

TEST(SoundPlayerTest, MissingFileReportsFailureSoTheFrameBeeps)
{
    EXPECT_FALSE(PlaySoundFileAsync("/nonexistent/CAMERA.WAV"));
    EXPECT_FALSE(PlaySoundFileAsync(QDir::tempPath().toStdString()));  // a folder
}

TEST_F(FrameTest, UnreadableSettingsAreReportedAndTheFrameStillComesUp)
{
    const QString other = startDir.filePath("other");
    ASSERT_TRUE(QDir().mkpath(other + "/setting.ini"));  // a folder cannot be read as the file
    QDir::setCurrent(other);
    messages.clear();
    {
        CMainFrame second;
        EXPECT_FALSE(second.settingsLoad.ok);
        EXPECT_EQ(messages.size(), 1);
        EXPECT_EQ(second.windowTitle(), "Lumora");
    }
    QDir::setCurrent(startDir.path());
}

TEST_F(FrameTest, HelpCommandsThatNothingOpensSaySoInTheStatusBar)
{
    urlsOpen = false;  // no text editor, no browser
    frame->Action(ID_HELP_README)->trigger();
    const QString readme = frame->statusBar->currentMessage();
    EXPECT_TRUE(readme.contains(RuntimeFilePath("Readme.txt"))) << readme.toStdString();
    EXPECT_TRUE(readme.startsWith("无法打开使用说明")) << readme.toStdString();
    frame->Action(ID_HELP_HOMEPAGE)->trigger();
    const QString homepage = frame->statusBar->currentMessage();
    EXPECT_TRUE(homepage.contains(HomepageUrl())) << homepage.toStdString();
    EXPECT_TRUE(homepage.startsWith("无法打开作者主页")) << homepage.toStdString();
    EXPECT_TRUE(messages.isEmpty());

    urlsOpen = true;  // opened: the idle text stays
    frame->statusBar->showMessage("就绪");
    frame->Action(ID_HELP_HOMEPAGE)->trigger();
    EXPECT_EQ(frame->statusBar->currentMessage(), "就绪");
}

TEST_F(FrameTest, MenuOfTheBarsNamesTheToolbarAndKeepsTheViewMenuInStep)
{
    // What a right click on the toolbar's empty part opens.
    std::unique_ptr<QMenu> menu(frame->createPopupMenu());
    ASSERT_NE(menu, nullptr);
    QAction* toggle = nullptr;
    for (QAction* item : menu->actions()) {
        if (item->isSeparator()) continue;
        EXPECT_FALSE(item->text().isEmpty());
        if (item == frame->toolBar->toggleViewAction()) toggle = item;
    }
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->text(), "工具栏");

    toggle->trigger();
    EXPECT_TRUE(frame->toolBar->isHidden());
    EXPECT_FALSE(frame->Action(ID_VIEW_TOOLBAR)->isChecked());
    frame->Action(ID_VIEW_TOOLBAR)->trigger();
    EXPECT_FALSE(frame->toolBar->isHidden());
    EXPECT_TRUE(frame->Action(ID_VIEW_TOOLBAR)->isChecked());
}

namespace {

// The program as it starts: Qt's own texts in Chinese.
class ChineseFrameTest : public ShellTest {
protected:
    void SetUp() override
    {
        translator = InstallQtChineseTranslations();
        ASSERT_NE(translator, nullptr) << "qtbase_zh_CN.qm is not installed";
        ShellTest::SetUp();
    }
    void TearDown() override
    {
        ShellTest::TearDown();
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    QTranslator* translator = nullptr;
};

}  // namespace

TEST_F(ChineseFrameTest, SnapshotItemSpellsSpaceOnceWithQtsChineseTexts)
{
    ASSERT_EQ(QKeySequence(Qt::Key_Space).toString(QKeySequence::NativeText), "空格");
    QAction* snapshot = frame->Action(ID_VIDEO_SNAPSHOT);
    EXPECT_EQ(snapshot->text(), QStringLiteral("拍照        Space"));
    EXPECT_TRUE(snapshot->shortcut().isEmpty()) << snapshot->shortcut().toString().toStdString();
    QAction* key = frame->ShortcutAction(ID_VIDEO_SNAPSHOT);
    ASSERT_NE(key, snapshot);
    EXPECT_TRUE(key->shortcuts().contains(QKeySequence(Qt::Key_Space)));
    // The key follows the command's state.
    EXPECT_FALSE(key->isEnabled());
    snapshot->setEnabled(true);
    EXPECT_TRUE(key->isEnabled());
}

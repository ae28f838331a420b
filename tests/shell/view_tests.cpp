// The view: background picture, device choice, live frames, the picture
// mirrored and turned, printing.
#include <QAction>
#include <QFile>
#include <QMenu>
#include <QPrinter>
#include <QSettings>

#include "tests/support/gst/GstTesting.h"
#include "frame_fixture.h"
#include "res/Resources.h"
#include "view/VideoWidget.h"

using ViewTest = ShellTest;

TEST_F(ViewTest, InitialUpdateRegistersAndTilesTheBackground)
{
    EXPECT_EQ(theView, view);
    EXPECT_FALSE(view->graphBuilt);
    EXPECT_TRUE(view->showBackground);
    frame->OnWindowFullScreen();  // wider than one tile
    const QImage bitmap = BackgroundBitmap();
    ASSERT_GT(view->width(), bitmap.width());
    const QImage shown = view->grab().toImage();
    for (QPoint at : {QPoint(0, 0), QPoint(17, 33)}) {
        EXPECT_EQ(shown.pixelColor(at), bitmap.pixelColor(at));
        EXPECT_EQ(shown.pixelColor(at + QPoint(bitmap.width(), 0)), bitmap.pixelColor(at));
    }
    EXPECT_EQ(view->paintRect, view->rect());
}

TEST_F(ViewTest, ContextMenuHoldsTheThreeModesWithFullScreenMark)
{
    const QList<QAction*> items = view->ContextMenu()->actions();
    ASSERT_EQ(items.size(), 3);
    QAction* full = nullptr;
    for (QAction* item : items)
        if (item->data().toInt() == ID_POPUP_FULLSCREEN) full = item;
    ASSERT_NE(full, nullptr);
    full->trigger();
    EXPECT_EQ(fullScreen, 1);
    full->trigger();
    EXPECT_EQ(fullScreen, 0);
}

TEST_F(ViewTest, PopupCompatibleBeforeAnyGraphOnlyLeavesFullScreen)
{
    frame->OnWindowFullScreen();
    const QRect saved = frame->savedPlacement;
    view->OnPopupCompatible();
    EXPECT_EQ(fullScreen, 0);
    EXPECT_EQ(frame->geometry(), saved);
}

TEST_F(ViewTest, StartVideoBuildsOnceAndShowsFrames)
{
    ChooseTestPattern();
    ASSERT_GE(nextDeviceChoice.videoDeviceIndex, 0);
    frame->OnStartVideo();
    ASSERT_TRUE(view->graphBuilt) << messages.join("\n").toStdString();
    EXPECT_FALSE(view->showBackground);
    EXPECT_TRUE(frame->previewing);
    EXPECT_TRUE(frame->Action(ID_VIDEO_START)->isChecked());
    EXPECT_TRUE(frame->Action(ID_VIDEO_SNAPSHOT)->isEnabled());
    EXPECT_EQ(frame->frameGeometry().size(), QSize(videoWidth, videoHeight + 100));

    CVideoWindow* window = view->VideoWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitFor([&] { return window->FramesPresented() > 2; }));
    EXPECT_EQ(window->LatestFrame().size(), QSize(640, 480));
    EXPECT_TRUE(WaitFor([&] { return window->isVisible(); }));

    // Stopped, the view's background shows instead of the last picture.
    frame->OnStopVideo();
    EXPECT_TRUE(view->showBackground);
    EXPECT_TRUE(window->isHidden());
    EXPECT_FALSE(frame->Action(ID_VIDEO_RECORD)->isEnabled());
    // Built already: no dialog the second time; the same window comes back
    // with the pictures.
    frame->OnStartVideo();
    EXPECT_EQ(deviceDialogShown, 1);
    EXPECT_TRUE(frame->previewing);
    EXPECT_TRUE(WaitFor([&] { return window->isVisible(); }));
    EXPECT_EQ(view->VideoWindow(), window);

    // Paused, the last picture stays.
    frame->OnPauseVideo();
    EXPECT_TRUE(window->isVisible());
}

// 镜像 and 旋转 on the colour bars (grey at the left, blue at the right):
// the painted picture mirrored, the window sized to the turned picture,
// no turn while recording, and both back when the camera is opened again.
TEST_F(ViewTest, MirrorAndTurnAreRememberedForTheCameraAndAppliedWhenItIsOpenedAgain)
{
    QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Lumora"))
        .remove(QStringLiteral("Camera Picture"));
    lumora::gst::SetTestCameraPattern("smpte");
    struct PatternBack {
        ~PatternBack() { lumora::gst::SetTestCameraPattern("ball"); }
    } patternBack;
    EXPECT_FALSE(frame->Action(ID_VIEW_MIRROR)->isEnabled());
    ChooseTestPattern();
    frame->OnStartVideo();
    ASSERT_TRUE(view->graphBuilt) << messages.join("\n").toStdString();
    EXPECT_TRUE(frame->Action(ID_VIEW_ROTATE_0)->isChecked());

    frame->Action(ID_VIEW_MIRROR)->trigger();
    EXPECT_TRUE(frame->Action(ID_VIEW_MIRROR)->isChecked());
    CVideoWindow* window = view->VideoWindow();
    const auto leftIsBlue = [&] {
        const QImage shown = window->grab().toImage();
        const QColor left = shown.pixelColor(10, 30), right = shown.pixelColor(shown.width() - 10, 30);
        return left.blue() > left.red() + 100 && right.red() > 150;
    };
    EXPECT_TRUE(WaitFor(leftIsBlue));

    frame->Action(ID_VIEW_ROTATE_90)->trigger();
    EXPECT_TRUE(frame->Action(ID_VIEW_ROTATE_90)->isChecked());
    EXPECT_FALSE(frame->Action(ID_VIEW_ROTATE_0)->isChecked());
    EXPECT_EQ(frame->frameGeometry().size(), QSize(480, 640 + 100));
    EXPECT_TRUE(WaitFor([&] { return window->LatestFrame().size() == QSize(480, 640); }));

    SetRecordingPath(startDir.filePath("capture.avi"));
    frame->Action(ID_VIDEO_RECORD)->trigger();
    ASSERT_TRUE(frame->recording);
    EXPECT_FALSE(frame->Action(ID_VIEW_ROTATE)->isEnabled());
    EXPECT_FALSE(frame->Action(ID_VIEW_ROTATE_180)->isEnabled());
    frame->OnStopVideo();

    // The program starts again: the same camera comes back turned and mirrored.
    app.reset();
    app = std::make_unique<CLumoraApp>(nullptr, startDir.filePath("profile.ini"));
    ASSERT_TRUE(app->InitInstance());
    frame = app->Frame();
    view = app->View();
    frame->OnStartVideo();
    ASSERT_TRUE(view->graphBuilt);
    EXPECT_EQ(TheCaptureSession().Rotation(), 90);
    EXPECT_TRUE(TheCaptureSession().Mirrored());
    EXPECT_TRUE(frame->Action(ID_VIEW_MIRROR)->isChecked());
    EXPECT_TRUE(frame->Action(ID_VIEW_ROTATE_90)->isChecked());
    EXPECT_EQ(frame->frameGeometry().size(), QSize(480, 640 + 100));
}

TEST_F(ViewTest, OpenResetsTheGraphFlag)
{
    ChooseTestPattern();
    frame->OnStartVideo();
    ASSERT_TRUE(view->graphBuilt);
    QFile any(startDir.filePath("any.lum"));
    ASSERT_TRUE(any.open(QIODevice::WriteOnly));
    any.close();
    ASSERT_TRUE(app->Document()->OnOpenDocument(any.fileName()));
    EXPECT_FALSE(view->graphBuilt);
    EXPECT_TRUE(view->showBackground);
}

// An unplugged camera, while recording: the message names it, the file is
// kept, and the next Start video asks for a camera again.
TEST_F(ViewTest, ACameraUnpluggedWhileStoppedIsNamedAtStartAndTheNextStartChoosesAgain)
{
    ChooseTestPattern();
    frame->OnStartVideo();
    ASSERT_TRUE(view->graphBuilt);
    frame->OnStopVideo();
    lumora::gst::UnplugTestCamera();
    lumora::gst::ReplugTestCamera();
    frame->OnStartVideo();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.front().contains(QStringLiteral("Lumora Test Pattern"))) << messages.front().toStdString();
    EXPECT_FALSE(frame->previewing);
    EXPECT_FALSE(view->graphBuilt);
    EXPECT_TRUE(view->showBackground);

    ChooseTestPattern();
    frame->OnStartVideo();
    EXPECT_EQ(deviceDialogShown, 2);
    EXPECT_TRUE(frame->previewing);
}

TEST_F(ViewTest, ACameraThatGoesAwayLetsTheNextStartChooseAgain)
{
    ChooseTestPattern();
    frame->OnStartVideo();
    ASSERT_TRUE(view->graphBuilt);
    ASSERT_TRUE(view->RecordVideo());
    ASSERT_TRUE(WaitFor([&] { return view->VideoWindow() && view->VideoWindow()->FramesPresented() > 10; }));
    lumora::gst::UnplugTestCamera();
    const bool stopped = WaitFor([&] { return !messages.isEmpty(); });
    lumora::gst::ReplugTestCamera();
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(messages.front().contains(QStringLiteral("Lumora Test Pattern"))) << messages.front().toStdString();
    EXPECT_FALSE(frame->previewing);
    EXPECT_FALSE(view->graphBuilt);
    EXPECT_TRUE(view->showBackground);
    EXPECT_TRUE(view->VideoWindow()->isHidden());

    ChooseTestPattern();  // the camera is back: listed again
    frame->OnStartVideo();
    EXPECT_EQ(deviceDialogShown, 2);
    EXPECT_TRUE(view->graphBuilt) << messages.join("\n").toStdString();
    EXPECT_TRUE(frame->previewing);
}

TEST_F(ViewTest, PrintsTheViewIntoAPdf)
{
    const QString pdf = startDir.filePath("page.pdf");
    CLumoraView::printDialogHook = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    };
    frame->Action(ID_FILE_PRINT)->trigger();
    CLumoraView::printDialogHook = nullptr;
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
}

TEST_F(ViewTest, ConvertBitmapToJpegFailsWithoutABitmap)
{
    EXPECT_FALSE(view->ConvertBitmapToJpeg());
    EXPECT_FALSE(QFile::exists(startDir.filePath("temp.jpg")));
}

#include "frame/MainFrame.h"

// The three window modes and the outer size they ask for.

#include <QGuiApplication>
#include <QLayout>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QScreen>
#include <QTimer>

#include <algorithm>

#include "capture/CaptureSession.h"
#include "view/LumoraView.h"

// A Wayland compositor places the windows itself: a window moved so that
// its bars lie beyond the screen's edges stays where the compositor put it.
// There the compositor is asked for full screen, the bars hidden.
// Enough for a repaint at the reduced size to reach the compositor.
constexpr int kFullScreenDelayMs = 150;

static bool CompositorPlacesWindows()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void CMainFrame::SetOuterSize(int width, int height)
{
    wantedOuterSize = QSize(width, height);
    ApplyOuterSize();
}

void CMainFrame::ApplyOuterSize()
{
    // Outer size = client size + the window manager's decorations.
    const int extraWidth = frameGeometry().width() - geometry().width();
    const int extraHeight = frameGeometry().height() - geometry().height();
    setFixedSize(std::max(1, wantedOuterSize.width() - extraWidth),
                 std::max(1, wantedOuterSize.height() - extraHeight));
}

void CMainFrame::KeepOuterSize()
{
    // The window manager adds its decorations only after the window is
    // shown: the size asked for before is corrected once they are known.
    if (keepingOuterSize || !wantedOuterSize.isValid() || !isVisible()) return;
    const QSize before = frameGeometry().size();
    if (before == wantedOuterSize) return;
    keepingOuterSize = true;
    ApplyOuterSize();
    // Only a window that really changed size moves back to the centre, so a
    // window the user moves stays where it was put.
    if (centreOuterSize && frameGeometry().size() != before) CentreOnWorkArea();
    keepingOuterSize = false;
}

void CMainFrame::CentreOnWorkArea()
{
    QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!where) return;
    const QRect area = where->availableGeometry();
    const QRect outer = frameGeometry();
    int x = area.left() + (area.width() - outer.width()) / 2;
    int y = area.top() + (area.height() - outer.height()) / 2;
    if (outer.width() > area.width()) x = area.left();
    if (outer.height() > area.height()) y = area.top();
    move(x, y);
}

void CMainFrame::OnWindowMinimal()
{
    if (CompositorPlacesWindows()) LeaveFullScreen();
    SetOuterSize(kMinimalSize, kMinimalSize);
    windowFollowsVideo = false;
    // Chosen over a picture, the mode stays for the pictures that follow; the
    // window the program starts with gives way to the first one.
    minimalChosen = view && view->graphBuilt;
    centreOuterSize = true;
    show();
    CentreOnWorkArea();
    if (view) view->FitPreview();
}

void CMainFrame::OnWindowCompatible()
{
    if (videoWidth <= 0 || videoHeight <= 0) return;
    // The compositor's full screen, bars hidden, is no place for the modes.
    if (CompositorPlacesWindows()) LeaveFullScreen();
    ResizeToVideo(videoWidth, videoHeight);
    if (view) view->FitPreview();
}

void CMainFrame::OnWindowFullScreen()
{
    EnterFullScreen();
    if (view) view->FitPreview();
    UpdateCommandUI();
}

void CMainFrame::FitWindowToNewPicture()
{
    if (minimalChosen) return;
    if (fullScreen != 0) {
        // The screen stays covered; the window takes the picture's size after.
        windowFollowsVideo = true;
        pictureTurnedInFullScreen = true;
        return;
    }
    ResizeToVideo(videoWidth, videoHeight);
}

// The bars, the status bar with the take's time among them, stay on the
// screen; on Wayland a window larger than the screen also makes the step to
// full screen a protocol error.
QSize CMainFrame::OuterSizeForPicture(int width, int height) const
{
    const QSize outer(width, height + kVideoExtraHeight);
    QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!where || width <= 0 || height <= 0) return outer;
    const QSize area = where->availableGeometry().size();
    if (outer.width() <= area.width() && outer.height() <= area.height()) return outer;
    // The view scales the picture down, letterboxed where the shape differs.
    const double scale = std::min(static_cast<double>(area.width()) / width,
                                  static_cast<double>(area.height() - kVideoExtraHeight) / height);
    if (scale <= 0) return outer.boundedTo(area);
    return QSize(std::max(1, static_cast<int>(width * scale)),
                 std::max(1, static_cast<int>(height * scale)) + kVideoExtraHeight);
}

void CMainFrame::ResizeToVideo(int width, int height)
{
    const QSize outer = OuterSizeForPicture(width, height);
    SetOuterSize(outer.width(), outer.height());
    windowFollowsVideo = true;
    minimalChosen = false;
    centreOuterSize = true;
    show();
    CentreOnWorkArea();
}

void CMainFrame::EnterFullScreen()
{
    if (fullScreen != 0 && CompositorPlacesWindows()) return;
    savedPlacement = geometry();
    if (CompositorPlacesWindows()) {
        fullScreen = 1;
        wantedOuterSize = QSize();
        for (QWidget* bar : {static_cast<QWidget*>(menuBar()), static_cast<QWidget*>(toolBar),
                             static_cast<QWidget*>(statusBar)}) {
            if (bar && !bar->isHidden()) {
                bar->hide();
                barsHiddenForFullScreen.append(bar);
            }
        }
        // Qt may still commit a picture at the old size after the compositor
        // configured full screen, and a window larger than the screen (the
        // picture and the bars) is then a protocol error that ends the
        // program: the window first shrinks to fit the screen, and asks for
        // full screen once that size has been drawn.
        if (QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen()) {
            const QSize decorations = frameGeometry().size() - geometry().size();
            setFixedSize(size().boundedTo(where->geometry().size() - decorations));
        }
        QTimer::singleShot(kFullScreenDelayMs, this, [this] {
            if (fullScreen == 0 || isFullScreen()) return;
            setMinimumSize(0, 0);
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            showFullScreen();
        });
        return;
    }
    if (layout()) layout()->activate();  // the bars that are visible right now
    const QRect outer = frameGeometry();
    QRect client = view ? QRect(view->mapToGlobal(QPoint(0, 0)), view->size()) : geometry();
    if (!isVisible() && view) client.translate(geometry().topLeft() - mapToGlobal(QPoint(0, 0)));
    QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect screenRect = where ? where->geometry() : QRect(0, 0, 1024, 768);

    const int left = client.left() - outer.left();
    const int top = client.top() - outer.top();
    const int right = (outer.left() + outer.width()) - (client.left() + client.width());
    const int bottom = (outer.top() + outer.height()) - (client.top() + client.height());
    fullScreenRect = QRect(screenRect.left() - left, screenRect.top() - top,
                           screenRect.width() + left + right, screenRect.height() + top + bottom);
    fullScreen = 1;

    SetOuterSize(fullScreenRect.width(), fullScreenRect.height());
    centreOuterSize = false;
    move(fullScreenRect.topLeft());
    show();
}

void CMainFrame::LeaveFullScreen()
{
    if (fullScreen == 0) return;
    wantedOuterSize = QSize();
    if (isFullScreen()) showNormal();
    for (QWidget* bar : barsHiddenForFullScreen) bar->show();
    barsHiddenForFullScreen.clear();
    setFixedSize(savedPlacement.size());
    setGeometry(savedPlacement);
    show();
    fullScreen = 0;
    // The picture turned meanwhile: the window it was sized to is turned too.
    if (pictureTurnedInFullScreen && windowFollowsVideo) ResizeToVideo(videoWidth, videoHeight);
    pictureTurnedInFullScreen = false;
}


#include "frame/MainFrame.h"

// 查看 > 镜像 and 旋转: the preview mirrored as a self-view, and the pictures
// turned for a camera mounted upside down or on its side; each remembered
// for the camera and applied when it is opened again.

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include "capture/CaptureSession.h"
#include "capture/ui/PictureProfile.h"
#include "res/Resources.h"
#include "view/LumoraView.h"

namespace {

constexpr std::pair<int, int> kTurns[] = {
    {ID_VIEW_ROTATE_0, 0}, {ID_VIEW_ROTATE_90, 90}, {ID_VIEW_ROTATE_180, 180}, {ID_VIEW_ROTATE_270, 270}};

void RememberForCamera(const CCaptureSession& session)
{
    PictureProfile::Remember(session.CurrentCameraIdentity(), {session.Rotation(), session.Mirrored()});
}

}  // namespace

// The submenu's own action stands for it: it carries the prompt and is
// greyed with the whole submenu.
void CMainFrame::AddSubmenu(QMenu* menu, const MenuEntry& entry)
{
    QMenu* submenu = menu->addMenu(entry.label);
    for (const MenuEntry& item : entry.items) submenu->addAction(Action(item.id));
    QAction* action = submenu->menuAction();
    action->setData(entry.id);
    const CommandString strings = CommandStringFor(entry.id);
    if (strings.exists) action->setStatusTip(strings.prompt);
    actions[entry.id] = action;
}

void CMainFrame::CreatePictureActions()
{
    Action(ID_VIEW_MIRROR)->setCheckable(true);
    auto* turns = new QActionGroup(this);  // one of them checked, shown as such
    for (const auto& [id, degrees] : kTurns) {
        Action(id)->setCheckable(true);
        turns->addAction(Action(id));
    }
}

// Only a camera that was opened has settings to remember; a recording
// keeps the picture size it started with, so the turn waits for its end.
void CMainFrame::UpdatePictureCommandUI()
{
    const CCaptureSession& session = TheCaptureSession();
    const bool cameraOpened = view && view->graphBuilt;
    Action(ID_VIEW_MIRROR)->setEnabled(cameraOpened);
    Action(ID_VIEW_MIRROR)->setChecked(session.Mirrored());
    const bool turnable = cameraOpened && !session.RecordingActive();  // also while paused in one
    if (QAction* submenu = Action(ID_VIEW_ROTATE)) submenu->setEnabled(turnable);
    for (const auto& [id, degrees] : kTurns) {
        Action(id)->setEnabled(turnable);
        Action(id)->setChecked(session.Rotation() == degrees);
    }
}

void CMainFrame::OnMirror()
{
    CCaptureSession& session = TheCaptureSession();
    if (!view || !view->graphBuilt) return;
    session.SetMirrored(!session.Mirrored());
    RememberForCamera(session);
}

void CMainFrame::OnRotate(int degrees)
{
    CCaptureSession& session = TheCaptureSession();
    if (!view || !view->graphBuilt || session.RecordingActive()) return;
    const bool wasPreviewing = session.State().Previewing();
    const bool turned = session.SetRotation(degrees);
    RememberForCamera(session);
    if (!turned) {
        // The pipeline built again for the turn did not start.
        if (wasPreviewing && !session.State().Previewing()) OnGraphStopped();
        return;
    }
    if (windowFollowsVideo) {
        if (fullScreen != 0)
            pictureTurnedInFullScreen = true;
        else
            ResizeToVideo(videoWidth, videoHeight);
    }
    view->FitPreview();
}

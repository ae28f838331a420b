#include "frame/MainFrame.h"

// The capture commands (开始视频, 视频设备, 录相, 暂停, 停止) and what
// follows when the graph or its recording stops by itself.

#include <QFileInfo>
#include <QStatusBar>

#include "capture/CaptureSession.h"
#include "frame/RecordingStatusField.h"
#include "res/Resources.h"
#include "view/LumoraView.h"

void CMainFrame::OnStartVideo()
{
    if (!view || !view->StartVideo()) return;
    FitWindowToNewPicture();
    view->FitPreview();
    previewing = true;
    // A recording that went on through Pause keeps its check mark.
    recording = TheCaptureSession().RecordingActive();
    UpdateCommandUI();
    RefreshStatusFields();
    CameraStarted();
}

void CMainFrame::OnVideoDevices()
{
    if (!view || TheCaptureSession().RecordingActive()) return;
    const std::optional<DeviceChoice> choice = view->ChooseDevices();
    if (!choice) return;  // the graph in use stays as it was
    CancelTimedPhotos();
    const bool hadGraph = view->graphBuilt;
    const bool built = view->BuildGraphFor(*choice);
    previewing = built;
    recording = false;
    if (built) {
        FitWindowToNewPicture();
        view->FitPreview();
    }
    UpdateCommandUI();
    RefreshStatusFields();
    if (built)
        CameraStarted();
    else if (hadGraph)
        CameraGone();
}

void CMainFrame::OnRecordVideo()
{
    if (!view) return;
    // Checked only when a recording really runs.
    recording = view->RecordVideo();
    if (recording && restingMessage != IdleMessage()) {
        restingMessage = IdleMessage();  // the take before is no longer the news
        statusBar->showMessage(restingMessage);
    }
    UpdateCommandUI();
    RefreshStatusFields();
}

void CMainFrame::OnPauseVideo() { EndPreview(&CLumoraView::PauseVideo); }

void CMainFrame::OnStopVideo() { EndPreview(&CLumoraView::StopVideo); }

void CMainFrame::OnGraphStopped()
{
    EndPreview(&CLumoraView::OnGraphLost);
    CameraGone();
}

// Pause, Stop and a lost graph alike: the timed photos end, the view takes
// its step, and nothing is previewed or recorded any more.
void CMainFrame::EndPreview(void (CLumoraView::*viewStep)())
{
    CancelTimedPhotos();
    const bool takeRan = TheCaptureSession().RecordingActive();
    if (view) (view->*viewStep)();
    recording = false;
    previewing = false;
    UpdateCommandUI();
    RefreshStatusFields();
    if (takeRan && !TheCaptureSession().RecordingActive()) ShowTakeWritten();  // Pause keeps the take
}

void CMainFrame::OnRecordingStopped()
{
    recording = false;
    UpdateCommandUI();
    RefreshStatusFields();
    ShowTakeWritten();
}

void CMainFrame::ShowTakeWritten()
{
    const CaptureState state = TheCaptureSession().State();
    if (state.lastTakePath.empty()) return;
    restingMessage = FormatTakeWritten(QFileInfo(QString::fromStdString(state.lastTakePath)).fileName(),
                                       state.lastTake.seconds, state.lastTake.bytes);
    statusBar->showMessage(restingMessage);
}

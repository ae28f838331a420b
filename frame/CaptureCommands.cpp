#include "frame/MainFrame.h"

// The capture commands (开始视频, 录相, 暂停, 停止) and what follows when
// the graph or its recording stops by itself.

#include "capture/CaptureSession.h"
#include "view/LumoraView.h"

void CMainFrame::OnStartVideo()
{
    if (!view || !view->StartVideo()) return;
    ResizeToVideo(videoWidth, videoHeight);
    view->FitPreview();
    previewing = true;
    // A recording that went on through Pause keeps its check mark.
    recording = TheCaptureSession().RecordingActive();
    UpdateCommandUI();
    RefreshStatusFields();
    CameraStarted();
}

void CMainFrame::OnRecordVideo()
{
    if (!view) return;
    // Checked only when a recording really runs.
    recording = view->RecordVideo();
    UpdateCommandUI();
    RefreshStatusFields();
}

void CMainFrame::OnPauseVideo()
{
    CancelTimedPhotos();
    if (view) view->PauseVideo();
    recording = false;
    previewing = false;
    UpdateCommandUI();
    RefreshStatusFields();
}

void CMainFrame::OnStopVideo()
{
    CancelTimedPhotos();
    if (view) view->StopVideo();
    recording = false;
    previewing = false;
    UpdateCommandUI();
    RefreshStatusFields();
}

void CMainFrame::OnGraphStopped()
{
    CancelTimedPhotos();
    if (view) view->OnGraphLost();
    previewing = false;
    recording = false;
    UpdateCommandUI();
    RefreshStatusFields();
    CameraGone();
}

void CMainFrame::OnRecordingStopped()
{
    recording = false;
    UpdateCommandUI();
    RefreshStatusFields();
}

#include "frame/MainFrame.h"

// 摄像头设置: the modeless dialog of the camera's settings, and the settings
// remembered for a camera put back each time it starts.

#include <QStatusBar>

#include "capture/CaptureSession.h"
#include "capture/ui/CameraControlsDialog.h"
#include "capture/ui/CameraControlsProfile.h"

void CMainFrame::CameraStarted()
{
    const std::vector<std::string> refused = CameraControlsProfile::ApplyTo(TheCaptureSession());
    if (!refused.empty() && statusBar) statusBar->showMessage(QString::fromStdString(refused.front()));
    if (cameraSettings) cameraSettings->Refresh();
}

void CMainFrame::CameraGone()
{
    if (cameraSettings) cameraSettings->Refresh();
}

CCameraControlsDialog* CMainFrame::CameraSettingsDialog() const
{
    return cameraSettings.data();
}

void CMainFrame::OnCameraSettings()
{
    if (!cameraSettings) {
        cameraSettings = new CCameraControlsDialog(TheCaptureSession(), this);
        cameraSettings->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        cameraSettings->Refresh();
    }
    cameraSettings->show();
    cameraSettings->raise();
    cameraSettings->activateWindow();
}

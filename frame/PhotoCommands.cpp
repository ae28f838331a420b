#include "frame/MainFrame.h"

// Taking photos: at once or after the self-timer's countdown, and what the
// user is told when one is stored or fails.

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QStatusBar>

#include "capture/SoundPlayer.h"
#include "frame/BurstDialog.h"
#include "frame/BurstShooter.h"
#include "frame/PhotoThumbnail.h"
#include "frame/SelfTimer.h"
#include "res/RuntimeFiles.h"
#include "settings/SettingsFile.h"
#include "snapshot/GrabberCallback.h"
#include "view/LumoraView.h"

void CMainFrame::OnTakePhoto()
{
    if (view && !view->TakeSnapshot()) {
        if (statusBar) statusBar->showMessage(QStringLiteral("前几张照片还在保存，这次没有拍照"));
        return;
    }
    photoNote.clear();
    const std::string sound = RuntimeFilePath("CAMERA.WAV").toStdString();
    const bool played = soundHook ? soundHook(sound) : PlaySoundFileAsync(sound);
    if (!played) QApplication::beep();
}

void CMainFrame::CreateSelfTimer()
{
    // A burst's next photo waits while the one before is still being written.
    burst = new CBurstShooter([this] {
        if (snapshotArmed.load() != 0) return false;
        OnTakePhoto();
        return true;
    }, this);
    connect(burst, &CBurstShooter::finished, this, [this] { UpdateCommandUI(); });

    selfTimer = new CSelfTimer(this);
    connect(selfTimer, &CSelfTimer::counted, this, [this](int remaining) {
        if (view) view->ShowCountdown(remaining);
    });
    connect(selfTimer, &CSelfTimer::elapsed, this, [this] {
        if (view) view->ShowCountdown(0);
        // The preview may have ended meanwhile (a camera gone).
        if (previewing) OnTakePhoto();
        UpdateCommandUI();
    });
}

void CMainFrame::OnTakePhotoLater()
{
    // A second press while counting keeps the count the user watches.
    if (!previewing || selfTimer->Active()) return;
    selfTimer->Start();
    if (statusBar) statusBar->showMessage(QStringLiteral("%1 秒后拍照，按 Esc 取消").arg(CSelfTimer::kSeconds));
    UpdateCommandUI();
}

void CMainFrame::CancelTimedPhotos()
{
    if (burst && burst->Active()) {
        burst->Cancel();
        if (statusBar) statusBar->showMessage(QStringLiteral("连拍已停止：拍了 %1 张").arg(burst->Taken()));
        UpdateCommandUI();
    }
    if (!selfTimer || !selfTimer->Active()) return;
    selfTimer->Cancel();
    if (view) view->ShowCountdown(0);
    UpdateCommandUI();
}

void CMainFrame::OnBurst()
{
    if (!previewing || burst->Active()) return;
    const int count = CBurstShooter::RememberedCount();
    const int intervalMs = CBurstShooter::RememberedIntervalMs();
    if (statusBar)
        statusBar->showMessage(QStringLiteral("连拍 %1 张，每 %2 秒一张，按 Esc 停止")
                                   .arg(count)
                                   .arg(QLocale().toString(intervalMs / 1000.0, 'g', 3)));
    burst->Start(count, intervalMs);
    UpdateCommandUI();
}

void CMainFrame::OnBurstSettings()
{
    CBurstDialog dialog(this);
    dialog.exec();
}

void CMainFrame::OnEscape()
{
    if (burst->Active()) {
        CancelTimedPhotos();
        return;
    }
    if (selfTimer->Active()) {
        CancelTimedPhotos();
        if (statusBar) statusBar->showMessage(QStringLiteral("已取消定时拍照"));
        return;
    }
    if (fullScreen == 0) return;
    // As the context menu's full-screen item does when it is checked.
    LeaveFullScreen();
    if (view) view->FitPreview();
    UpdateCommandUI();
}

void CMainFrame::OnPhotoStored(const QString& path)
{
    QString text = QStringLiteral("已保存 %1").arg(QFileInfo(path).fileName());
    if (!photoNote.isEmpty()) text += QStringLiteral("（%1）").arg(photoNote);
    photoNote.clear();
    if (statusBar) statusBar->showMessage(text);
    if (view) view->FlashPhoto();
    if (photoThumbnail) photoThumbnail->ShowPhoto(path);
}

void CMainFrame::OnPhotoFailed(const QString& why)
{
    photoNote = why;
    if (statusBar) statusBar->showMessage(why);
}

void CMainFrame::FollowPhotoFolder()
{
    if (photoThumbnail) photoThumbnail->FollowFolder(QString::fromStdString(CurrentPhotoFolder()));
}

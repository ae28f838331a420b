#include "frame/MainFrame.h"

// Taking photos: at once or after the self-timer's countdown, and what the
// user is told when one is stored or fails.

#include <QApplication>
#include <QFileInfo>
#include <QStatusBar>

#include <mutex>

#include "capture/SoundPlayer.h"
#include "frame/PhotoThumbnail.h"
#include "frame/SelfTimer.h"
#include "res/RuntimeFiles.h"
#include "settings/SettingsFile.h"
#include "view/LumoraView.h"

void CMainFrame::OnTakePhoto()
{
    photoNote.clear();
    const std::string sound = RuntimeFilePath("CAMERA.WAV").toStdString();
    const bool played = soundHook ? soundHook(sound) : PlaySoundFileAsync(sound);
    if (!played) QApplication::beep();
    if (view) view->TakeSnapshot();
}

void CMainFrame::CreateSelfTimer()
{
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

void CMainFrame::CancelSelfTimer()
{
    if (!selfTimer || !selfTimer->Active()) return;
    selfTimer->Cancel();
    if (view) view->ShowCountdown(0);
    UpdateCommandUI();
}

void CMainFrame::OnEscape()
{
    if (selfTimer->Active()) {
        CancelSelfTimer();
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
    std::string folder;
    {
        std::lock_guard lock(SettingsMutex());
        folder = ReadPath(settings.photoFolder);
    }
    if (photoThumbnail) photoThumbnail->FollowFolder(QString::fromStdString(folder));
}

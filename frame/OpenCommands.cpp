#include "frame/MainFrame.h"

// What the frame opens with the desktop's programs: the read-me, the
// maker's page, and the photo and recording folders in the file manager.

#include <QDesktopServices>
#include <QFileInfo>
#include <QStatusBar>
#include <QUrl>

#include "capture/DiskSpace.h"
#include "res/Resources.h"
#include "res/RuntimeFiles.h"
#include "settings/SettingsFile.h"

bool CMainFrame::OpenUrl(const QUrl& url)
{
    return openUrlHook ? openUrlHook(url) : QDesktopServices::openUrl(url);
}

bool CMainFrame::OpenPhoto(const QUrl& url)
{
    if (OpenUrl(url)) return true;
    if (statusBar)
        statusBar->showMessage(
            QStringLiteral("无法打开照片“%1”：没有能打开图片的程序。").arg(url.toLocalFile()));
    return false;
}

void CMainFrame::OnHelpReadme()
{
    const QString path = RuntimeFilePath("Readme.txt");
    if (!QFileInfo(path).isFile()) {
        if (statusBar) statusBar->showMessage(QStringLiteral("无法打开使用说明：找不到文件“%1”。").arg(path));
        return;
    }
    // Without a text editor nothing would open: say so where the user looks.
    if (!OpenUrl(QUrl::fromLocalFile(path)) && statusBar)
        statusBar->showMessage(QStringLiteral("无法打开使用说明“%1”：没有能打开文本文件的程序。").arg(path));
}

void CMainFrame::OnHelpHomepage()
{
    const QString address = HomepageUrl();
    if (!OpenUrl(QUrl(address)) && statusBar)
        statusBar->showMessage(QStringLiteral("无法打开作者主页 %1：没有能打开网页的浏览器。").arg(address));
}

void CMainFrame::OnOpenPhotoFolder()
{
    const std::string folder = CurrentPhotoFolder();
    // The grabber stores photos in the folder as written, an empty one
    // meaning the root: the same folder opens here.
    OpenFolder(QStringLiteral("照片文件夹"), QString::fromStdString(folder.empty() ? "/" : folder));
}

void CMainFrame::OnOpenRecordingFolder()
{
    const std::string file = CurrentVideoFilePath();
    if (file.empty()) {
        if (statusBar) statusBar->showMessage(QStringLiteral("还没有设置录相文件。请先在“选项”中选择一个。"));
        return;
    }
    OpenFolder(QStringLiteral("录相文件夹"), QString::fromStdString(FolderOfFile(file)));
}

void CMainFrame::OpenFolder(const QString& kind, const QString& name)
{
    // A relative name is where the files go: under the current directory.
    const QString folder = QFileInfo(name).absoluteFilePath();
    if (!QFileInfo(folder).isDir()) {
        if (statusBar) statusBar->showMessage(QStringLiteral("%1“%2”不存在。").arg(kind, folder));
        return;
    }
    if (!OpenUrl(QUrl::fromLocalFile(folder)) && statusBar)
        statusBar->showMessage(QStringLiteral("无法打开%1“%2”：没有能打开文件夹的文件管理器。").arg(kind, folder));
}

#include "app/LumoraDoc.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <cerrno>
#include <mutex>

#include "app/Messages.h"
#include "app/SaveProgress.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsRecord.h"
#include "settings/ui/VideoFileDialog.h"
#include "base/FileWriting.h"

namespace {

const QString kUntitled = QStringLiteral("无标题");

RecordingCopyResult Failure(const QString& message) { return {false, message}; }

QString Reason(const FileError& error)
{
    if (error.code == 0)
        return error.reason == kSymbolicLinkReason ? QStringLiteral("它是一个符号链接，不会被覆盖")
                                                   : QStringLiteral("它不是普通文件");
    // The reason is already the program's own Chinese text.
    const QString reason = QString::fromStdString(error.reason);
    if (error.code == ENOSPC || error.code == EDQUOT)
        return QStringLiteral("写入失败，磁盘可能已满（%1）").arg(reason);
    return reason;
}

}  // namespace

RecordingCopyResult CopyRecordingFile(const QString& source, const QString& target, const CopyProgress& progress)
{
    if (source.isEmpty())
        return Failure(QStringLiteral("没有可保存的录像：选项中尚未设置录像文件。"));
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists())
        return Failure(QStringLiteral("录像文件“%1”不存在，请先录像再保存。").arg(source));
    if (sourceInfo.isDir())
        return Failure(QStringLiteral("录像文件“%1”是一个文件夹，无法复制。").arg(source));
    if (target.isEmpty())
        return Failure(QStringLiteral("没有选择保存的文件。"));
    // Copying the recording onto itself would replace the file under a
    // writer that still holds it open; it already is the wanted content.
    // A link is never taken for the file it names: it is refused below.
    const QFileInfo targetInfo(target);
    if (!targetInfo.isSymLink() && targetInfo.exists() &&
        targetInfo.canonicalFilePath() == sourceInfo.canonicalFilePath())
        return {};

    // Through a fresh temporary beside the target, renamed over it once
    // every byte is on disk. A link or a special file at the target is
    // refused: the folder may be shared, and its target is not ours.
    const std::string sourcePath = QFile::encodeName(source).toStdString();
    const std::string targetPath = QFile::encodeName(target).toStdString();
    AtomicWriteOptions options;
    options.mode = 0666;
    options.existing = ExistingName::OnlyRegularFile;
    options.sync = true;
    FileError error;
    if (CopyFileAtomically(sourcePath, targetPath, options, &error, progress))
        return {};
    if (error.code == ECANCELED)
        return {false, QString(), true};
    if (error.path == sourcePath)
        return Failure(QStringLiteral("无法读取录像文件“%1”：%2。").arg(source, Reason(error)));
    return Failure(QStringLiteral("无法写入文件“%1”：%2。").arg(target, Reason(error)));
}

CLumoraDoc::CLumoraDoc(QObject* parent, const QString& recentFileStore)
    : QObject(parent), title(kUntitled), recentFiles(recentFileStore)
{
    askOpenPath = [] {
        return QFileDialog::getOpenFileName(nullptr, QStringLiteral("打开"), QString(),
                                            QStringLiteral("所有文件 (*)"));
    };
}

CLumoraDoc::~CLumoraDoc() = default;

void CLumoraDoc::OnFileSave() { SaveRecordingCopy(); }
void CLumoraDoc::OnFileSaveAs() { SaveRecordingCopy(); }

void CLumoraDoc::SaveRecordingCopy()
{
    // The take just made, even when Options name another file since; before
    // any take, the file the settings name (a take of an earlier run).
    const std::string taken = lastTakePath ? lastTakePath() : std::string();
    const std::string source = taken.empty() ? CurrentVideoFilePath() : taken;
    const MediaSubtype container = ContainerOfPath(source);
    // The dialog sets the current directory back to appDirectory itself.
    const QString target = AskVideoSavePath(nullptr, container);
    if (target.isEmpty())
        return;
    // The copy is the same bytes: a name of another container would lie.
    if (const MediaSubtype kept = ContainerOfPath(source); ContainerOfPath(QFile::encodeName(target).toStdString()) != kept) {
        ShowMessageBox(QStringLiteral("录相是 %1 文件，不能保存为“%2”。请用 %3 作扩展名。")
                           .arg(QLatin1String(ContainerName(kept)), target, QLatin1String(ContainerExtension(kept))));
        return;
    }
    const RecordingCopyResult result =
        CopyRecordingWithProgress(QString::fromStdString(source), target, QApplication::activeWindow(), copyStepped);
    if (!result.ok && !result.cancelled)
        ShowMessageBox(result.message);
}

bool CLumoraDoc::OnNewDocument()
{
    SetPathName(QString());
    return true;
}

void CLumoraDoc::OnFileOpen()
{
    const QString path = askOpenPath ? askOpenPath() : QString();
    if (!path.isEmpty())
        OnOpenDocument(path);
}

bool CLumoraDoc::OnOpenDocument(const QString& path)
{
    if (QFileInfo(path).isDir()) {
        ShowMessageBox(QStringLiteral("无法打开“%1”：它是一个文件夹。").arg(path));
        return false;
    }
    // Opened only to be sure it can be read (the document holds no data);
    // a FIFO or a device is refused rather than waited on.
    FileError error;
    if (!OpenRegularFileForReading(QFile::encodeName(path).toStdString(), Links::Follow, &error).Valid()) {
        ShowMessageBox(QStringLiteral("无法打开文件“%1”：%2。").arg(path, Reason(error)));
        return false;
    }
    SetPathName(QFileInfo(path).absoluteFilePath());
    recentFiles.Add(pathName);
    if (reinitialiseViews)
        reinitialiseViews();
    return true;
}

void CLumoraDoc::SetPathName(const QString& path)
{
    pathName = path;
    title = path.isEmpty() ? kUntitled : QFileInfo(path).fileName();
    if (titleChanged)
        titleChanged(title);
}

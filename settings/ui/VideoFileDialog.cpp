#include "settings/ui/VideoFileDialog.h"

#include <QDir>
#include <QFileDialog>

#include "settings/SettingsRecord.h"

namespace {

PathDialogHook& VideoSavePathHook()
{
    static PathDialogHook hook;
    return hook;
}

PathDialogHook& FolderChooserHook()
{
    static PathDialogHook hook;
    return hook;
}

QString RunVideoSaveDialog(QWidget* parent)
{
    QFileDialog dialog(parent, QStringLiteral("另存为"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("视频文件(*.avi)"));
    // "avi", so that a typed "x" becomes "x.avi" and not "x.Video".
    dialog.setDefaultSuffix(QStringLiteral("avi"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString RunFolderChooser(QWidget* parent)
{
    const QString folder = QFileDialog::getExistingDirectory(
        parent, QStringLiteral("请选择一个文件夹!"), QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return QString();
    return QDir::cleanPath(folder);  // no trailing '/', except the root
}

}  // namespace

void RestoreCurrentDirectory()
{
    QDir::setCurrent(QString::fromStdString(appDirectory));
}

QString AskVideoSavePath(QWidget* parent)
{
    const PathDialogHook hook = VideoSavePathHook();
    const QString path = hook ? hook() : RunVideoSaveDialog(parent);
    RestoreCurrentDirectory();
    return path;
}

QString AskPhotoFolder(QWidget* parent)
{
    const PathDialogHook hook = FolderChooserHook();
    const QString folder = hook ? hook() : RunFolderChooser(parent);
    RestoreCurrentDirectory();
    return folder;
}

PathDialogHook SetVideoSavePathHook(PathDialogHook hook)
{
    PathDialogHook previous = std::move(VideoSavePathHook());
    VideoSavePathHook() = std::move(hook);
    return previous;
}

PathDialogHook SetFolderChooserHook(PathDialogHook hook)
{
    PathDialogHook previous = std::move(FolderChooserHook());
    FolderChooserHook() = std::move(hook);
    return previous;
}

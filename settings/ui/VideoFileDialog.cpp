#include "settings/ui/VideoFileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QStringList>

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

// The filter of each container, after the one of all three.
QString ContainerFilter(MediaSubtype container)
{
    return QStringLiteral("%1 文件(*%2)").arg(QLatin1String(ContainerName(container)),
                                            QLatin1String(ContainerExtension(container)));
}

QString RunVideoSaveDialog(QWidget* parent, std::optional<MediaSubtype> container)
{
    QFileDialog dialog(parent, QStringLiteral("另存为"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const MediaSubtype containers[] = {MediaSubtype::Avi, MediaSubtype::Matroska, MediaSubtype::Mp4};
    QStringList filters{QStringLiteral("视频文件(*.avi *.mkv *.mp4)")};
    for (MediaSubtype each : containers) filters << ContainerFilter(each);
    dialog.setNameFilters(filters);
    // A typed "x" becomes "x.avi" (or the chosen type's), not "x.Video".
    const auto suffixOf = [](MediaSubtype each) { return QString::fromLatin1(ContainerExtension(each) + 1); };
    dialog.setDefaultSuffix(suffixOf(container.value_or(MediaSubtype::Avi)));
    if (container) dialog.selectNameFilter(ContainerFilter(*container));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        for (MediaSubtype each : containers)
            if (filter == ContainerFilter(each)) dialog.setDefaultSuffix(suffixOf(each));
    });
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

QString AskVideoSavePath(QWidget* parent, std::optional<MediaSubtype> container)
{
    const PathDialogHook hook = VideoSavePathHook();
    const QString path = hook ? hook() : RunVideoSaveDialog(parent, container);
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

#include "settings/ui/VideoFileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
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

// Qt's own dialog reads quotes in a typed name as a list of names ("a"
// "b"), so `my take "1".avi` came back as 1.avi. One file is asked for
// here: a name with quotes is taken whole, as typed.
class SaveOneFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    QString typedPath;

    void accept() override
    {
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = edit ? edit->text() : QString();
        if (!typed.contains(u'"')) {
            QFileDialog::accept();
            return;
        }
        QString path = QDir(directory()).absoluteFilePath(typed);
        if (QFileInfo(path).suffix().isEmpty() && !defaultSuffix().isEmpty()) path += u'.' + defaultSuffix();
        const QFileInfo info(path);
        if (info.isDir()) {
            setDirectory(path);
            return;
        }
        if (info.exists() &&
            QMessageBox::question(this, windowTitle(), QStringLiteral("“%1”已存在。\n要替换它吗？").arg(info.fileName()),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
            return;
        typedPath = path;
        QDialog::accept();
    }
};

QString RunVideoSaveDialog(QWidget* parent, std::optional<MediaSubtype> container)
{
    SaveOneFileDialog dialog(parent, QStringLiteral("另存为"));
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
    if (dialog.exec() != QDialog::Accepted) return QString();
    if (!dialog.typedPath.isEmpty()) return dialog.typedPath;
    return dialog.selectedFiles().isEmpty() ? QString() : dialog.selectedFiles().constFirst();
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

#include "frame/PhotoThumbnail.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <QUrl>

#include <utility>

CPhotoThumbnail::CPhotoThumbnail(std::function<bool(const QUrl&)> opener, QWidget* parent)
    : QToolButton(parent), open(std::move(opener))
{
    setObjectName(QStringLiteral("photoThumbnail"));
    setAutoRaise(true);
    setIconSize(QSize(kWidth, kHeight));
    setStatusTip(QStringLiteral("用看图程序打开最新的照片"));
    connect(this, &QToolButton::clicked, this, [this] { Open(); });
    Clear();
}

void CPhotoThumbnail::ShowPhoto(const QString& path)
{
    // Read small: a JPEG is decoded straight at a fraction of its size.
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid()) reader.setScaledSize(size.scaled(kWidth, kHeight, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull()) {
        Clear();
        return;
    }
    photo = path;
    setIcon(QIcon(QPixmap::fromImage(image)));
    setToolTip(QStringLiteral("最新的照片：%1").arg(QFileInfo(path).fileName()));
    setEnabled(true);
}

void CPhotoThumbnail::FollowFolder(const QString& newFolder)
{
    if (folderKnown && QDir::cleanPath(newFolder) == QDir::cleanPath(folder)) return;
    folder = newFolder;
    folderKnown = true;
    ShowNewestIn(folder);
}

void CPhotoThumbnail::ShowNewestIn(const QString& where)
{
    // Photos are named by their second; the scratch files are not photos.
    const QFileInfoList found = QDir(where.isEmpty() ? QStringLiteral("/") : where)
                                    .entryInfoList({QStringLiteral("*.jpg"), QStringLiteral("*.bmp")},
                                                   QDir::Files, QDir::Time);
    for (const QFileInfo& file : found) {
        if (file.completeBaseName() == QStringLiteral("temp")) continue;
        ShowPhoto(file.filePath());
        return;
    }
    Clear();
}

void CPhotoThumbnail::Clear()
{
    photo.clear();
    setIcon(QIcon());
    setToolTip(QStringLiteral("还没有照片"));
    setEnabled(false);
}

void CPhotoThumbnail::Open()
{
    if (photo.isEmpty()) return;
    if (!QFileInfo::exists(photo)) {
        Clear();  // deleted meanwhile: nothing to show
        return;
    }
    if (open) open(QUrl::fromLocalFile(photo));
}

#include "frame/PhotoThumbnail.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace {

// A panorama is shown no wider than this many times the row's height.
constexpr int kWidestShape = 6;

}  // namespace

CPhotoThumbnail::CPhotoThumbnail(std::function<bool(const QUrl&)> opener, QWidget* parent)
    : QToolButton(parent), open(std::move(opener))
{
    setObjectName(QStringLiteral("photoThumbnail"));
    setAutoRaise(true);
    setStatusTip(QStringLiteral("用看图程序打开最新的照片"));
    connect(this, &QToolButton::clicked, this, [this] { Open(); });
    Clear();
}

void CPhotoThumbnail::ShowPhoto(const QString& path)
{
    // Read small: a JPEG is decoded straight at a fraction of its size, in
    // the screen's own pixels (sharp also on a scaled screen).
    const qreal ratio = devicePixelRatioF();
    const int pixels = qRound(rowHeight * ratio);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(pixels * kWidestShape, pixels, Qt::KeepAspectRatio).expandedTo({1, 1}));
    const QImage image = reader.read();
    if (image.isNull()) {
        Clear();
        return;
    }
    photo = path;
    picture = QPixmap::fromImage(image);
    picture.setDevicePixelRatio(ratio);
    setIcon(QIcon(picture));
    setIconSize((QSizeF(picture.size()) / ratio).toSize());
    updateGeometry();
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

void CPhotoThumbnail::SetHeight(int height)
{
    rowHeight = std::max(1, height);
    if (!photo.isEmpty())
        ShowPhoto(photo);
    updateGeometry();
}

QSize CPhotoThumbnail::sizeHint() const
{
    // Empty: the room a photo of 4:3 would take.
    return photo.isEmpty() ? QSize(rowHeight * 4 / 3, rowHeight) : iconSize();
}

void CPhotoThumbnail::paintEvent(QPaintEvent*)
{
    // The photo fills the button; pointing at it frames it.
    QPainter painter(this);
    if (!photo.isEmpty()) painter.drawPixmap(rect(), picture);
    if (isEnabled() && underMouse()) {
        painter.setPen(QPen(palette().highlight().color(), 2));
        painter.drawRect(rect().adjusted(1, 1, -1, -1));
    }
}

void CPhotoThumbnail::Clear()
{
    photo.clear();
    picture = QPixmap();
    setIcon(QIcon());
    updateGeometry();
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

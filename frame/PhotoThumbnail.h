#pragma once
// The latest photo, small, at the right end of the toolbar: a click opens it
// with the desktop's viewer. At start it shows the newest photo of the photo
// folder, and it follows that folder when the options change it. A photo
// deleted meanwhile leaves it empty, without a message.

#include <QPixmap>
#include <QString>
#include <QToolButton>

#include <functional>

class QUrl;

class CPhotoThumbnail : public QToolButton {
    Q_OBJECT
public:
    // `open` hands a file to the desktop (true: something opened it).
    CPhotoThumbnail(std::function<bool(const QUrl&)> open, QWidget* parent);

    // A photo just stored.
    void ShowPhoto(const QString& path);
    // The newest photo of `folder`, when it is another folder than shown.
    void FollowFolder(const QString& folder);
    QString Photo() const { return photo; }
    // The toolbar's row: the photo fills its height, as wide as its shape says.
    void SetHeight(int height);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowNewestIn(const QString& folder);
    void Clear();
    void Open();

    std::function<bool(const QUrl&)> open;
    QString photo;
    QString folder;
    bool folderKnown = false;
    QPixmap picture;  // in the screen's pixels
    int rowHeight = 24;
};

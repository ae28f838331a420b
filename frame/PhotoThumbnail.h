#pragma once
// The latest photo, small, at the right end of the toolbar: a click opens it
// with the desktop's viewer. At start it shows the newest photo of the photo
// folder, and it follows that folder when the options change it. A photo
// deleted meanwhile leaves it empty, without a message.

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

    static constexpr int kWidth = 40;
    static constexpr int kHeight = 30;

private:
    void ShowNewestIn(const QString& folder);
    void Clear();
    void Open();

    std::function<bool(const QUrl&)> open;
    QString photo;
    QString folder;
    bool folderKnown = false;
};

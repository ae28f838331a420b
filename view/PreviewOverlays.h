#pragma once
// What the view draws over the live picture: the white flash of a photo,
// the self-timer's countdown and the running take's red dot and time. All
// are child widgets stacked above the video window, so they show also where
// a native video window draws the picture (there the toolkit cannot blend
// with the picture: the flash stays white until it goes, and the faces are
// opaque). Where the picture is drawn into a subsurface above the window's
// own surface (Wayland), nothing the window paints shows over it: there
// they are small popup windows of their own over the picture, made only
// while they are shown.

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

class QPainter;

class CPreviewOverlay : public QWidget {
    Q_OBJECT
public:
    // `picture`: the widget whose place a subsurface above the window's
    // surface draws the picture into; nullptr: the overlay is the view's child.
    void SetAbovePicture(QWidget* picture);
    // Follows the view (or the picture) after it moved or changed size.
    void Place();

protected:
    explicit CPreviewOverlay(QWidget* view);
    // Where in `area` (the view's, or the picture's) the overlay lies.
    virtual QRect PlaceWithin(const QRect& area) const { return area; }
    void ShowOver();
    // Drawn into a native child window above a native video window.
    bool OverNativeWindow() const { return !isWindow() && testAttribute(Qt::WA_NativeWindow); }
    // A badge's dark rounded face, opaque over a native video window (where
    // nothing below is painted again, and the last face would show through).
    void PaintBadgeFace(QPainter& painter, double cornerRadius);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* view;
    QPointer<QWidget> picture;
};

class CFlashOverlay : public CPreviewOverlay {
    Q_OBJECT
public:
    static constexpr int kFadeMs = 150;

    explicit CFlashOverlay(QWidget* parent);

    // Covers the parent (or the picture) in white, fading out over kFadeMs.
    void Flash();
    // 1 until the flash was first painted, so that a busy window still
    // shows it whole; then down to 0.
    double Opacity() const;
    int Flashes() const { return flashes; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Step();

    QTimer stepTimer;
    QElapsedTimer sincePainted;
    bool painted = false;
    int flashes = 0;
};

class CCountdownBadge : public CPreviewOverlay {
    Q_OBJECT
public:
    explicit CCountdownBadge(QWidget* parent);

    // Shows `number` large in the middle of the parent; 0 hides it.
    void ShowNumber(int number);
    QString Text() const { return text; }

protected:
    QRect PlaceWithin(const QRect& area) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString text;
};

class CRecordingBadge : public CPreviewOverlay {
    Q_OBJECT
public:
    explicit CRecordingBadge(QWidget* parent);

    // The picture whose top left corner the badge sits in while it shows
    // (the view's when none is shown).
    void Track(QWidget* picture);
    // A red dot (grey while paused) and `time`; empty hides it.
    void ShowTime(const QString& time, bool paused);
    QString Text() const { return text; }
    bool Paused() const { return paused; }

protected:
    QRect PlaceWithin(const QRect& area) const override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static QFont FontOf(const QFont& base, int letterSize);

    QPointer<QWidget> tracked;
    QString text;
    bool paused = false;
};

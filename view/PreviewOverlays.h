#pragma once
// What the view draws over the live picture: the white flash of a photo and
// the self-timer's countdown. Both are child widgets stacked above the video
// window, so they show also where a native video window draws the picture
// (there the toolkit cannot blend with the picture: the flash stays white
// until it goes, and the countdown's face is opaque).

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

class CFlashOverlay : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFadeMs = 150;

    explicit CFlashOverlay(QWidget* parent);

    // Covers the parent in white, fading out over kFadeMs.
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

class CCountdownBadge : public QWidget {
    Q_OBJECT
public:
    explicit CCountdownBadge(QWidget* parent);

    // Shows `number` large in the middle of the parent; 0 hides it.
    void ShowNumber(int number);
    QString Text() const { return text; }
    // Keeps the badge in the middle of a parent that changed size.
    void Place();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text;
};

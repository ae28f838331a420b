#pragma once
// A take the user can see: while one runs, its time in the window's title
// ("Lumora — 录相 00:12") and, beside a red dot, over the picture's corner,
// where it shows also in full screen with the status bar out of sight.

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

struct CaptureState;
class QWidget;

// "00:12"; past an hour "1:02:03".
QString FormatTakeTime(double seconds);

class CTakeIndicator : public QObject {
public:
    static constexpr int kRefreshMs = 250;

    // `state`: what the capture session does now; `showOverPicture` puts the
    // time over the picture (an empty time takes it away).
    CTakeIndicator(QWidget* window, std::function<CaptureState()> state,
                   std::function<void(const QString& time, bool paused)> showOverPicture);

    // Reads the take now; refreshes on its own while one runs.
    void Refresh();

private:
    QWidget* window;
    std::function<CaptureState()> state;
    std::function<void(const QString&, bool)> showOverPicture;
    QTimer timer;
};

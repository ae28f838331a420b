#include "frame/TakeIndicator.h"

#include <QWidget>

#include <cmath>

#include "capture/CaptureSession.h"
#include "res/Resources.h"

QString FormatTakeTime(double seconds)
{
    const long long whole = seconds > 0 ? static_cast<long long>(std::floor(seconds)) : 0;
    const QString minutesAndSeconds = QStringLiteral("%1:%2")
                                          .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
                                          .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return whole < 3600 ? minutesAndSeconds : QStringLiteral("%1:%2").arg(whole / 3600).arg(minutesAndSeconds);
}

CTakeIndicator::CTakeIndicator(QWidget* titled, std::function<CaptureState()> source,
                               std::function<void(const QString&, bool)> overPicture)
    : QObject(titled), window(titled), state(std::move(source)), showOverPicture(std::move(overPicture))
{
    timer.setInterval(kRefreshMs);
    connect(&timer, &QTimer::timeout, this, &CTakeIndicator::Refresh);
}

void CTakeIndicator::Refresh()
{
    const CaptureState now = state ? state() : CaptureState{};
    if (!now.recording) {
        timer.stop();
        window->setWindowTitle(ApplicationTitle());
        showOverPicture(QString(), false);
        return;
    }
    // A paused take keeps its time on show; it does not grow until resumed.
    const bool paused = !now.Previewing();
    const QString time = FormatTakeTime(now.progress.seconds);
    window->setWindowTitle(QStringLiteral("%1 — %2 %3")
                               .arg(ApplicationTitle(), paused ? QStringLiteral("暂停") : QStringLiteral("录相"), time));
    showOverPicture(time, paused);
    if (paused)
        timer.stop();
    else if (!timer.isActive())
        timer.start();
}

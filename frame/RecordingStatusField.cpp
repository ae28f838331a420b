#include "frame/RecordingStatusField.h"

#include <cmath>

#include "capture/CaptureSession.h"

QString FormatRecordingProgress(double seconds, uint64_t bytes, bool paused)
{
    const long long whole = seconds > 0 ? static_cast<long long>(std::floor(seconds)) : 0;
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(whole / 3600, 2, 10, QLatin1Char('0'))
                             .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(whole % 60, 2, 10, QLatin1Char('0'));
    constexpr uint64_t kKiB = 1024;
    constexpr uint64_t kMiB = 1024 * 1024;
    // Tenths below 100 MB, so that a file growing by a few hundred KB a
    // second shows it; cut, not rounded, so it never runs ahead of the file.
    const uint64_t tenths = bytes < 100 * kMiB ? bytes * 10 / kMiB : 0;
    const QString size = bytes >= 100 * kMiB ? QStringLiteral("%1 MB").arg(bytes / kMiB)
                         : bytes >= kMiB     ? QStringLiteral("%1.%2 MB").arg(tenths / 10).arg(tenths % 10)
                                             : QStringLiteral("%1 KB").arg(bytes / kKiB);
    return QStringLiteral("%1 %2  %3").arg(paused ? QStringLiteral("暂停") : QStringLiteral("录相"), time, size);
}

CRecordingStatusField::CRecordingStatusField(std::function<CaptureState()> source, QWidget* parent)
    : QLabel(parent), state(std::move(source))
{
    setObjectName(QStringLiteral("recordingField"));
    timer.setInterval(kRefreshMs);
    connect(&timer, &QTimer::timeout, this, &CRecordingStatusField::Refresh);
    hide();
}

void CRecordingStatusField::Refresh()
{
    const CaptureState now = state ? state() : CaptureState{};
    if (!now.recording) {
        timer.stop();
        clear();
        hide();
        return;
    }
    const bool isPaused = !now.Previewing();
    setText(FormatRecordingProgress(now.progress.seconds, now.progress.bytes, isPaused));
    setToolTip(QString::fromStdString(now.recordingPath));
    show();
    // A paused recording does not grow; Start refreshes it again.
    if (isPaused)
        timer.stop();
    else if (!timer.isActive())
        timer.start();
}

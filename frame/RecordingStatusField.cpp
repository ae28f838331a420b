#include "frame/RecordingStatusField.h"

#include <cmath>

#include "avi/AviRepair.h"
#include "capture/CaptureSession.h"
#include "capture/DiskSpace.h"

QString FormatFileSize(uint64_t bytes)
{
    constexpr uint64_t kKiB = 1024;
    constexpr uint64_t kMiB = 1024 * 1024;
    // Tenths below 100 MB, so that a file growing by a few hundred KB a
    // second shows it; cut, not rounded, so it never runs ahead of the file.
    const uint64_t tenths = bytes < 100 * kMiB ? bytes * 10 / kMiB : 0;
    return bytes >= 100 * kMiB ? QStringLiteral("%1 MB").arg(bytes / kMiB)
           : bytes >= kMiB     ? QStringLiteral("%1.%2 MB").arg(tenths / 10).arg(tenths % 10)
                               : QStringLiteral("%1 KB").arg(bytes / kKiB);
}

QString FormatRecordingProgress(double seconds, uint64_t bytes, bool paused)
{
    const long long whole = seconds > 0 ? static_cast<long long>(std::floor(seconds)) : 0;
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(whole / 3600, 2, 10, QLatin1Char('0'))
                             .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 %2  %3")
        .arg(paused ? QStringLiteral("暂停") : QStringLiteral("录相"), time, FormatFileSize(bytes));
}

QString FormatTakeWritten(const QString& fileName, double seconds, uint64_t bytes)
{
    return QStringLiteral("已录制 %1，%2，%3")
        .arg(fileName, QString::fromStdString(RecordingLengthText(seconds)), FormatFileSize(bytes));
}

QString FormatTimeLeft(double seconds)
{
    const long long whole = seconds > 0 ? static_cast<long long>(std::floor(seconds)) : 0;
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

void CRecordingRate::Add(double seconds, uint64_t bytes)
{
    // A clock or a file that went back is another recording.
    if (!samples.empty() && (seconds < samples.back().first || bytes < samples.back().second)) samples.clear();
    samples.emplace_back(seconds, bytes);
    // Keep one sample at or before the window's start, so the span stays full.
    while (samples.size() > 2 && seconds - samples[1].first >= kWindowSeconds) samples.pop_front();
}

std::optional<double> CRecordingRate::BytesPerSecond() const
{
    if (samples.size() < 2) return std::nullopt;
    const double span = samples.back().first - samples.front().first;
    if (span < kShortestSpan) return std::nullopt;
    return static_cast<double>(samples.back().second - samples.front().second) / span;
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
        rate.Reset();
        warned = false;
        SetLowOnSpace(false);
        clear();
        hide();
        return;
    }
    const bool isPaused = !now.Previewing();
    QString text = FormatRecordingProgress(now.progress.seconds, now.progress.bytes, isPaused);
    const QString left = TimeLeftText(now);
    if (!left.isEmpty()) text += QStringLiteral("  ") + left;
    setText(text);
    setToolTip(QString::fromStdString(now.recordingPath));
    show();
    // A paused recording does not grow; Start refreshes it again.
    if (isPaused)
        timer.stop();
    else if (!timer.isActive())
        timer.start();
}

// "剩余 1:12:00" at the rate of the last few seconds; empty while the rate
// or the free space is not known, or nothing is being written.
QString CRecordingStatusField::TimeLeftText(const CaptureState& now)
{
    if (now.Previewing()) rate.Add(now.progress.seconds, now.progress.bytes);
    const std::optional<double> bytesPerSecond = rate.BytesPerSecond();
    const std::optional<uint64_t> free =
        bytesPerSecond && *bytesPerSecond > 0 ? FreeBytesInFolder(FolderOfFile(now.recordingPath)) : std::nullopt;
    if (!free) {
        SetLowOnSpace(false);
        return {};
    }
    const double secondsLeft = static_cast<double>(*free) / *bytesPerSecond;
    SetLowOnSpace(secondsLeft < kLowSecondsLeft);
    if (lowOnSpace && !warned) {
        warned = true;
        emit diskSpaceLow(QStringLiteral("磁盘空间快用完了：按现在的速度，录相只能再录 %1。")
                              .arg(FormatTimeLeft(secondsLeft)));
    }
    return QStringLiteral("剩余 %1").arg(FormatTimeLeft(secondsLeft));
}

void CRecordingStatusField::SetLowOnSpace(bool low)
{
    if (low == lowOnSpace) return;
    lowOnSpace = low;
    if (!low) {
        setPalette(QPalette());  // the status bar's colours again
        return;
    }
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::red);
    setPalette(colours);
}

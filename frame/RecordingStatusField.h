#pragma once
// The permanent field at the right of the status bar that shows how long the
// running recording is, how big its file has grown and how long its disk
// can take it at the rate it is being written.

#include <QLabel>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

struct CaptureState;

// "录相 00:03:27  412 MB", or "暂停 ..." for a paused recording. Sizes are in
// MB of 1024 * 1024 bytes, with one decimal below 100 MB ("7.2 MB"), below
// 1 MB in whole KB.
QString FormatRecordingProgress(double seconds, uint64_t bytes, bool paused);

// "35.2 MB", as above.
QString FormatFileSize(uint64_t bytes);

// "已录制 capture.avi，12 秒，35.2 MB": a take that ended.
QString FormatTakeWritten(const QString& fileName, double seconds, uint64_t bytes);

// "1:12:00": hours, minutes and seconds, whole seconds cut.
QString FormatTimeLeft(double seconds);

// The rate a recording's file grows at, over the last few seconds of the
// recording's own clock (a pause does not count as slow writing).
class CRecordingRate {
public:
    static constexpr double kWindowSeconds = 5;
    static constexpr double kShortestSpan = 1;  // less says little: a muxer writes in bursts

    void Add(double seconds, uint64_t bytes);
    // Bytes a second; nullopt until kShortestSpan has been measured.
    std::optional<double> BytesPerSecond() const;
    void Reset() { samples.clear(); }

private:
    std::deque<std::pair<double, uint64_t>> samples;
};

class CRecordingStatusField : public QLabel {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 250;  // the size moves several times a second
    // Below this much recording time left on the disk the field turns red.
    static constexpr double kLowSecondsLeft = 120;

    // `state`: what the capture session does now.
    explicit CRecordingStatusField(std::function<CaptureState()> state, QWidget* parent = nullptr);

    // Reads the figures now; refreshes on its own while a recording runs,
    // hides itself when nothing records.
    void Refresh();
    bool LowOnSpace() const { return lowOnSpace; }

signals:
    // Once per recording, when the time left first drops below kLowSecondsLeft.
    void diskSpaceLow(const QString& message);

private:
    QString TimeLeftText(const CaptureState& now);
    void SetLowOnSpace(bool low);

    std::function<CaptureState()> state;
    QTimer timer;
    CRecordingRate rate;
    bool lowOnSpace = false;
    bool warned = false;  // the status bar was told for this recording
};

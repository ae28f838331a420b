#pragma once
// The permanent field at the right of the status bar that shows how long the
// running recording is and how big its file has grown.

#include <QLabel>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>

struct CaptureState;

// "录相 00:03:27  412 MB", or "暂停 ..." for a paused recording. Sizes are in
// MB of 1024 * 1024 bytes, with one decimal below 100 MB ("7.2 MB"), below
// 1 MB in whole KB.
QString FormatRecordingProgress(double seconds, uint64_t bytes, bool paused);

class CRecordingStatusField : public QLabel {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 250;  // the size moves several times a second

    // `state`: what the capture session does now.
    explicit CRecordingStatusField(std::function<CaptureState()> state, QWidget* parent = nullptr);

    // Reads the figures now; refreshes on its own while a recording runs,
    // hides itself when nothing records.
    void Refresh();

private:
    std::function<CaptureState()> state;
    QTimer timer;
};

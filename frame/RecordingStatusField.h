#pragma once
// The permanent field at the right of the status bar that shows how long the
// running recording is and how big its file has grown.

#include <QLabel>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>

struct RecordingProgress;

// "录相 00:03:27  412 MB", or "暂停 ..." for a paused recording. Sizes are in
// whole MB of 1024 * 1024 bytes, below 1 MB in whole KB.
QString FormatRecordingProgress(double seconds, uint64_t bytes, bool paused);

class CRecordingStatusField : public QLabel {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 500;

    // `progress` fills in the recording's figures, false when nothing records;
    // `paused` tells whether the preview is stopped.
    CRecordingStatusField(std::function<bool(RecordingProgress&)> progress,
                          std::function<bool()> paused, QWidget* parent = nullptr);

    // Reads the figures now; refreshes on its own while a recording runs,
    // hides itself when nothing records.
    void Refresh();

private:
    std::function<bool(RecordingProgress&)> progress;
    std::function<bool()> paused;
    QTimer timer;
};

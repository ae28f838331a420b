#pragma once
// The photo self-timer: counts kSeconds down, one a step, then says that the
// time is up. The frame draws the numbers and takes the photo.

#include <QObject>
#include <QTimer>

class CSelfTimer : public QObject {
    Q_OBJECT
public:
    static constexpr int kSeconds = 3;

    explicit CSelfTimer(QObject* parent = nullptr);

    // Counts from kSeconds again; `counted` tells kSeconds at once.
    void Start();
    void Cancel();
    bool Active() const { return remaining > 0; }
    int Remaining() const { return remaining; }
    // The length of one count (a second; tests count faster).
    void SetStepMs(int ms) { timer.setInterval(ms); }

signals:
    void counted(int remaining);  // kSeconds down to 1
    void elapsed();

private:
    void Step();

    QTimer timer;
    int remaining = 0;
};

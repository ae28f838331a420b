#pragma once
// 连拍: a series of photos at a fixed interval, by default 5 a second apart.
// The frame takes each one as any photo (the shutter sound, the flash, the
// name by its second); Esc, 停止 or a lost camera end the series. The count
// and the interval are remembered in the profile.

#include <QObject>
#include <QTimer>

#include <functional>

class CBurstShooter : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultCount = 5;
    static constexpr int kDefaultIntervalMs = 1000;
    static constexpr int kMinCount = 2;
    static constexpr int kMaxCount = 99;
    static constexpr int kMinIntervalMs = 200;
    static constexpr int kMaxIntervalMs = 60000;

    // `shoot` takes one photo, or says false while the one before is still
    // being written (it is asked again shortly, so that none is lost).
    CBurstShooter(std::function<bool()> shoot, QObject* parent = nullptr);

    // The first photo at once, then one each interval.
    void Start(int count, int intervalMs);
    void Cancel();
    bool Active() const { return remaining > 0; }
    int Taken() const { return taken; }
    int Count() const { return count; }

    // As remembered in the profile, within the limits above.
    static int RememberedCount();
    static int RememberedIntervalMs();
    static void Remember(int count, int intervalMs);

signals:
    void shot(int taken, int count);
    void finished(int taken);

private:
    void Step();

    std::function<bool()> shoot;
    QTimer timer;
    int count = 0;
    int remaining = 0;
    int taken = 0;
    int intervalMs = kDefaultIntervalMs;
};

#pragma once
// A small bar meter of a sound input's level with peak hold: in the status
// bar while previewing, and in the device dialog beside the sound inputs.

#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "capture/CapturePlatform.h"

// What the meter reads at each refresh.
struct MeterReading {
    bool active = false;    // something is measured (hidden otherwise)
    bool hasInput = false;  // a sound input is chosen ("无声音" otherwise)
    uint64_t count = 0;     // readings so far: unchanged means no new one came
    SoundLevel level;
};

class CSoundLevelMeter : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 100;    // the level element's interval
    static constexpr double kFloorDb = -60.0;  // the bar's left end
    static constexpr int kHoldRefreshes = 15;  // the held peak stays 1.5 s
    static constexpr int kStaleRefreshes = 5;  // an input silent for 0.5 s falls to the floor

    explicit CSoundLevelMeter(std::function<MeterReading()> source, QWidget* parent = nullptr);

    // Reads now; refreshes on its own while active, hides itself otherwise.
    void Refresh();

    // What it shows: "-20 dB", "-60 dB 以下", "无声音" or "" while hidden.
    QString Text() const { return text; }
    double PeakDb() const { return peakDb; }
    double HeldPeakDb() const { return heldDb; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // What a paint draws, to the bar's pixel: a steady tone repaints nothing.
    struct Look {
        QString text;
        bool hasInput;
        long peak, held;
        bool operator==(const Look&) const = default;
    };
    Look CurrentLook() const;
    void Show(const MeterReading& reading);
    void Reset();
    static double Fraction(double db);

    std::function<MeterReading()> source;
    QTimer timer;
    QString text;
    bool hasInput = false;
    double peakDb = kSilentDecibels;
    double rmsDb = kSilentDecibels;
    double heldDb = kSilentDecibels;
    int heldFor = 0;
    uint64_t lastCount = 0;
    int unchangedFor = 0;
};

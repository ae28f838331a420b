#include "frame/SoundLevelMeter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBarWidth = 90;
constexpr int kBarHeight = 10;
constexpr int kGap = 6;

QString Decibels(double db)
{
    return db <= CSoundLevelMeter::kFloorDb ? QStringLiteral("%1 dB 以下").arg(CSoundLevelMeter::kFloorDb)
                                            : QStringLiteral("%1 dB").arg(std::lround(db));
}

}  // namespace

CSoundLevelMeter::CSoundLevelMeter(std::function<MeterReading()> readingSource, QWidget* parent)
    : QWidget(parent), source(std::move(readingSource))
{
    setObjectName(QStringLiteral("soundLevelMeter"));
    timer.setInterval(kRefreshMs);
    connect(&timer, &QTimer::timeout, this, &CSoundLevelMeter::Refresh);
    hide();
}

void CSoundLevelMeter::Refresh()
{
    const MeterReading reading = source ? source() : MeterReading{};
    if (!reading.active) {
        timer.stop();
        Reset();
        hide();
        return;
    }
    const Look before = CurrentLook();
    Show(reading);
    if (isHidden() || CurrentLook() != before) update();
    show();
    if (!timer.isActive()) timer.start();
}

void CSoundLevelMeter::Reset()
{
    text.clear();
    hasInput = false;
    peakDb = rmsDb = heldDb = kSilentDecibels;
    heldFor = unchangedFor = 0;
    lastCount = 0;
    setToolTip(QString());
}

void CSoundLevelMeter::Show(const MeterReading& reading)
{
    hasInput = reading.hasInput;
    if (!hasInput) {
        Reset();
        text = QStringLiteral("无声音");
        setToolTip(QStringLiteral("没有选择声音输入"));
        return;
    }
    const bool fresh = reading.count != lastCount;
    lastCount = reading.count;
    unchangedFor = fresh ? 0 : unchangedFor + 1;
    if (fresh) {
        peakDb = reading.level.peakDb;
        rmsDb = reading.level.rmsDb;
    } else if (unchangedFor >= kStaleRefreshes) {
        // An input that stopped delivering shows nothing heard.
        peakDb = rmsDb = kSilentDecibels;
    }
    if (peakDb >= heldDb || ++heldFor > kHoldRefreshes) {
        heldDb = peakDb;
        heldFor = 0;
    }
    text = Decibels(peakDb);
    setToolTip(QStringLiteral("声音输入电平：峰值 %1，有效值 %2").arg(Decibels(peakDb), Decibels(rmsDb)));
}

CSoundLevelMeter::Look CSoundLevelMeter::CurrentLook() const
{
    return Look{text, hasInput, std::lround(kBarWidth * Fraction(peakDb)), std::lround(kBarWidth * Fraction(heldDb))};
}

double CSoundLevelMeter::Fraction(double db)
{
    return std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
}

QSize CSoundLevelMeter::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int textWidth = std::max(metrics.horizontalAdvance(Decibels(kFloorDb)),
                                   metrics.horizontalAdvance(QStringLiteral("-60 dB")));
    return QSize(kBarWidth + kGap + textWidth, std::max(kBarHeight, metrics.height()));
}

void CSoundLevelMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int barWidth = std::max(0, std::min(kBarWidth, width() - kGap - fontMetrics().horizontalAdvance(text)));
    const QRect textArea(hasInput ? barWidth + kGap : 0, 0, width(), height());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, text);
    if (!hasInput || barWidth <= 2) return;

    const QRect bar(0, (height() - kBarHeight) / 2, barWidth, kBarHeight);
    painter.fillRect(bar, palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    const QRect inside = bar.adjusted(1, 1, -1, -1);
    // Green while there is headroom, yellow from -18 dB, red from -6 dB.
    const QColor colour = peakDb >= -6 ? QColor(0xd0, 0x30, 0x20)
                          : peakDb >= -18 ? QColor(0xe0, 0xb0, 0x20)
                                          : QColor(0x30, 0xa0, 0x40);
    const int filled = static_cast<int>(std::lround(inside.width() * Fraction(peakDb)));
    painter.fillRect(QRect(inside.left(), inside.top(), filled, inside.height()), colour);
    if (heldDb > kFloorDb) {
        const int x = inside.left() + static_cast<int>(std::lround((inside.width() - 1) * Fraction(heldDb)));
        painter.fillRect(QRect(x, inside.top(), 2, inside.height()), palette().color(QPalette::WindowText));
    }
}

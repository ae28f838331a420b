#include "view/PreviewOverlays.h"

#include <QFont>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kFlashStepMs = 15;

}  // namespace

CFlashOverlay::CFlashOverlay(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("photoFlash"));
    // Clicks go on to the view (its context menu).
    setAttribute(Qt::WA_TransparentForMouseEvents);
    stepTimer.setInterval(kFlashStepMs);
    connect(&stepTimer, &QTimer::timeout, this, &CFlashOverlay::Step);
    hide();
}

void CFlashOverlay::Flash()
{
    ++flashes;
    painted = false;
    setGeometry(parentWidget()->rect());
    raise();  // above the video window, also one made since the last flash
    show();
    update();
    stepTimer.start();
}

double CFlashOverlay::Opacity() const
{
    if (!painted) return 1.0;
    return std::clamp(1.0 - static_cast<double>(sincePainted.elapsed()) / kFadeMs, 0.0, 1.0);
}

void CFlashOverlay::Step()
{
    if (painted && Opacity() <= 0.0) {
        stepTimer.stop();
        hide();
        return;
    }
    // Something restacks the native video window above us after the first
    // paint; the flash stays on top for its short life.
    raise();
    update();
}

void CFlashOverlay::paintEvent(QPaintEvent*)
{
    if (!painted) {
        painted = true;
        sincePainted.start();
    }
    QPainter painter(this);
    // A native window of its own (over a native video window) cannot be
    // blended with the picture the sink draws: it stays white until it goes.
    const bool blends = !testAttribute(Qt::WA_NativeWindow);
    painter.fillRect(rect(), QColor(255, 255, 255, blends ? static_cast<int>(255 * Opacity()) : 255));
}

CCountdownBadge::CCountdownBadge(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("selfTimerCountdown"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void CCountdownBadge::ShowNumber(int number)
{
    if (number <= 0) {
        text.clear();
        hide();
        return;
    }
    text = QString::number(number);
    Place();
    raise();
    show();
    update();
}

void CCountdownBadge::Place()
{
    // A square of half the picture's shorter side: the rest of the picture
    // stays in view while the user gets ready.
    const QRect area = parentWidget()->rect();
    const int side = std::max(48, std::min(area.width(), area.height()) / 2);
    setGeometry(QRect(0, 0, side, side).translated(area.center() - QPoint(side / 2, side / 2)));
}

void CCountdownBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Over a native video window nothing below is painted again: the last
    // number would show through a translucent face.
    if (testAttribute(Qt::WA_NativeWindow)) painter.fillRect(rect(), Qt::black);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 150));
    painter.drawRoundedRect(rect(), width() / 8.0, width() / 8.0);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::max(16, height() * 3 / 4));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, text);
}

#include "view/PreviewOverlays.h"

#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kFlashStepMs = 15;

}  // namespace

CPreviewOverlay::CPreviewOverlay(QWidget* parent) : QWidget(parent), view(parent)
{
    // Clicks go on to the view (its context menu).
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void CPreviewOverlay::SetAbovePicture(QWidget* widget)
{
    if (widget == picture) return;
    if (picture) picture->removeEventFilter(this);
    picture = widget;
    if (picture) picture->installEventFilter(this);
    if ((picture != nullptr) == isWindow()) return;
    if (picture) {
        // Only another surface shows above the subsurface: a popup of the
        // view's window (placed relative to it, so it moves with it) that
        // takes neither input nor focus.
        setParent(view, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                            Qt::WindowTransparentForInput);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
    } else {
        setParent(view, Qt::Widget);
        setAttribute(Qt::WA_TranslucentBackground, false);
    }
}

void CPreviewOverlay::Place()
{
    if (!isWindow()) {
        setGeometry(PlaceWithin(view->rect()));
        return;
    }
    const QRect area = PlaceWithin(picture ? picture->geometry() : view->rect());
    const QRect onScreen(view->mapToGlobal(area.topLeft()), area.size());
    if (onScreen == geometry()) return;
    // A Wayland popup keeps the place it was shown at: it is shown again.
    const bool shown = isVisible();
    if (shown) hide();
    setGeometry(onScreen);
    if (shown) show();
}

void CPreviewOverlay::ShowOver()
{
    Place();
    if (!isWindow()) raise();  // above the video window, also one made since last shown
    show();
    update();
}

bool CPreviewOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == picture && isVisible() && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        Place();
    return QWidget::eventFilter(watched, event);
}

CFlashOverlay::CFlashOverlay(QWidget* parent) : CPreviewOverlay(parent)
{
    setObjectName(QStringLiteral("photoFlash"));
    stepTimer.setInterval(kFlashStepMs);
    connect(&stepTimer, &QTimer::timeout, this, &CFlashOverlay::Step);
}

void CFlashOverlay::Flash()
{
    ++flashes;
    painted = false;
    ShowOver();
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
    if (!isWindow()) raise();
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
    const bool blends = !OverNativeWindow();
    painter.fillRect(rect(), QColor(255, 255, 255, blends ? static_cast<int>(255 * Opacity()) : 255));
}

CCountdownBadge::CCountdownBadge(QWidget* parent) : CPreviewOverlay(parent)
{
    setObjectName(QStringLiteral("selfTimerCountdown"));
}

void CCountdownBadge::ShowNumber(int number)
{
    if (number <= 0) {
        text.clear();
        hide();
        return;
    }
    text = QString::number(number);
    ShowOver();
}

QRect CCountdownBadge::PlaceWithin(const QRect& area) const
{
    // A square of half the picture's shorter side: the rest of the picture
    // stays in view while the user gets ready.
    const int side = std::max(48, std::min(area.width(), area.height()) / 2);
    return QRect(0, 0, side, side).translated(area.center() - QPoint(side / 2, side / 2));
}

void CPreviewOverlay::PaintBadgeFace(QPainter& painter, double cornerRadius)
{
    painter.setRenderHint(QPainter::Antialiasing);
    if (OverNativeWindow()) painter.fillRect(rect(), Qt::black);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 150));
    painter.drawRoundedRect(rect(), cornerRadius, cornerRadius);
}

void CCountdownBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintBadgeFace(painter, width() / 8.0);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(std::max(16, height() * 3 / 4));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, text);
}

CRecordingBadge::CRecordingBadge(QWidget* parent) : CPreviewOverlay(parent)
{
    setObjectName(QStringLiteral("recordingBadge"));
}

void CRecordingBadge::Track(QWidget* picture)
{
    if (picture == tracked) return;
    if (tracked) tracked->removeEventFilter(this);
    tracked = picture;
    if (tracked) tracked->installEventFilter(this);
}

void CRecordingBadge::ShowTime(const QString& time, bool isPaused)
{
    if (time.isEmpty()) {
        text.clear();
        hide();
        return;
    }
    text = time;
    paused = isPaused;
    // Raised each time: a native video window made or shown since goes above it.
    ShowOver();
}

QFont CRecordingBadge::FontOf(const QFont& base, int letterSize)
{
    QFont font = base;
    font.setBold(true);
    font.setPixelSize(letterSize);
    return font;
}

QRect CRecordingBadge::PlaceWithin(const QRect& area) const
{
    // A child over the picture where one is shown; a window of its own
    // already got the picture's place.
    const QRect picture = !isWindow() && tracked && tracked->isVisible() ? tracked->geometry() : area;
    // Letters in proportion to the picture, readable on a small one; the
    // badge twice their height, the dot in a square of that height.
    const int letters = std::clamp(picture.height() / 24, 12, 28);
    const int width = 2 * letters + QFontMetrics(FontOf(font(), letters)).horizontalAdvance(text) + letters / 2;
    const int margin = letters / 2;
    return QRect(picture.topLeft() + QPoint(margin, margin), QSize(width, 2 * letters));
}

bool CRecordingBadge::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tracked && isVisible() && !isWindow()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            Place();
            break;
        default:
            break;
        }
    }
    return CPreviewOverlay::eventFilter(watched, event);
}

void CRecordingBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintBadgeFace(painter, height() / 4.0);
    const int letters = height() / 2;
    painter.setBrush(paused ? QColor(160, 160, 160) : QColor(230, 20, 20));
    painter.drawEllipse(QRect(letters / 2, letters / 2, letters, letters));
    painter.setFont(FontOf(font(), letters));
    painter.setPen(Qt::white);
    painter.drawText(rect().adjusted(2 * letters, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
}

#include "frame/MessageStatusBar.h"

#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOption>
#include <QToolTip>

#include <algorithm>

namespace {

// As the toolkit's own bar lays its message out.
constexpr int kLeftMargin = 6;
constexpr int kRightMargin = 12;
constexpr int kGapBeforeField = 2;

}  // namespace

CMessageStatusBar::CMessageStatusBar(QWidget* parent) : QStatusBar(parent)
{
    connect(this, &QStatusBar::messageChanged, this, [this] { update(); });
}

QRect CMessageStatusBar::MessageRect() const
{
    // While a message shows, only the permanent fields are visible.
    int right = width() - kRightMargin;
    for (const QWidget* field : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (field->isVisible()) right = std::min(right, field->x() - kGapBeforeField);
    return QRect(kLeftMargin, 0, std::max(0, right - kLeftMargin), height());
}

bool CMessageStatusBar::MessageCut() const
{
    const QString message = currentMessage();
    return !message.isEmpty() && fontMetrics().horizontalAdvance(message) > MessageRect().width();
}

void CMessageStatusBar::paintEvent(QPaintEvent* event)
{
    const QString message = currentMessage();
    if (message.isEmpty() || !MessageCut()) {
        QStatusBar::paintEvent(event);
        return;
    }
    // The toolkit's painting, with the message elided instead of clipped.
    QPainter painter(this);
    QStyleOption panel;
    panel.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelStatusBar, &panel, &painter, this);
    for (QWidget* field : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!field->isVisible()) continue;
        QStyleOption frame;
        frame.rect = field->geometry().adjusted(-2, -1, 2, 1);
        frame.palette = palette();
        frame.state = QStyle::State_None;
        style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &frame, &painter, field);
    }
    const QRect room = MessageRect();
    painter.setPen(palette().windowText().color());
    painter.drawText(room, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(message, Qt::ElideRight, room.width()));
}

bool CMessageStatusBar::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (MessageCut() && MessageRect().contains(help->pos())) {
            QToolTip::showText(help->globalPos(), currentMessage(), this);
            return true;
        }
    }
    return QStatusBar::event(event);
}

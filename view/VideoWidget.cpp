#include "view/VideoWidget.h"

#include <QMetaObject>
#include <QPainter>

#include <cstring>

CVideoWindow::CVideoWindow(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Mouse clicks go to the view (its context menu).
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CVideoWindow::SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height)
{
    setGeometry(left, top, width, height);
}

void CVideoWindow::SetVisible(bool visible)
{
    setVisible(visible);
}

void CVideoWindow::PresentFrame(const VideoFrame& frame)
{
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 3)
        return;
    {
        std::lock_guard lock(imageMutex);
        if (latest.width() != frame.width || latest.height() != frame.height)
            latest = QImage(frame.width, frame.height, QImage::Format_BGR888);
        const size_t rowBytes = static_cast<size_t>(frame.width) * 3;
        for (int32_t row = 0; row < frame.height; ++row)
            std::memcpy(latest.scanLine(row), frame.pixels + static_cast<size_t>(row) * frame.stride, rowBytes);
    }
    framesPresented.fetch_add(1);
    // One pending repaint is enough; later frames are picked up by it.
    if (!repaintQueued.exchange(true)) {
        QMetaObject::invokeMethod(this, [this] {
            repaintQueued.store(false);
            update();
        }, Qt::QueuedConnection);
    }
}

QImage CVideoWindow::LatestFrame() const
{
    std::lock_guard lock(imageMutex);
    return latest.copy();
}

void CVideoWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    std::lock_guard lock(imageMutex);
    if (latest.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), latest);
}

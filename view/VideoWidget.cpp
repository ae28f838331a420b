#include "view/VideoWidget.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QTransform>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <memory>
#include <utility>

#include "view/PreviewStats.h"

namespace {

// A QImage over a frame's pixels holds the frame until its last copy goes.
using HeldFrame = std::shared_ptr<const void>;

void ReleaseFrame(void* held)
{
    delete static_cast<HeldFrame*>(held);
}

// The frame's pixels as an image, without a copy.
QImage ImageOf(const VideoFrame& frame)
{
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4) return {};
    // Format_RGB32 is the frame's layout: 0xffRRGGBB words in the machine's order.
    return QImage(frame.pixels, frame.width, frame.height, frame.stride, QImage::Format_RGB32, &ReleaseFrame,
                  new HeldFrame(frame.keepAlive));
}

}  // namespace

CVideoWindow::CVideoWindow(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Mouse clicks go to the view (its context menu).
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

NativeVideoWindows CVideoWindow::NativeSystem()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) return {NativeVideoWindows::System::X11, nullptr};
    if (!platform.startsWith(QLatin1String("wayland"))) return {};
    QPlatformNativeInterface* resources = QGuiApplication::platformNativeInterface();
    void* display = resources ? resources->nativeResourceForIntegration("wl_display") : nullptr;
    if (!display) return {};
    return {NativeVideoWindows::System::Wayland, display};
}

// The sink draws straight into the window. On X11 the toolkit must not
// paint over it, nor clear it before a frame comes. On Wayland it draws
// into a subsurface of the top-level's surface, above whatever the view
// paints there.
uint64_t CVideoWindow::NativeWindowId()
{
    const NativeVideoWindows::System system = NativeSystem().system;
    if (system == NativeVideoWindows::System::None) return 0;
    if (!native) {
        native = true;
        if (system == NativeVideoWindows::System::X11) {
            setAttribute(Qt::WA_NativeWindow);
            setAttribute(Qt::WA_PaintOnScreen);
            setAttribute(Qt::WA_NoSystemBackground);
        } else {
            setAttribute(Qt::WA_OpaquePaintEvent, false);
            onTopLevelSurface = true;
        }
        DropFrame();
    }
    if (system == NativeVideoWindows::System::X11) return static_cast<uint64_t>(winId());
    QWindow* topLevel = window()->windowHandle();
    QPlatformNativeInterface* platform = QGuiApplication::platformNativeInterface();
    void* surface = platform && topLevel ? platform->nativeResourceForWindow("surface", topLevel) : nullptr;
    return reinterpret_cast<uint64_t>(surface);
}

// The top-level's surface starts at its frame (the decorations Qt draws
// itself on Wayland).
WindowRect CVideoWindow::NativePlacement()
{
    if (!onTopLevelSurface) return {0, 0, width(), height()};
    const QWindow* topLevel = window()->windowHandle();
    const QMargins frame = topLevel ? topLevel->frameMargins() : QMargins();
    const QPoint at = mapTo(window(), QPoint(0, 0)) + QPoint(frame.left(), frame.top());
    return {at.x(), at.y(), at.x() + width(), at.y() + height()};
}

void CVideoWindow::SetNativeHandlers(std::function<void()> redrawHandler, std::function<VideoFrame()> latest)
{
    redraw = std::move(redrawHandler);
    latestDrawn = std::move(latest);
}

void CVideoWindow::FrameDrawn()
{
    CountFrame();
    PreviewStats::CountPainted();
}

void CVideoWindow::CountFrame()
{
    framesPresented.fetch_add(1);
    PreviewStats::CountPresented();
    if (showWanted.exchange(false))
        QMetaObject::invokeMethod(this, [this] { ShowIfDrawn(); }, Qt::QueuedConnection);
}

void CVideoWindow::HideUntilDrawn()
{
    waitingForFrame = true;
    framesAtHide = framesPresented.load();
    hide();
    showWanted.store(true);
}

void CVideoWindow::ShowIfDrawn()
{
    if (!waitingForFrame) return;
    if (framesPresented.load() == framesAtHide) {
        // Woken by a frame counted before the hide: wait for the next one,
        // unless it came in the meantime.
        showWanted.store(true);
        if (framesPresented.load() == framesAtHide) return;
    }
    waitingForFrame = false;
    setVisible(visibleWanted);
}

QPaintEngine* CVideoWindow::paintEngine() const
{
    return native && !onTopLevelSurface ? nullptr : QWidget::paintEngine();
}

void CVideoWindow::DropFrame()
{
    QImage dropped;  // released outside the lock
    std::lock_guard lock(imageMutex);
    latest.swap(dropped);
}

void CVideoWindow::SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height)
{
    setGeometry(left, top, width, height);
}

void CVideoWindow::SetVisible(bool visible)
{
    visibleWanted = visible;
    setVisible(visible && !waitingForFrame);
}

void CVideoWindow::PresentFrame(const VideoFrame& frame)
{
    QImage image = ImageOf(frame);
    if (image.isNull()) return;
    {
        std::lock_guard lock(imageMutex);
        latest.swap(image);
        latestMirrored = frame.mirrored;
        ++latestSerial;
    }
    CountFrame();
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
    if (native) return latestDrawn ? ImageOf(latestDrawn()).copy() : QImage();
    std::lock_guard lock(imageMutex);
    return latestMirrored ? latest.mirrored(true, false) : latest.copy();
}

void CVideoWindow::paintEvent(QPaintEvent*)
{
    if (native) {
        // A Wayland compositor keeps the sink's picture by itself.
        if (redraw && !onTopLevelSurface) redraw();
        return;
    }
    QImage image;  // shares the pixels; the frame stays held while drawing
    uint64_t serial;
    bool mirrored;
    {
        std::lock_guard lock(imageMutex);
        image = latest;
        serial = latestSerial;
        mirrored = latestMirrored;
    }
    QPainter painter(this);
    if (image.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // A self-view is drawn through a mirrored transform, in the same one
    // pass over the pixels as a plain picture.
    if (mirrored) painter.setTransform(QTransform(-1, 0, 0, 1, width(), 0));
    // At the picture's own size (the window sized to the camera) it is a
    // plain copy; otherwise scaled once, here.
    if (image.size() == size())
        painter.drawImage(QPoint(0, 0), image);
    else
        painter.drawImage(rect(), image);
    if (serial != paintedSerial) {
        paintedSerial = serial;
        PreviewStats::CountPainted();
    }
}

#pragma once
// The child window that shows the live picture inside the view: either it
// paints the frames the engine hands it, or it is a native window (an X11
// window, a Wayland surface) that the platform's video sink draws into
// itself.

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "capture/VideoWindow.h"

class CVideoWindow : public QWidget, public IVideoWindow {
    Q_OBJECT
public:
    explicit CVideoWindow(QWidget* parent);

    // The windowing system whose video sink can draw into our windows (X11,
    // Wayland), with the compositor connection on Wayland.
    static NativeVideoWindows NativeSystem();

    void SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void SetVisible(bool visible) override;
    double PixelRatio() const override { return devicePixelRatioF(); }
    // Streaming thread: keeps the frame (no copy of its pixels) and asks the
    // UI thread for a repaint.
    void PresentFrame(const VideoFrame& frame) override;
    uint64_t NativeWindowId() override;
    WindowRect NativePlacement() override;
    void SetNativeHandlers(std::function<void()> redraw, std::function<VideoFrame()> latest) override;
    void FrameDrawn() override;

    // Lets go of the latest frame (the engine has stopped presenting).
    void DropFrame();
    // Hidden from now until a frame is drawn into it again, so that the view
    // paints its own background wherever no picture is being drawn: the
    // native window is not cleared by anyone, and would keep whatever was
    // over it last (a menu, a dialog).
    void HideUntilDrawn();
    // A copy of the latest frame as shown (empty before the first one).
    QImage LatestFrame() const;
    int FramesPresented() const { return framesPresented.load(); }
    bool IsNative() const { return native; }
    // The sink draws into a subsurface above the window's own surface: what
    // the window paints over this place does not show.
    bool InSubsurface() const { return onTopLevelSurface; }

    QPaintEngine* paintEngine() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Streaming thread: a frame was presented or drawn.
    void CountFrame();
    void ShowIfDrawn();

    mutable std::mutex imageMutex;
    QImage latest;               // guarded by imageMutex; shares the frame's pixels
    bool latestMirrored = false;  // guarded by imageMutex; painted mirrored
    uint64_t latestSerial = 0;   // guarded by imageMutex
    uint64_t paintedSerial = 0;  // UI thread
    bool native = false;         // UI thread
    // UI thread: on Wayland the sink draws into a subsurface of the
    // top-level window's surface, over this widget's place: Qt gives a
    // native child widget a surface but never a buffer, and a subsurface of
    // an unmapped surface is never shown. The widget paints nothing, so the
    // view's painting shows where the sink draws nothing (after Stop).
    bool onTopLevelSurface = false;
    std::function<void()> redraw;          // UI thread
    std::function<VideoFrame()> latestDrawn;  // UI thread
    std::atomic<bool> repaintQueued{false};
    std::atomic<int> framesPresented{0};
    bool visibleWanted = true;   // UI thread: as the engine set it
    bool waitingForFrame = false;  // UI thread: hidden until drawn
    int framesAtHide = 0;          // UI thread
    std::atomic<bool> showWanted{false};  // the next frame asks the UI thread to show
};

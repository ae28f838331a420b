#pragma once
// The child window that shows the live picture inside the view.

#include <QImage>
#include <QWidget>

#include <atomic>
#include <mutex>

#include "capture/VideoWindow.h"

class CVideoWindow : public QWidget, public IVideoWindow {
    Q_OBJECT
public:
    explicit CVideoWindow(QWidget* parent);

    void SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void SetVisible(bool visible) override;
    // Streaming thread: copies the frame and asks the UI thread for a repaint.
    void PresentFrame(const VideoFrame& frame) override;

    // A copy of the latest frame (empty before the first one).
    QImage LatestFrame() const;
    int FramesPresented() const { return framesPresented.load(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    mutable std::mutex imageMutex;
    QImage latest;  // guarded by imageMutex
    std::atomic<bool> repaintQueued{false};
    std::atomic<int> framesPresented{0};
};

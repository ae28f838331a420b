#pragma once
// The one view: hosts the live picture, paints the background picture while
// no video runs, and carries out the capture commands of the frame.

#include <QBrush>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

#include "capture/CaptureSession.h"
#include "capture/VideoWindow.h"

class CCountdownBadge;
class CRecordingBadge;
class CFlashOverlay;
class CMainFrame;
class CVideoWindow;
class QMenu;
class QPainter;
class QPrinter;

// What the device dialog yielded; a negative video device = none chosen.
struct DeviceChoice {
    int32_t videoDeviceIndex = -1;
    int32_t videoCompressorIndex = -1;
    int32_t audioCompressorIndex = -1;
    int32_t videoDeviceCount = -1;  // devices the dialog listed; -1 = not known
    CaptureChoice captureChoice{};  // the camera's identity, the picture mode and sound input
};

class CLumoraView : public QWidget, public IOwnerWindow {
    Q_OBJECT
public:
    explicit CLumoraView(CMainFrame* frame, QWidget* parent = nullptr);
    ~CLumoraView() override;

    void OnInitialUpdate();

    // Capture operations (called by the frame through theView).
    bool StartVideo();
    // The device dialog, with the choices in use; nullopt: nothing chosen.
    std::optional<DeviceChoice> ChooseDevices();
    // A graph built anew for `choice`, replacing the one before. false: the
    // build failed (a message was shown) and no graph is left.
    bool BuildGraphFor(const DeviceChoice& choice);
    void FitPreview();
    bool RecordVideo();
    void PauseVideo();
    void StopVideo();
    // Asks for one more photo; a press while the photo before is still
    // being written counts too, up to kMostPhotosWaiting. false: refused.
    bool TakeSnapshot();
    static constexpr int kMostPhotosWaiting = 3;
    // A photo was stored: the picture flashes white.
    void FlashPhoto();
    // The self-timer's number over the picture; 0 takes it away.
    void ShowCountdown(int number);
    // The running take's time over the picture's corner; empty takes it away.
    void ShowTakeTime(const QString& time, bool paused);
    // The graph was stopped by a failure (a camera that went away): the
    // next Start video asks for the devices again, as after a failed build.
    void OnGraphLost();

    // Streaming thread: temp.bmp -> temp.jpg in appDirectory. No window access.
    bool ConvertBitmapToJpeg();

    // Context-menu commands.
    void OnPopupFullScreen();
    void OnPopupCompatible();
    void OnPopupMinimal();

    // Ctrl+P: the print dialog, then the page.
    void OnFilePrint();
    // Paints what OnDraw paints onto `printer` (the dialog is not shown).
    void PrintTo(QPrinter& printer);

    // IOwnerWindow
    WindowRect ClientRect() const override;
    IVideoWindow* AttachVideoWindow() override;
    void DetachVideoWindow() override;

    CVideoWindow* VideoWindow() const { return videoWindow; }
    QMenu* ContextMenu() const { return contextMenu; }
    CFlashOverlay* PhotoFlash() const { return flash; }
    CCountdownBadge* Countdown() const { return countdown; }
    CRecordingBadge* TakeBadge() const { return takeBadge; }

    // Replaces the modal device dialog (tests); empty = the real dialog.
    static std::function<DeviceChoice()> deviceDialogHook;
    // Replaces the modal print dialog: returns false to cancel (tests).
    static std::function<bool(QPrinter&)> printDialogHook;

    bool graphBuilt = false;
    bool showBackground = true;
    QRect paintRect;
    QImage backgroundBitmap;
    QBrush backgroundBrush;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnDraw(QPainter& painter, const QRect& clientRect);
    void ShowBackground();
    // The video window, where the sink draws above what the view paints.
    QWidget* PictureInSubsurface() const;
    DeviceChoice RunDeviceDialog();

    CMainFrame* frame;
    CVideoWindow* videoWindow = nullptr;
    QMenu* contextMenu = nullptr;
    CFlashOverlay* flash = nullptr;
    CCountdownBadge* countdown = nullptr;
    CRecordingBadge* takeBadge = nullptr;
};

// The one view, set by its initial update.
extern CLumoraView* theView;

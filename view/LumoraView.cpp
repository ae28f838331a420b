#include "view/LumoraView.h"

#include <QAction>
#include <QApplication>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include "capture/CaptureSession.h"
#include "capture/ui/DeviceDialog.h"
#include "capture/ui/PictureProfile.h"
#include "frame/MainFrame.h"
#include "res/Resources.h"
#include "settings/SettingsRecord.h"
#include "snapshot/GrabberCallback.h"
#include "snapshot/JpegConversion.h"
#include "view/PreviewOverlays.h"
#include "view/VideoWidget.h"

CLumoraView* theView = nullptr;
std::function<DeviceChoice()> CLumoraView::deviceDialogHook;
std::function<bool(QPrinter&)> CLumoraView::printDialogHook;

CLumoraView::CLumoraView(CMainFrame* owner, QWidget* parent) : QWidget(parent), frame(owner)
{
    // We paint every pixel ourselves (black first, then the picture).
    setAttribute(Qt::WA_OpaquePaintEvent);
    flash = new CFlashOverlay(this);
    countdown = new CCountdownBadge(this);
    takeBadge = new CRecordingBadge(this);

    const PopupEntry& popup = ViewPopupResource();
    contextMenu = new QMenu(popup.title, this);
    for (const MenuEntry& entry : popup.items) {
        if (entry.id == ID_SEPARATOR) {
            contextMenu->addSeparator();
            continue;
        }
        QAction* action = contextMenu->addAction(entry.label);
        action->setData(entry.id);
        const CommandString strings = CommandStringFor(entry.id);
        if (strings.exists) action->setStatusTip(strings.prompt);
        switch (entry.id) {
        case ID_POPUP_FULLSCREEN:
            action->setCheckable(true);
            connect(action, &QAction::triggered, this, [this] { OnPopupFullScreen(); });
            break;
        case ID_POPUP_COMPATIBLE:
            connect(action, &QAction::triggered, this, [this] { OnPopupCompatible(); });
            break;
        case ID_POPUP_MINIMAL:
            connect(action, &QAction::triggered, this, [this] { OnPopupMinimal(); });
            break;
        default:
            break;
        }
    }
    // A popup menu is a window of its own, so its prompts would stop there:
    // they go to the frame's status bar, and the idle text comes back after.
    contextMenu->installEventFilter(this);
    connect(contextMenu, &QMenu::aboutToHide, this, [this] {
        QStatusTipEvent idle{QString()};
        QApplication::sendEvent(frame, &idle);
    });
    // The check mark follows fullScreen each time the menu opens.
    connect(contextMenu, &QMenu::aboutToShow, this, [this] {
        for (QAction* action : contextMenu->actions())
            if (action->data().toInt() == ID_POPUP_FULLSCREEN) action->setChecked(fullScreen != 0);
    });
}

CLumoraView::~CLumoraView()
{
    if (theView == this) theView = nullptr;
}

void CLumoraView::OnInitialUpdate()
{
    theView = this;
    graphBuilt = false;
    showBackground = true;
    backgroundBitmap = BackgroundBitmap();
    backgroundBrush = QBrush(backgroundBitmap);
    grabberCallback.SetJpegConverter([this] { return ConvertBitmapToJpeg(); });
    update();
}

DeviceChoice CLumoraView::RunDeviceDialog()
{
    if (deviceDialogHook) return deviceDialogHook();
    CDeviceDialog dialog(TheCaptureSession());
    dialog.exec();
    return DeviceChoice{dialog.videoDeviceIndex, dialog.videoCompressorIndex, dialog.audioCompressorIndex,
                        static_cast<int32_t>(dialog.VideoDeviceList()->count()), dialog.captureChoice};
}

bool CLumoraView::StartVideo()
{
    if (graphBuilt) {
        // A camera that cannot stream again (unplugged while stopped) was
        // named in a message; the next Start video chooses again.
        if (FAILED(TheCaptureSession().Run())) {
            OnGraphLost();
            return false;
        }
        showBackground = false;
        update();
        return true;
    }
    const std::optional<DeviceChoice> choice = ChooseDevices();
    return choice && BuildGraphFor(*choice);
}

std::optional<DeviceChoice> CLumoraView::ChooseDevices()
{
    const DeviceChoice choice = RunDeviceDialog();
    if (choice.videoDeviceIndex >= 0) return choice;
    // The empty list alone is easy to miss.
    if (choice.videoDeviceCount == 0 && frame->statusBar) frame->statusBar->showMessage(NoVideoDeviceMessage());
    return std::nullopt;
}

bool CLumoraView::BuildGraphFor(const DeviceChoice& choice)
{
    // The camera's pictures turned and mirrored as it had them last.
    CaptureChoice captureChoice = choice.captureChoice;
    std::string camera = captureChoice.videoDevicePath;
    if (camera.empty()) TheCaptureSession().ReadVideoDevicePath(choice.videoDeviceIndex, camera);
    PictureProfile::FillIn(captureChoice, camera);
    TheCaptureSession().SetCaptureChoice(captureChoice);
    if (TheCaptureSession().BuildGraph(choice.videoDeviceIndex, choice.videoCompressorIndex,
                                       choice.audioCompressorIndex, this) < 0) {
        // The graph before went with the build.
        if (graphBuilt) OnGraphLost();
        return false;
    }
    showBackground = false;
    graphBuilt = true;
    update();
    return true;
}

void CLumoraView::OnGraphLost()
{
    graphBuilt = false;
    ShowBackground();
}

void CLumoraView::FitPreview()
{
    TheCaptureSession().FitVideoWindow();
}

bool CLumoraView::RecordVideo()
{
    return TheCaptureSession().StartRecording();
}

void CLumoraView::PauseVideo()
{
    TheCaptureSession().Pause();
    showBackground = true;
    update();  // show the picture at once rather than at some later paint
}

void CLumoraView::StopVideo()
{
    TheCaptureSession().Stop();
    ShowBackground();
}

// Nothing draws into the video window any more: it goes until the next
// picture, and the view's background shows in its place.
void CLumoraView::ShowBackground()
{
    showBackground = true;
    if (videoWindow) videoWindow->HideUntilDrawn();
    update();
}

bool CLumoraView::TakeSnapshot()
{
    // A held key asks faster than photos are written: the queue stays short.
    int armed = snapshotArmed.load();
    do {
        if (armed >= kMostPhotosWaiting) return false;
    } while (!snapshotArmed.compare_exchange_weak(armed, armed + 1));
    return true;
}

void CLumoraView::FlashPhoto()
{
    flash->SetAbovePicture(PictureInSubsurface());
    flash->Flash();
}

void CLumoraView::ShowCountdown(int number)
{
    countdown->SetAbovePicture(PictureInSubsurface());
    countdown->ShowNumber(number);
}

void CLumoraView::ShowTakeTime(const QString& time, bool paused)
{
    takeBadge->SetAbovePicture(PictureInSubsurface());
    takeBadge->Track(videoWindow);
    takeBadge->ShowTime(time, paused);
}

QWidget* CLumoraView::PictureInSubsurface() const
{
    return videoWindow && videoWindow->InSubsurface() ? videoWindow : nullptr;
}

bool CLumoraView::ConvertBitmapToJpeg()
{
    return ConvertBitmapFileToJpeg(appDirectory + "/temp.bmp", appDirectory + "/temp.jpg");
}

void CLumoraView::OnPopupFullScreen()
{
    if (fullScreen != 0)
        frame->LeaveFullScreen();
    else
        frame->EnterFullScreen();
    FitPreview();
    frame->UpdateCommandUI();
}

void CLumoraView::OnPopupCompatible()
{
    frame->LeaveFullScreen();
    frame->OnWindowCompatible();
    frame->UpdateCommandUI();
}

void CLumoraView::OnPopupMinimal()
{
    frame->LeaveFullScreen();
    frame->OnWindowMinimal();
    frame->UpdateCommandUI();
}

void CLumoraView::OnFilePrint()
{
    QPrinter printer;
    if (printDialogHook) {
        if (!printDialogHook(printer)) return;
    } else {
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted) return;
    }
    PrintTo(printer);
}

void CLumoraView::PrintTo(QPrinter& printer)
{
    // The picture shown (or the view's background), as large as the page
    // takes it in its own shape, in the middle of the page.
    QImage picture;
    if (!showBackground && videoWindow) picture = videoWindow->LatestFrame();
    if (picture.isNull()) {
        picture = QImage(size(), QImage::Format_RGB32);
        picture.fill(Qt::black);
        QPainter background(&picture);
        OnDraw(background, rect());
    }
    QPainter painter;
    if (!painter.begin(&printer)) return;
    const QSize page(printer.width(), printer.height());
    const QSize fitted = picture.size().scaled(page, Qt::KeepAspectRatio);
    const QPoint corner((page.width() - fitted.width()) / 2, (page.height() - fitted.height()) / 2);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(corner, fitted), picture);
    painter.end();
}

WindowRect CLumoraView::ClientRect() const
{
    return WindowRect{0, 0, width(), height()};
}

IVideoWindow* CLumoraView::AttachVideoWindow()
{
    if (!videoWindow) videoWindow = new CVideoWindow(this);
    videoWindow->setGeometry(rect());
    // Shown by its first picture: until then the view paints.
    videoWindow->HideUntilDrawn();
    return videoWindow;
}

// The widget stays for the next graph, hidden: a video sink that drew into
// it may still hold its native window until that sink is closed, and
// closing it on a window gone is an X error that ends the program.
void CLumoraView::DetachVideoWindow()
{
    if (!videoWindow) return;
    videoWindow->HideUntilDrawn();
    videoWindow->DropFrame();
}

void CLumoraView::OnDraw(QPainter& painter, const QRect& clientRect)
{
    if (!showBackground) return;
    paintRect = clientRect;
    painter.setBrushOrigin(clientRect.topLeft());
    painter.fillRect(paintRect, backgroundBrush);
}

bool CLumoraView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == contextMenu && event->type() == QEvent::StatusTip) {
        QApplication::sendEvent(frame, event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CLumoraView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);  // erase
    OnDraw(painter, rect());
}

void CLumoraView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FitPreview();
    if (flash->isVisible()) flash->Place();
    if (countdown->isVisible()) countdown->Place();
    if (takeBadge->isVisible()) takeBadge->Place();
}

void CLumoraView::contextMenuEvent(QContextMenuEvent* event)
{
    contextMenu->popup(event->globalPos());
}

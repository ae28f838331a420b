#pragma once
// The single top-level window: menus, toolbar, status bar, the view, the
// capture commands and the three window modes.

#include <QMainWindow>
#include <QPointer>
#include <QKeySequence>
#include <QList>
#include <QRect>
#include <QSize>

#include <functional>
#include <map>

#include "settings/SettingsFile.h"

class CCameraControlsDialog;
class CLumoraDoc;
class CLumoraView;
class CRecordingStatusField;
class CSelfTimer;
class CSoundLevelMeter;
struct MeterReading;
class QAction;
class QMenu;
struct MenuEntry;
class QStatusBar;
class QToolBar;
class CPhotoThumbnail;
class CBurstShooter;
class CTakeIndicator;

// 1 while the frame is in full screen; written only by Enter/LeaveFullScreen.
extern int fullScreen;

// What the status bar's sound meter shows: the capture session's level.
MeterReading ReadPreviewSoundLevel();

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMinimalSize = 280;
    static constexpr int kVideoExtraHeight = 100;

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Makes `view` the client and routes the document's commands.
    void SetView(CLumoraView* view);
    void SetDocument(CLumoraDoc* doc);
    CLumoraView* View() const { return view; }

    QAction* Action(int id) const;
    void UpdateCommandUI();

    // Command handlers.
    void OnStartVideo();
    // 视频设备...: the device dialog again, with the choices in use; OK
    // builds the graph anew, the window staying in its mode. Not during a take.
    void OnVideoDevices();
    void OnRecordVideo();
    void OnPauseVideo();
    void OnStopVideo();
    void OnTakePhoto();
    // The self-timer: a countdown over the picture, then the photo.
    void OnTakePhotoLater();
    void OnBurst();
    void OnBurstSettings();
    void OnOpenPhotoFolder();
    void OnOpenRecordingFolder();
    // Esc: stops a running self-timer, else leaves full screen.
    void OnEscape();
    // 摄像头设置: the modeless dialog of the camera's settings (one at a time).
    void OnCameraSettings();
    CCameraControlsDialog* CameraSettingsDialog() const;
    void OnViewOptions();
    // 镜像: the preview mirrored; 旋转: the pictures turned (not while
    // recording). Both remembered for the camera (PictureProfile.h).
    void OnMirror();
    void OnRotate(int degrees);
    void OnHelpReadme();
    void OnHelpHomepage();
    void OnWindowMinimal();
    void OnWindowCompatible();
    void OnWindowFullScreen();
    void EnterFullScreen();
    void LeaveFullScreen();
    void ResizeToVideo(int width, int height);

    // The engine stopped the graph (a failure) or the recording alone.
    void OnGraphStopped();
    void OnRecordingStopped();
    // The grabber stored a photo at `path` / could not, for `why`.
    void OnPhotoStored(const QString& path);
    void OnPhotoFailed(const QString& why);
    CSelfTimer* SelfTimer() const { return selfTimer; }
    CBurstShooter* Burst() const { return burst; }

    bool previewing = false;
    bool recording = false;
    QRect savedPlacement;  // frame geometry (client rectangle) before full screen
    QRect fullScreenRect;  // outer rectangle while in full screen
    // Wayland: the bars hidden for the compositor's full screen, shown again after.
    QList<QWidget*> barsHiddenForFullScreen;
    SettingsResult settingsLoad;

    QStatusBar* statusBar = nullptr;
    QToolBar* toolBar = nullptr;
    // The latest photo, at the toolbar's right end.
    CPhotoThumbnail* photoThumbnail = nullptr;
    // Time and size of the running recording, at the right of the status bar.
    CRecordingStatusField* recordingField = nullptr;
    // The sound input's level while previewing, right of it.
    CSoundLevelMeter* soundMeter = nullptr;
    // The running take's time in the title and over the picture.
    CTakeIndicator* takeIndicator = nullptr;

    // The action that carries `id`'s keys: the command's own, or a hidden
    // companion when the menu label already spells the key.
    QAction* ShortcutAction(int id) const;

    // Replaceable actions (tests, the application object).
    std::function<void()> aboutHandler;
    std::function<bool(const QUrl&)> openUrlHook;  // true: something opened it
    std::function<bool(const std::string&)> soundHook;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void BuildMenus();
    void AddSubmenu(QMenu* menu, const MenuEntry& entry);
    void CreatePictureActions();
    void UpdatePictureCommandUI();
    void BuildToolBar();
    void BuildAccelerators();
    static bool LabelSpellsKeys(const QString& label, const QList<QKeySequence>& keys);
    void Dispatch(int id);
    void SetOuterSize(int width, int height);
    void ApplyOuterSize();
    void KeepOuterSize();
    void CentreOnWorkArea();
    // The outer size for a picture of width x height: its own where that
    // fits the screen's work area, else the largest of its shape that does.
    QSize OuterSizeForPicture(int width, int height) const;
    // After 开始视频 or a new choice of devices.
    void FitWindowToNewPicture();
    void RefreshStatusFields();
    void EndPreview(void (CLumoraView::*viewStep)());
    // After a take ends: the file it wrote, its length and size, left in
    // the message pane until the next take.
    void ShowTakeWritten();
    // The thumbnail shows the newest photo of the photo folder of the settings.
    void FollowPhotoFolder();
    bool OpenUrl(const QUrl& url);
    // The thumbnail's photo in the desktop's viewer, or why not in the status bar.
    bool OpenPhoto(const QUrl& url);
    // `kind` names the folder in the status bar ("照片文件夹").
    void OpenFolder(const QString& kind, const QString& name);
    void CreateSelfTimer();
    // Ends the self-timer's count and a burst.
    void CancelTimedPhotos();
    // After a start: the camera gets the settings remembered for it, and an
    // open settings dialog shows that camera.
    void CameraStarted();
    void CameraGone();

    std::map<int, QAction*> actions;
    std::map<int, QAction*> shortcutActions;
    QSize wantedOuterSize;  // outer size of the current mode; invalid: none
    bool centreOuterSize = true;
    // The window is sized to the picture (compatible mode, also under full
    // screen): a turned picture sizes it again, at once or when full screen ends.
    bool windowFollowsVideo = false;
    bool pictureTurnedInFullScreen = false;
    // 最小模式 was chosen after a picture: a new one leaves the window as it is.
    bool minimalChosen = false;
    bool keepingOuterSize = false;
    CLumoraView* view = nullptr;
    CLumoraDoc* document = nullptr;
    CSelfTimer* selfTimer = nullptr;
    CBurstShooter* burst = nullptr;
    // Said of the photo under way before it was stored (a JPEG that became
    // a bitmap), so that "已保存" does not hide it.
    QString photoNote;
    // The message pane's text when no menu item is highlighted.
    QString restingMessage;
    QPointer<CCameraControlsDialog> cameraSettings;
};

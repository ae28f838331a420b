#pragma once
// The single top-level window: menus, toolbar, status bar, the view, the
// capture commands and the three window modes.

#include <QMainWindow>
#include <QKeySequence>
#include <QList>
#include <QRect>
#include <QSize>

#include <functional>
#include <map>

#include "settings/SettingsFile.h"

class CLumoraDoc;
class CLumoraView;
class CRecordingStatusField;
class CSoundLevelMeter;
struct MeterReading;
class QAction;
class QStatusBar;
class QToolBar;

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
    void OnRecordVideo();
    void OnPauseVideo();
    void OnStopVideo();
    void OnTakePhoto();
    void OnViewOptions();
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

    bool previewing = false;
    bool recording = false;
    QRect savedPlacement;  // frame geometry (client rectangle) before full screen
    QRect fullScreenRect;  // outer rectangle while in full screen
    SettingsResult settingsLoad;

    QStatusBar* statusBar = nullptr;
    QToolBar* toolBar = nullptr;
    // Time and size of the running recording, at the right of the status bar.
    CRecordingStatusField* recordingField = nullptr;
    // The sound input's level while previewing, right of it.
    CSoundLevelMeter* soundMeter = nullptr;

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
    void BuildToolBar();
    void BuildAccelerators();
    static bool LabelSpellsKeys(const QString& label, const QList<QKeySequence>& keys);
    void Dispatch(int id);
    void SetOuterSize(int width, int height);
    void ApplyOuterSize();
    void KeepOuterSize();
    void CentreOnWorkArea();
    void RefreshStatusFields();
    bool OpenUrl(const QUrl& url);

    std::map<int, QAction*> actions;
    std::map<int, QAction*> shortcutActions;
    QSize wantedOuterSize;  // outer size of the current mode; invalid: none
    bool centreOuterSize = true;
    bool keepingOuterSize = false;
    CLumoraView* view = nullptr;
    CLumoraDoc* document = nullptr;
};

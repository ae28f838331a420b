#include "frame/MainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>

#include "app/LumoraDoc.h"
#include "app/Messages.h"
#include "capture/CaptureSession.h"
#include "frame/AboutDialog.h"
#include "frame/BurstShooter.h"
#include "frame/MessageStatusBar.h"
#include "frame/RecordingStatusField.h"
#include "frame/SelfTimer.h"
#include "frame/SoundLevelMeter.h"
#include "frame/TakeIndicator.h"
#include "res/Resources.h"
#include "settings/ui/OptionsDialog.h"
#include "frame/PhotoThumbnail.h"
#include "view/LumoraView.h"

namespace {

// How soon a close that came while the session was busy is tried again.
constexpr int kBusyCloseRetryMs = 50;

}  // namespace

int fullScreen = 0;

MeterReading ReadPreviewSoundLevel()
{
    const CCaptureSession& session = TheCaptureSession();
    MeterReading reading;
    reading.active = session.State().Previewing();
    reading.hasInput = session.HasSoundInput();
    reading.count = session.ReadSoundLevel(reading.level);
    return reading;
}

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint)
{
    QString current = QDir::currentPath();
    while (current.size() > 1 && current.endsWith('/')) current.chop(1);
    appDirectory = current.toStdString();
    previewing = false;
    recording = false;
    settingsLoad = LoadSettings();
    if (!settingsLoad.ok) ShowMessageBox(QString::fromStdString(settingsLoad.message), this);
    if (!settingsLoad.notice.empty()) ShowMessageBox(QString::fromStdString(settingsLoad.notice), this);

    setWindowTitle(ApplicationTitle());
    setWindowIcon(ApplicationIcon());

    CreateActions();
    BuildMenus();
    BuildToolBar();
    BuildAccelerators();
    setStatusBar(new CMessageStatusBar(this));
    statusBar = QMainWindow::statusBar();
    statusBar->setSizeGripEnabled(false);
    restingMessage = IdleMessage();
    statusBar->showMessage(restingMessage);
    recordingField = new CRecordingStatusField([] { return TheCaptureSession().State(); }, statusBar);
    statusBar->addPermanentWidget(recordingField);
    connect(recordingField, &CRecordingStatusField::diskSpaceLow, statusBar,
            [this](const QString& message) { statusBar->showMessage(message); });
    CreateSelfTimer();
    soundMeter = new CSoundLevelMeter(&ReadPreviewSoundLevel, statusBar);
    statusBar->addPermanentWidget(soundMeter);
    takeIndicator = new CTakeIndicator(
        this, [] { return TheCaptureSession().State(); },
        [this](const QString& time, bool paused) {
            if (view) view->ShowTakeTime(time, paused);
        });

    SetOuterSize(kMinimalSize, kMinimalSize);
    UpdateCommandUI();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::SetView(CLumoraView* newView)
{
    view = newView;
    setCentralWidget(view);
}

void CMainFrame::SetDocument(CLumoraDoc* doc)
{
    document = doc;
    if (document) document->lastTakePath = [] { return TheCaptureSession().State().lastTakePath; };
}

QAction* CMainFrame::Action(int id) const
{
    auto it = actions.find(id);
    return it == actions.end() ? nullptr : it->second;
}

void CMainFrame::CreateActions()
{
    auto make = [this](int id, const QString& label) {
        if (actions.count(id)) return;
        auto* action = new QAction(label, this);
        action->setData(id);
        const CommandString strings = CommandStringFor(id);
        if (strings.exists) {
            action->setStatusTip(strings.prompt);
            action->setToolTip(strings.tooltip);
        }
        connect(action, &QAction::triggered, this, [this, id] { Dispatch(id); });
        addAction(action);  // shortcuts work also with the bars hidden
        actions[id] = action;
    };
    for (const PopupEntry& popup : MainMenuResource())
        for (const MenuEntry& entry : popup.items) {
            // A submenu's action is its menu's own (BuildMenus).
            for (const MenuEntry& item : entry.items) make(item.id, item.label);
            if (entry.id != ID_SEPARATOR && entry.items.empty()) make(entry.id, entry.label);
        }
    for (int id : ToolbarResource()) make(id, QString());
    for (const AcceleratorEntry& entry : AcceleratorResource()) make(entry.id, QString());
    // Esc is the frame's own key rather than a row of the accelerator table.
    make(ID_ESCAPE, QString());
    Action(ID_ESCAPE)->setShortcut(QKeySequence(Qt::Key_Escape));
    Action(ID_ESCAPE)->setShortcutContext(Qt::WindowShortcut);
    // F11 too, as the menus may be out of sight (full screen).
    make(ID_FULLSCREEN_KEY, QString());
    Action(ID_FULLSCREEN_KEY)->setShortcut(QKeySequence(Qt::Key_F11));
    Action(ID_FULLSCREEN_KEY)->setShortcutContext(Qt::WindowShortcut);

    for (int id : {ID_VIDEO_START, ID_VIDEO_RECORD, ID_WINDOW_FULLSCREEN, ID_VIEW_TOOLBAR,
                   ID_VIEW_STATUS_BAR})
        if (QAction* action = Action(id)) action->setCheckable(true);
    // The window's mode is the checked one of its three items.
    auto* windowModes = new QActionGroup(this);
    for (int id : {ID_WINDOW_MINIMAL, ID_WINDOW_COMPATIBLE, ID_WINDOW_FULLSCREEN}) {
        Action(id)->setCheckable(true);
        windowModes->addAction(Action(id));
    }
    CreatePictureActions();
}

void CMainFrame::BuildMenus()
{
    for (const PopupEntry& popup : MainMenuResource()) {
        QMenu* menu = menuBar()->addMenu(popup.title);
        for (const MenuEntry& entry : popup.items) {
            if (entry.id == ID_SEPARATOR)
                menu->addSeparator();
            else if (entry.items.empty())
                menu->addAction(Action(entry.id));
            else
                AddSubmenu(menu, entry);
        }
    }
}

void CMainFrame::BuildToolBar()
{
    toolBar = new QToolBar(this);
    toolBar->setObjectName("toolBar");
    // Names the toolbar's item in the menu of the bars' empty part.
    toolBar->setWindowTitle(QStringLiteral("工具栏"));
    toolBar->setMovable(true);
    toolBar->setIconSize(QSize(20, 20));
    const std::vector<int>& ids = ToolbarResource();
    for (size_t i = 0; i < ids.size(); ++i) {
        QAction* action = Action(ids[i]);
        if (!action) continue;
        action->setIcon(ToolbarIcon(static_cast<int>(i)));
        toolBar->addAction(action);
    }
    // The latest photo at the toolbar's right end.
    auto* spacer = new QWidget(toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolBar->addWidget(spacer);
    photoThumbnail = new CPhotoThumbnail([this](const QUrl& url) { return OpenPhoto(url); }, toolBar);
    if (QWidget* button = toolBar->widgetForAction(Action(ids.front())))
        photoThumbnail->SetHeight(button->sizeHint().height());
    toolBar->addWidget(photoThumbnail);
    FollowPhotoFolder();
    addToolBar(Qt::TopToolBarArea, toolBar);
    // Hidden from that menu too, the 查看 item follows.
    connect(toolBar->toggleViewAction(), &QAction::triggered, this, [this] { UpdateCommandUI(); });
}

void CMainFrame::BuildAccelerators()
{
    std::map<int, QList<QKeySequence>> keys;
    for (const AcceleratorEntry& entry : AcceleratorResource()) keys[entry.id].append(entry.keys);
    for (auto& [id, list] : keys) {
        QAction* action = Action(id);
        if (!action) continue;
        QAction* carrier = action;
        if (LabelSpellsKeys(action->text(), list)) {
            // A menu would print the key a second time beside the label, so a
            // hidden companion takes the key and follows the command's state.
            carrier = new QAction(this);
            carrier->setEnabled(action->isEnabled());
            connect(action, &QAction::enabledChanged, carrier, &QAction::setEnabled);
            connect(carrier, &QAction::triggered, action, &QAction::trigger);
            addAction(carrier);
            shortcutActions[id] = carrier;
        }
        carrier->setShortcuts(list);
        carrier->setShortcutContext(Qt::WindowShortcut);
    }
}

bool CMainFrame::LabelSpellsKeys(const QString& label, const QList<QKeySequence>& keys)
{
    if (label.contains('\t')) return false;  // the menu's own column
    // The label spells the key in English; with Qt's Chinese translations
    // the native text of Space is "空格", so the portable text counts too.
    for (const QKeySequence& key : keys)
        if (!label.endsWith(key.toString(QKeySequence::PortableText)) &&
            !label.endsWith(key.toString(QKeySequence::NativeText)))
            return false;
    return !keys.isEmpty();
}

QAction* CMainFrame::ShortcutAction(int id) const
{
    auto it = shortcutActions.find(id);
    return it == shortcutActions.end() ? Action(id) : it->second;
}

void CMainFrame::Dispatch(int id)
{
    switch (id) {
    case ID_VIDEO_START: OnStartVideo(); break;
    case ID_VIDEO_DEVICES: OnVideoDevices(); break;
    case ID_VIDEO_RECORD: OnRecordVideo(); break;
    case ID_VIDEO_PAUSE: OnPauseVideo(); break;
    case ID_VIDEO_STOP: OnStopVideo(); break;
    case ID_VIDEO_SNAPSHOT: OnTakePhoto(); break;
    case ID_VIDEO_SNAPSHOT_TIMER: OnTakePhotoLater(); break;
    case ID_VIDEO_BURST: OnBurst(); break;
    case ID_VIDEO_BURST_SETTINGS: OnBurstSettings(); break;
    case ID_VIDEO_OPEN_PHOTO_FOLDER: OnOpenPhotoFolder(); break;
    case ID_VIDEO_OPEN_RECORDING_FOLDER: OnOpenRecordingFolder(); break;
    case ID_ESCAPE: OnEscape(); break;
    case ID_VIDEO_CAMERA_SETTINGS: OnCameraSettings(); break;
    case ID_VIEW_OPTIONS: OnViewOptions(); break;
    case ID_VIEW_MIRROR: OnMirror(); break;
    case ID_VIEW_ROTATE_0: OnRotate(0); break;
    case ID_VIEW_ROTATE_90: OnRotate(90); break;
    case ID_VIEW_ROTATE_180: OnRotate(180); break;
    case ID_VIEW_ROTATE_270: OnRotate(270); break;
    case ID_WINDOW_MINIMAL: OnWindowMinimal(); break;
    case ID_WINDOW_COMPATIBLE: OnWindowCompatible(); break;
    case ID_WINDOW_FULLSCREEN: OnWindowFullScreen(); break;
    case ID_FULLSCREEN_KEY:
        if (view) view->OnPopupFullScreen();  // a toggle, as the view's menu item
        break;
    case ID_HELP_README: OnHelpReadme(); break;
    case ID_HELP_HOMEPAGE: OnHelpHomepage(); break;
    case ID_APP_ABOUT:
        if (aboutHandler) {
            aboutHandler();
        } else {
            CAboutDialog dialog;
            dialog.exec();
        }
        break;
    case ID_APP_EXIT: close(); break;
    case ID_FILE_NEW:
        if (document && document->OnNewDocument() && view) view->OnInitialUpdate();
        break;
    case ID_FILE_OPEN:
        if (document) document->OnFileOpen();
        break;
    case ID_FILE_SAVE:
        if (document) document->OnFileSave();
        break;
    case ID_FILE_SAVE_AS:
        if (document) document->OnFileSaveAs();
        break;
    case ID_FILE_PRINT:
        if (view) view->OnFilePrint();
        break;
    case ID_FILE_PRINT_SETUP: {
        QPrinter printer;
        QPageSetupDialog dialog(&printer, this);
        dialog.exec();
        break;
    }
    case ID_VIEW_TOOLBAR: toolBar->setVisible(!toolBar->isVisible()); break;
    case ID_VIEW_STATUS_BAR: statusBar->setVisible(!statusBar->isVisible()); break;
    default: break;  // keys that no part of the program handles
    }
    UpdateCommandUI();
}

void CMainFrame::UpdateCommandUI()
{
    auto set = [this](int id, bool enabled, bool checked) {
        if (QAction* action = Action(id)) {
            action->setEnabled(enabled);
            if (action->isCheckable()) action->setChecked(checked);
        }
    };
    set(ID_VIDEO_START, true, previewing);
    set(ID_VIDEO_RECORD, previewing, recording);
    set(ID_VIDEO_PAUSE, previewing, false);
    // A paused take is stopped as a running one, without resuming first.
    set(ID_VIDEO_STOP, previewing || TheCaptureSession().State().graph == CaptureState::Graph::Paused, false);
    set(ID_VIDEO_SNAPSHOT, previewing, false);
    set(ID_VIDEO_SNAPSHOT_TIMER, previewing, false);
    set(ID_VIDEO_BURST, previewing, burst && burst->Active());
    set(ID_VIDEO_BURST_SETTINGS, true, false);
    // Esc stays free for others while it has nothing to end.
    set(ID_ESCAPE, fullScreen != 0 || (selfTimer && selfTimer->Active()) || (burst && burst->Active()), false);
    set(ID_VIDEO_CAMERA_SETTINGS, previewing, false);
    set(ID_VIDEO_DEVICES, !TheCaptureSession().RecordingActive(), false);
    UpdatePictureCommandUI();
    set(ID_WINDOW_MINIMAL, true, fullScreen == 0 && !windowFollowsVideo);
    set(ID_WINDOW_COMPATIBLE, true, fullScreen == 0 && windowFollowsVideo);
    set(ID_WINDOW_FULLSCREEN, true, fullScreen != 0);
    set(ID_VIEW_TOOLBAR, true, toolBar && !toolBar->isHidden());
    set(ID_VIEW_STATUS_BAR, true, statusBar && !statusBar->isHidden());
}

void CMainFrame::OnViewOptions()
{
    OpenOptionsDialog(nullptr);
    FollowPhotoFolder();
}


void CMainFrame::RefreshStatusFields()
{
    recordingField->Refresh();
    soundMeter->Refresh();
    takeIndicator->Refresh();
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == QEvent::StatusTip) {
        // One message pane: a prompt while highlighted, else the idle text.
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (statusBar) statusBar->showMessage(tip.isEmpty() ? restingMessage : tip);
        return true;
    }
    const bool handled = QMainWindow::event(event);
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
        KeepOuterSize();
        break;
    default:
        break;
    }
    return handled;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // A close that arrives while the session waits for a device (the wait
    // lets the window run) comes back once the session is done.
    if (TheCaptureSession().Busy()) {
        event->ignore();
        QTimer::singleShot(kBusyCloseRetryMs, this, [this] { close(); });
        return;
    }
    // Finish a recording while the view and its video window still exist.
    TheCaptureSession().TearDown();
    previewing = false;
    recording = false;
    RefreshStatusFields();
    QMainWindow::closeEvent(event);
}

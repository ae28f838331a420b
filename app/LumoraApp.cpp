#include "app/LumoraApp.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

#include "app/LumoraDoc.h"
#include "app/Messages.h"
#include "app/RecordingJournal.h"
#include "settings/ui/OptionsDialog.h"
#include "capture/CaptureSession.h"
#include "frame/AboutDialog.h"
#include "frame/MainFrame.h"
#include "res/CommandIds.h"
#include "settings/SettingsFile.h"
#include "snapshot/GrabberCallback.h"
#include "view/LumoraView.h"
#include "view/PreviewStats.h"

CLumoraApp::CLumoraApp(QObject* parent, const QString& store) : QObject(parent), recentFileStore(store)
{
}

CLumoraApp::~CLumoraApp()
{
    ExitInstance();
}

bool CLumoraApp::InitInstance()
{
    QCoreApplication::setOrganizationName("Local AppWizard-Generated Applications");
    QCoreApplication::setApplicationName("Lumora");

    document = std::make_unique<CLumoraDoc>(nullptr, recentFileStore);
    frame = std::make_unique<CMainFrame>();
    view = new CLumoraView(frame.get());
    frame->SetView(view);
    frame->SetDocument(document.get());
    frame->aboutHandler = [this] { OnAppAbout(); };
    document->reinitialiseViews = [this] {
        if (view) view->OnInitialUpdate();
        if (frame) frame->UpdateCommandUI();
    };
    WireEngine();
    PreviewStats::ReportIfAsked(this);

    view->OnInitialUpdate();
    frame->show();
    frame->OnWindowMinimal();  // 280 x 280, centred on the work area
    frame->update();
    QTimer::singleShot(0, this, [this] { RepairUnfinishedRecordings(); });
    return true;
}

void CLumoraApp::RepairUnfinishedRecordings()
{
    const QString report = CRecordingJournal(recentFileStore).RepairLeftOvers();
    if (!report.isEmpty() && frame) ShowMessageBox(report, frame.get());
}

void CLumoraApp::WireEngine()
{
    CCaptureSession& session = TheCaptureSession();
    QPointer<CMainFrame> target = frame.get();
    session.SetMessageHandler([target](const std::string& message) {
        ShowMessageBox(QString::fromStdString(message), target);
    });
    session.SetEventNotifier([] {
        // Any thread: the UI thread takes the events from the queue.
        QMetaObject::invokeMethod(qApp, [] { TheCaptureSession().ProcessPendingEvents(); },
                                  Qt::QueuedConnection);
    });
    session.SetGraphStoppedHandler([target] {
        if (target) target->OnGraphStopped();
    });
    session.SetRecordingStoppedHandler([target] {
        if (target) target->OnRecordingStopped();
    });
    // While a device is slow to start the window still repaints; input waits,
    // and so do the quit signals (their socket), until the session is done.
    session.SetWaitHook([] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    });
    session.SetNoticeHandler([target](const std::string& notice) {
        if (target && target->statusBar) target->statusBar->showMessage(QString::fromStdString(notice));
    });
    session.SetNewFileEachTake(NewFileEachTakeRemembered());
    session.SetRecordingJournal([store = recentFileStore](const std::string& path, bool writing) {
        const CRecordingJournal journal(store);
        if (writing)
            journal.Note(QString::fromStdString(path));
        else
            journal.Clear();
    });
    SetSettingsErrorHandler([target](const std::string& message) {
        ShowMessageBox(QString::fromStdString(message), target);
    });
    // Photo reports come on the streaming thread.
    grabberCallback.SetPhotoHandlers(
        [target](const std::string& failure) {
            QMetaObject::invokeMethod(qApp, [target, why = QString::fromStdString(failure)] {
                if (target) target->OnPhotoFailed(why);
            }, Qt::QueuedConnection);
        },
        [target](const std::string& stored) {
            QMetaObject::invokeMethod(qApp, [target, path = QString::fromStdString(stored)] {
                if (target) target->OnPhotoStored(path);
            }, Qt::QueuedConnection);
        });
}

void CLumoraApp::OnAppAbout()
{
    CAboutDialog dialog;
    dialog.exec();
}

void CLumoraApp::OnQuitSignal()
{
    if (frame) {
        if (QAction* exit = frame->Action(ID_APP_EXIT))
            exit->trigger();
        else
            frame->close();
    }
    QCoreApplication::quit();
}

void CLumoraApp::ExitInstance()
{
    if (!frame) return;
    CCaptureSession& session = TheCaptureSession();
    // Nothing may run in between while the windows are taken down.
    session.SetWaitHook(nullptr);
    session.SetDeviceChangeHandler(nullptr);
    session.TearDown();
    session.SetMessageHandler(nullptr);
    session.SetEventNotifier(nullptr);
    session.SetGraphStoppedHandler(nullptr);
    session.SetRecordingStoppedHandler(nullptr);
    session.SetNoticeHandler(nullptr);
    session.SetRecordingJournal(nullptr);
    SetSettingsErrorHandler(nullptr);
    grabberCallback.SetPhotoHandlers(nullptr, nullptr);
    grabberCallback.SetJpegConverter(nullptr);
    if (document) document->reinitialiseViews = nullptr;
    frame.reset();  // deletes the view with it
    view = nullptr;
    document.reset();
}

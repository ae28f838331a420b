#pragma once
// The application object: start-up order, the About box, and the wiring of
// the capture engine's reports to the user-interface thread.

#include <QObject>
#include <memory>

class CLumoraDoc;
class CLumoraView;
class CMainFrame;

class CLumoraApp : public QObject {
    Q_OBJECT
public:
    // `recentFileStore`: the profile, see CLumoraDoc (empty = the program's
    // own); also where unfinished recordings are noted.
    explicit CLumoraApp(QObject* parent = nullptr, const QString& recentFileStore = QString());
    ~CLumoraApp() override;

    // Creates the document, the frame and the view and shows the window.
    bool InitInstance();
    void OnAppAbout();
    // Stops the graph (finishing a recording) before the windows go away.
    void ExitInstance();
    // SIGTERM, SIGINT, SIGHUP: what File > Exit does, then the event loop
    // ends (also from inside a modal dialog).
    void OnQuitSignal();

    CMainFrame* Frame() const { return frame.get(); }
    CLumoraView* View() const { return view; }
    CLumoraDoc* Document() const { return document.get(); }

private:
    void WireEngine();
    // Repairs the recordings that a program before this one left unfinished,
    // once the window is up, and says what became of them.
    void RepairUnfinishedRecordings();

    QString recentFileStore;
    std::unique_ptr<CLumoraDoc> document;
    std::unique_ptr<CMainFrame> frame;
    CLumoraView* view = nullptr;  // owned by the frame
};

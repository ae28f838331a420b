#pragma once
// The one document. It holds no data: Save and Save As copy the recording
// (the file the last take wrote, or the one named in the settings before
// any take) to a file the user chooses; Open reads nothing.

#include <QObject>
#include <QString>
#include <functional>

#include "app/RecentFileList.h"
#include "base/FileWriting.h"

// Outcome of copying the recording; `message` (Chinese) names the file and
// the reason when `ok` is false.
struct RecordingCopyResult {
    bool ok = true;
    QString message;
    bool cancelled = false;  // stopped by the user: nothing to tell
};

// Copies `source` over `target` through a sibling temporary file, so that a
// failed copy never leaves a half-written target and an existing target is
// kept whole until the new copy is complete. A symbolic link or a special
// file at `target` is refused and left alone; `source` may be reached
// through a link but must be a regular file. `progress` (any thread) is
// told how far the copy got and may stop it.
RecordingCopyResult CopyRecordingFile(const QString& source, const QString& target,
                                      const CopyProgress& progress = {});

class CLumoraDoc : public QObject {
    Q_OBJECT
public:
    // `recentFileStore`: see CRecentFileList (empty = the program's profile).
    explicit CLumoraDoc(QObject* parent = nullptr, const QString& recentFileStore = QString());
    ~CLumoraDoc() override;

    // Save and Save As are the same command: ask for a target with the
    // recording's save dialog, then copy the recording there.
    void OnFileSave();
    void OnFileSaveAs();

    // A fresh, untitled document. The views are not touched: at start-up the
    // frame gives them their first update itself.
    bool OnNewDocument();
    // Ctrl+O: asks for a file (askOpenPath) and opens it.
    void OnFileOpen();
    // Reads nothing from `path`; it only has to be readable. It becomes the
    // document's path and title, goes to the top of the recent-file list,
    // and the views are re-initialised. false: a message was shown.
    bool OnOpenDocument(const QString& path);

    QString PathName() const { return pathName; }
    QString Title() const { return title; }
    CRecentFileList& RecentFiles() { return recentFiles; }

    // Wired by the frame: gives the views their initial update again.
    std::function<void()> reinitialiseViews;
    // Told when the title changes (the frame shows it in its caption).
    std::function<void(const QString&)> titleChanged;
    // The file the last take of this run wrote; empty before any take.
    std::function<std::string()> lastTakePath;
    // The standard open dialog; empty result = cancelled. Tests replace it.
    std::function<QString()> askOpenPath;
    // Tests: called on the copying thread after each piece of a save.
    std::function<void()> copyStepped;

private:
    void SaveRecordingCopy();
    void SetPathName(const QString& path);

    QString pathName;
    QString title;
    CRecentFileList recentFiles;
};

#pragma once
// The recent-file list of the standard profile: at most four full paths,
// most recent first, kept under "Recent File List/File1".."File4".

#include <QString>
#include <QStringList>

class CRecentFileList {
public:
    static constexpr int kMaxEntries = 4;

    // An empty `iniFile` means the program's own profile,
    // QSettings("Local AppWizard-Generated Applications", "Lumora"); tests
    // pass a file of their own.
    explicit CRecentFileList(const QString& iniFile = QString());

    // Puts `path` (made absolute) first; an entry already listed moves up
    // instead of appearing twice, and the fifth falls off.
    void Add(const QString& path);
    QStringList Entries() const;

private:
    void Write(const QStringList& entries) const;

    QString iniFile;
};

#include "app/RecentFileList.h"

#include <QFileInfo>
#include <QSettings>
#include <memory>

#include "app/Profile.h"

namespace {

const QString kSection = QStringLiteral("Recent File List");

QString KeyOf(int index) { return QStringLiteral("File%1").arg(index + 1); }

}  // namespace

CRecentFileList::CRecentFileList(const QString& iniFile) : iniFile(iniFile) {}

QStringList CRecentFileList::Entries() const
{
    const auto profile = OpenProfile(iniFile);
    profile->beginGroup(kSection);
    QStringList entries;
    for (int i = 0; i < kMaxEntries; ++i) {
        const QString entry = profile->value(KeyOf(i)).toString();
        // A hand-edited profile may leave holes or repeat a path.
        if (!entry.isEmpty() && !entries.contains(entry))
            entries.append(entry);
    }
    return entries;
}

void CRecentFileList::Add(const QString& path)
{
    if (path.isEmpty())
        return;
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList entries = Entries();
    entries.removeAll(full);
    entries.prepend(full);
    while (entries.size() > kMaxEntries)
        entries.removeLast();
    Write(entries);
}

void CRecentFileList::Write(const QStringList& entries) const
{
    const auto profile = OpenProfile(iniFile);
    profile->beginGroup(kSection);
    for (int i = 0; i < kMaxEntries; ++i) {
        if (i < entries.size())
            profile->setValue(KeyOf(i), entries[i]);
        else
            profile->remove(KeyOf(i));
    }
    profile->endGroup();
    profile->sync();
}

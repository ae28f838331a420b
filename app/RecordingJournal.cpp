#include "app/RecordingJournal.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QStringList>

#include "app/Profile.h"
#include "avi/AviRepair.h"
#include "base/FileLock.h"
#include "base/RecordingContainer.h"

namespace {

const QString kSection = QStringLiteral("Unfinished Recordings");

QString OwnKey() { return QString::number(QCoreApplication::applicationPid()); }

// Whether the program that noted under `key` still runs: its process is
// there and runs this same program (a process number is reused). After an
// upgrade its program reads "... (deleted)", and another build may share
// the profile: the lock on the file (see StillWritten) tells those apart.
bool StillRunning(const QString& key)
{
    bool isNumber = false;
    const qint64 pid = key.toLongLong(&isNumber);
    if (!isNumber || pid <= 0 || pid == QCoreApplication::applicationPid()) return false;
    const QString theirs = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    return !theirs.isEmpty() && theirs == QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

// Whatever program noted it, a take whose file someone holds locked is
// being written now: a Lumora locks its take's file for the take's life.
bool StillWritten(const QString& path)
{
    return !path.isEmpty() && LockedByAnother(QFile::encodeName(path).toStdString());
}

QString Report(const QString& path, const RepairReport& repair, bool& keepNote)
{
    const QString name = QFileInfo(path).fileName();
    keepNote = false;
    switch (repair.status) {
    case RepairStatus::Repaired:
        return QStringLiteral("上次的录相没有正常结束，已修复：%1，%2")
            .arg(name, QString::fromStdString(RecordingLengthText(repair.seconds)));
    case RepairStatus::NothingToDo:
        return {};
    case RepairStatus::NotOurs:
        return QStringLiteral("上次的录相没有正常结束，没能修复：%1\n%2")
            .arg(path, QString::fromStdString(repair.reason));
    case RepairStatus::Failed:
        keepNote = true;  // a full disk, say: the next start tries again
        return QStringLiteral("上次的录相没有正常结束，没能修复：%1\n%2\n下次启动时再试。")
            .arg(path, QString::fromStdString(repair.reason));
    }
    return {};
}

}  // namespace

CRecordingJournal::CRecordingJournal(const QString& iniFile) : iniFile(iniFile) {}

void CRecordingJournal::Note(const QString& path) const
{
    auto profile = OpenProfile(iniFile);
    profile->beginGroup(kSection);
    profile->setValue(OwnKey() + QStringLiteral("/File"), path);
    profile->setValue(OwnKey() + QStringLiteral("/Started"), QDateTime::currentDateTime().toString(Qt::ISODate));
    profile->endGroup();
    profile->sync();  // before the first picture reaches the file
}

void CRecordingJournal::Clear() const
{
    auto profile = OpenProfile(iniFile);
    profile->beginGroup(kSection);
    profile->remove(OwnKey());
    profile->endGroup();
    profile->sync();
}

QString CRecordingJournal::RepairLeftOvers() const
{
    auto profile = OpenProfile(iniFile);
    profile->beginGroup(kSection);
    QStringList reports;
    for (const QString& key : profile->childGroups()) {
        if (StillRunning(key)) continue;
        const QString path = profile->value(key + QStringLiteral("/File")).toString();
        if (StillWritten(path)) continue;
        bool keepNote = false;
        QString report;
        if (path.isEmpty()) {
        } else if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
            report = QStringLiteral("上次的录相没有正常结束，文件已不在：%1").arg(path);
        } else if (!NeedsRepairWhenUnfinished(ContainerOfPath(QFile::encodeName(path).toStdString()))) {
            // Matroska and MP4 in fragments play up to where they were cut:
            // the file is left as it is.
            report = QStringLiteral("上次的录相没有正常结束：%1\n中断之前录下的内容都在文件里，不需要修复。")
                         .arg(QFileInfo(path).fileName());
        } else {
            report = Report(path, RepairRecording(QFile::encodeName(path).toStdString()), keepNote);
        }
        if (!report.isEmpty()) reports << report;
        if (!keepNote) profile->remove(key);
    }
    profile->endGroup();
    profile->sync();
    return reports.join(QStringLiteral("\n\n"));
}

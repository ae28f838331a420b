// A take the program never finished: noted while it is written, repaired
// and reported at the next start; a take another running program writes is
// left alone.
#include <QAction>
#include <QFile>
#include <QSettings>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/RecordingJournal.h"
#include "base/FileWriting.h"
#include "frame_fixture.h"

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A note as a program with process number `pid` leaves it.
void NoteAs(const QString& profile, qint64 pid, const QString& path)
{
    QSettings settings(profile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Unfinished Recordings/%1/File").arg(pid), path);
}

QStringList Noted(const QString& profile)
{
    QSettings settings(profile, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Unfinished Recordings"));
    return settings.childGroups();
}

// A process number no program has now.
qint64 GonePid()
{
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

}  // namespace

using RecordingJournalTest = ShellTest;

TEST_F(RecordingJournalTest, ATakeKilledMidwayIsRepairedAndReportedAtTheNextStart)
{
    const QString profile = startDir.filePath("profile.ini");
    const QString recordingPath = startDir.filePath("capture.avi");
    SetRecordingPath(recordingPath);
    ChooseTestPattern();
    frame->Action(ID_VIDEO_START)->trigger();
    ASSERT_TRUE(frame->previewing) << messages.join("\n").toStdString();
    frame->Action(ID_VIDEO_RECORD)->trigger();
    ASSERT_TRUE(frame->recording) << messages.join("\n").toStdString();
    EXPECT_EQ(Noted(profile), QStringList{QString::number(QCoreApplication::applicationPid())});
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(recordingPath).size() > 2'000'000; }, 20000));

    // What a kill leaves: the file as it is now, noted by a program that is gone.
    const QString killed = startDir.filePath("killed.avi");
    WriteAll(killed, ReadAll(recordingPath));
    frame->Action(ID_VIDEO_STOP)->trigger();
    EXPECT_TRUE(Noted(profile).isEmpty());
    NoteAs(profile, GonePid(), killed);

    app.reset();
    messages.clear();
    app = std::make_unique<CLumoraApp>(nullptr, profile);
    ASSERT_TRUE(app->InitInstance());
    ASSERT_TRUE(WaitFor([&] { return !messages.isEmpty(); }));
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("上次的录相没有正常结束，已修复：killed.avi，")))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].endsWith(QStringLiteral(" 秒"))) << messages[0].toStdString();
    EXPECT_TRUE(Noted(profile).isEmpty());
    const QByteArray repaired = ReadAll(killed);
    EXPECT_NE(repaired.indexOf("idx1"), -1);
}

TEST_F(RecordingJournalTest, WhatCannotBeRepairedIsSaidOnceAndAnotherProgramsTakeIsLeftAlone)
{
    const QString profile = startDir.filePath("other.ini");
    const QString notOurs = startDir.filePath("notes.avi");
    WriteAll(notOurs, QByteArray("no recording at all"));
    const qint64 gone = GonePid();
    NoteAs(profile, gone, notOurs);
    NoteAs(profile, 999'999'999, startDir.filePath("vanished.avi"));  // beyond any process number

    // Another copy of this same program, still running and writing its take.
    const pid_t other = fork();
    if (other == 0) {
        pause();
        _exit(0);
    }
    NoteAs(profile, other, notOurs);

    const QString report = CRecordingJournal(profile).RepairLeftOvers();
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    EXPECT_TRUE(report.contains(QStringLiteral("没能修复：") + notOurs)) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("文件已不在：") + startDir.filePath("vanished.avi")))
        << report.toStdString();
    EXPECT_EQ(ReadAll(notOurs), QByteArray("no recording at all"));
    EXPECT_EQ(Noted(profile), QStringList{QString::number(other)});

    // Once that program is gone, its take is looked at like the others.
    EXPECT_TRUE(CRecordingJournal(profile).RepairLeftOvers().contains(QStringLiteral("没能修复")));
    EXPECT_TRUE(Noted(profile).isEmpty());
}

TEST_F(RecordingJournalTest, AnUnfinishedMatroskaOrMp4TakeIsLeftAsItIs)
{
    const QString profile = startDir.filePath("containers.ini");
    const QByteArray cutOff("what reached the file before the kill");
    const QStringList takes{startDir.filePath("take.mkv"), startDir.filePath("take.MP4")};
    for (const QString& take : takes) {
        WriteAll(take, cutOff);
        NoteAs(profile, GonePid(), take);
    }
    const QString report = CRecordingJournal(profile).RepairLeftOvers();
    for (const QString& take : takes) {
        EXPECT_TRUE(report.contains(QStringLiteral("上次的录相没有正常结束：") + QFileInfo(take).fileName() +
                                    QStringLiteral("\n中断之前录下的内容都在文件里，不需要修复。")))
            << report.toStdString();
        EXPECT_EQ(ReadAll(take), cutOff);
    }
    EXPECT_TRUE(Noted(profile).isEmpty());
}

TEST_F(RecordingJournalTest, AFileAnotherProgramRecordsIntoIsNeitherRecordedIntoNorRepaired)
{
    const QString profile = startDir.filePath("locks.ini");
    const QString take = startDir.filePath("capture.avi");
    SetRecordingPath(take);
    ChooseTestPattern();
    frame->Action(ID_VIDEO_START)->trigger();
    ASSERT_TRUE(frame->previewing) << messages.join("\n").toStdString();
    NoteAs(profile, GonePid(), take);

    // A second Lumora recording into the file holds its lock through an open of its own.
    WriteAll(take, QByteArray("another program's take"));
    {
        const UniqueFd other(::open(QFile::encodeName(take).constData(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(flock(other.Get(), LOCK_EX | LOCK_NB), 0);
        frame->Action(ID_VIDEO_RECORD)->trigger();
        EXPECT_FALSE(frame->recording);
        EXPECT_TRUE(messages.join("\n").contains(QStringLiteral("另一个 Lumora（或其他程序）正在向这个文件录相")))
            << messages.join("\n").toStdString();
        EXPECT_EQ(CRecordingJournal(profile).RepairLeftOvers(), QString());
        EXPECT_EQ(ReadAll(take), QByteArray("another program's take"));
    }
    // Now this program records into it, and its take is the one left alone.
    frame->Action(ID_VIDEO_RECORD)->trigger();
    ASSERT_TRUE(frame->recording) << messages.join("\n").toStdString();
    EXPECT_EQ(CRecordingJournal(profile).RepairLeftOvers(), QString());
    EXPECT_EQ(Noted(profile).size(), 1);
    frame->Action(ID_VIDEO_STOP)->trigger();
}

// A whole session as a person drives it: start, photo, record, pause and
// start again, stop, save a copy of the recording.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "frame_fixture.h"
#include "settings/ui/VideoFileDialog.h"

using EndToEndTest = ShellTest;

namespace {
QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}  // namespace

TEST_F(EndToEndTest, PreviewPhotoRecordStopAndSaveACopy)
{
    const QString photos = startDir.filePath("photos");
    ASSERT_TRUE(QDir().mkpath(photos));
    SetPhotoFolder(photos);
    const QString recordingPath = startDir.filePath("capture.avi");
    SetRecordingPath(recordingPath);

    ChooseTestPattern();
    frame->Action(ID_VIDEO_START)->trigger();
    ASSERT_TRUE(frame->previewing) << messages.join("\n").toStdString();
    ASSERT_TRUE(WaitFor([&] { return view->VideoWindow() && view->VideoWindow()->FramesPresented() > 0; }));

    frame->Action(ID_VIDEO_SNAPSHOT)->trigger();
    EXPECT_EQ(soundsPlayed, 1);
    ASSERT_TRUE(WaitFor([&] { return snapshotArmed.load() == 0; }));
    EXPECT_TRUE(WaitFor([&] { return !QDir(photos).entryList(QDir::Files).isEmpty(); }));

    frame->Action(ID_VIDEO_RECORD)->trigger();
    ASSERT_TRUE(frame->recording) << messages.join("\n").toStdString();
    EXPECT_TRUE(frame->Action(ID_VIDEO_RECORD)->isChecked());
    ASSERT_TRUE(WaitFor([] { return RecordedSeconds() >= 0.5; }));

    // Pause and Start: the recording that goes on keeps its mark.
    frame->Action(ID_VIDEO_PAUSE)->trigger();
    EXPECT_FALSE(frame->Action(ID_VIDEO_RECORD)->isEnabled());
    frame->Action(ID_VIDEO_START)->trigger();
    EXPECT_EQ(frame->recording, TheCaptureSession().RecordingActive());
    EXPECT_EQ(frame->Action(ID_VIDEO_RECORD)->isChecked(), frame->recording);
    if (!frame->recording) frame->Action(ID_VIDEO_RECORD)->trigger();
    const double resumed = RecordedSeconds();
    ASSERT_TRUE(WaitFor([&] { return RecordedSeconds() >= resumed + 0.5; }));

    // Options name another file while the take runs: Save still copies the take.
    SetRecordingPath(startDir.filePath("next.avi"));
    frame->Action(ID_VIDEO_STOP)->trigger();
    EXPECT_FALSE(frame->previewing);
    EXPECT_FALSE(frame->recording);
    const QByteArray recorded = ReadAll(recordingPath);
    ASSERT_GT(recorded.size(), 1000);
    EXPECT_TRUE(recorded.startsWith("RIFF"));
    EXPECT_EQ(recorded.mid(8, 4), QByteArray("AVI "));

    const QString copyPath = startDir.filePath("copy.avi");
    PathDialogHook previous = SetVideoSavePathHook([&] { return copyPath; });
    frame->Action(ID_FILE_SAVE_AS)->trigger();
    SetVideoSavePathHook(previous);
    EXPECT_EQ(ReadAll(copyPath), recorded);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

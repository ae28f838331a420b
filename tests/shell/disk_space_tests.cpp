// The recording's disk: the time left in the status field, the refusal at
// Record, and a disk that fills while recording.
#include <QAction>
#include <QFileInfo>
#include <QPalette>
#include <QStatusBar>

#include <map>

#include "capture/DiskSpace.h"
#include "frame/RecordingStatusField.h"
#include "frame_fixture.h"
#include "tests/AviReader.h"
#include "tests/engine/FileTestHelpers.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// A disk of the test's choosing for the recording's folder, for the life of
// the object.
class FakeDisk {
public:
    FakeDisk()
    {
        SetFreeSpaceSource([this](const std::string& folder) -> std::optional<uint64_t> {
            folders[folder]++;
            return free;
        });
    }
    ~FakeDisk() { SetFreeSpaceSource(nullptr); }

    std::optional<uint64_t> free;
    std::map<std::string, int> folders;  // asked about, how often
};

// The status field on its own, fed a recording the test writes.
class TimeLeftTest : public ::testing::Test {
protected:
    TimeLeftTest() : field([this] { return now; })
    {
        now.graph = CaptureState::Graph::Running;
        now.recording = true;
        now.recordingPath = "/takes/today.avi";
        QObject::connect(&field, &CRecordingStatusField::diskSpaceLow,
                         [this](const QString& message) { warnings.append(message); });
    }

    void At(double seconds, uint64_t bytes)
    {
        now.progress = RecordingProgress{seconds, bytes};
        field.Refresh();
    }

    bool Red() const { return field.palette().color(field.foregroundRole()) == QColor(Qt::red); }

    FakeDisk disk;
    CaptureState now;
    CRecordingStatusField field;
    QStringList warnings;
};

}  // namespace

TEST_F(TimeLeftTest, ShowsTheTimeLeftAtTheRateOfTheLastSeconds)
{
    disk.free = 4320 * kMiB;
    At(0, 0);
    At(0.5, kMiB / 2);
    // Half a second of a muxer's bursts says nothing yet.
    EXPECT_EQ(field.text(), "录相 00:00:00  512 KB");
    At(2, 2 * kMiB);
    EXPECT_EQ(field.text(), "录相 00:00:02  2.0 MB  剩余 1:12:00");  // 4320 s at 1 MB/s
    EXPECT_EQ(disk.folders["/takes"], 1) << "the free space of the recording's own folder";
    EXPECT_FALSE(Red());
    EXPECT_FALSE(field.LowOnSpace());

    // The picture got busier: 10 MB/s from second 4 on. The rate follows
    // the last few seconds, not the whole recording's average.
    At(4, 4 * kMiB);
    for (int second = 5; second <= 12; ++second) At(second, (4 + 10 * (second - 4)) * kMiB);
    disk.free = 1000 * kMiB;
    At(13, 94 * kMiB);
    EXPECT_TRUE(field.text().endsWith("剩余 0:01:40")) << field.text().toStdString();

    // Paused: nothing is written, the figure stays as it was.
    now.graph = CaptureState::Graph::Paused;
    At(13, 94 * kMiB);
    EXPECT_TRUE(field.text().startsWith("暂停")) << field.text().toStdString();
    EXPECT_TRUE(field.text().endsWith("剩余 0:01:40")) << field.text().toStdString();
}

TEST_F(TimeLeftTest, TurnsRedBelowTwoMinutesAndSaysSoOncePerRecording)
{
    disk.free = 200 * kMiB;
    At(0, 0);
    At(1, kMiB);
    EXPECT_TRUE(field.text().endsWith("剩余 0:03:20"));
    EXPECT_FALSE(Red());
    EXPECT_TRUE(warnings.isEmpty());

    disk.free = 119 * kMiB;
    At(2, 2 * kMiB);
    EXPECT_TRUE(field.text().endsWith("剩余 0:01:59")) << field.text().toStdString();
    EXPECT_TRUE(Red());
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings[0], "磁盘空间快用完了：按现在的速度，录相只能再录 0:01:59。");
    disk.free = 60 * kMiB;
    At(3, 3 * kMiB);
    EXPECT_EQ(warnings.size(), 1);  // once, not four times a second

    // Room made on the disk: the colour goes back.
    disk.free = 10000 * kMiB;
    At(4, 4 * kMiB);
    EXPECT_FALSE(Red());

    // The next recording is told again.
    now.recording = false;
    field.Refresh();
    EXPECT_TRUE(field.isHidden());
    now.recording = true;
    disk.free = 30 * kMiB;
    At(0, 0);
    At(1, kMiB);
    EXPECT_TRUE(Red());
    EXPECT_EQ(warnings.size(), 2);
}

TEST_F(TimeLeftTest, NothingIsGuessedWithoutTheFreeSpaceOrARate)
{
    disk.free = std::nullopt;  // the folder cannot be read
    At(0, 0);
    At(3, 3 * kMiB);
    EXPECT_EQ(field.text(), "录相 00:00:03  3.0 MB");
    EXPECT_FALSE(Red());
    disk.free = 0;
    At(4, 3 * kMiB);
    EXPECT_TRUE(field.text().endsWith("剩余 0:00:00")) << field.text().toStdString();
    // A file that stopped growing: no time left from a rate of nothing.
    At(10, 3 * kMiB);
    At(12, 3 * kMiB);
    EXPECT_FALSE(field.text().contains("剩余")) << field.text().toStdString();
}

TEST(DiskSpace, FoldersAndTheirFreeSpace)
{
    EXPECT_EQ(FolderOfFile("/a/b.avi"), "/a");
    EXPECT_EQ(FolderOfFile("/b.avi"), "/");
    EXPECT_EQ(FolderOfFile("b.avi"), ".");
    // The real statvfs answers for a folder that exists, not for one gone.
    EXPECT_TRUE(FreeBytesInFolder(QDir::tempPath().toStdString()).has_value());
    EXPECT_FALSE(FreeBytesInFolder("/no/such/folder/here").has_value());
    // A mode without a rate is taken at 30 frames a second, not as nothing.
    EXPECT_EQ(ExpectedRecordingBytesPerSecond(VideoMode{640, 480, 0, 1, ""}, false, false), 640u * 480 * 3 / 2 * 30);
}

class DiskSpaceShellTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        recordingPath = startDir.filePath("take.avi");
        std::lock_guard lock(SettingsMutex());
        StorePath(settings.videoFilePath, recordingPath.toStdString());
    }

    QString recordingPath;
    FakeDisk disk;
};

TEST_F(DiskSpaceShellTest, RecordRefusesADiskWithoutRoomForTenSecondsAndNamesTheFreeSpace)
{
    ChooseTestPattern();  // 640 x 480 raw at 30 frames/s: about 13 MB a second
    frame->Action(ID_VIDEO_START)->trigger();
    ASSERT_TRUE(frame->previewing) << messages.join("\n").toStdString();

    disk.free = 20 * kMiB;
    frame->Action(ID_VIDEO_RECORD)->trigger();
    EXPECT_FALSE(frame->recording);
    EXPECT_FALSE(TheCaptureSession().RecordingActive());
    EXPECT_FALSE(frame->Action(ID_VIDEO_RECORD)->isChecked());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("无法录制到“" + recordingPath + "”：磁盘上只剩 20.0 MB 可用空间"))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("10 秒")) << messages[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(recordingPath));  // nothing touched
    EXPECT_TRUE(frame->previewing);

    // With room for the take it starts.
    disk.free = 400 * kMiB;
    frame->Action(ID_VIDEO_RECORD)->trigger();
    EXPECT_TRUE(frame->recording) << messages.join("\n").toStdString();
    EXPECT_EQ(messages.size(), 1);
    frame->Action(ID_VIDEO_STOP)->trigger();
}

TEST_F(DiskSpaceShellTest, ADiskThatFillsWarnsInRedThenEndsTheRecordingAndKeepsWhatWasWritten)
{
    ChooseTestPattern();
    frame->Action(ID_VIDEO_START)->trigger();
    ASSERT_TRUE(frame->previewing) << messages.join("\n").toStdString();

    // 400 MB free as Record checks, then a disk that the file fills at
    // 40 MB, where the file size limit makes every write fail.
    constexpr uint64_t kAtRecord = 400 * kMiB, kFills = 40 * kMiB;
    const std::string path = recordingPath.toStdString();
    bool pastRecord = false;
    SetFreeSpaceSource([&](const std::string&) -> std::optional<uint64_t> {
        if (!pastRecord) return kAtRecord;
        const uint64_t used = static_cast<uint64_t>(std::max<qint64>(0, QFileInfo(recordingPath).size()));
        return kFills > used ? kFills - used : 0;
    });
    QStringList warnings;
    QObject::connect(frame->recordingField, &CRecordingStatusField::diskSpaceLow,
                     [&](const QString& message) { warnings.append(message); });
    {
        file_tests::ScopedFileSizeLimit limit(kFills);
        frame->Action(ID_VIDEO_RECORD)->trigger();
        pastRecord = true;
        ASSERT_TRUE(frame->recording) << messages.join("\n").toStdString();
        EXPECT_TRUE(WaitFor([&] { return frame->recordingField->LowOnSpace(); }, 10000));
        EXPECT_TRUE(WaitFor([&] { return !frame->recording; }, 20000));
    }
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith("磁盘空间快用完了")) << warnings[0].toStdString();
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.last().contains(recordingPath)) << messages.last().toStdString();
    EXPECT_TRUE(frame->recordingField->isHidden());
    EXPECT_FALSE(frame->recordingField->LowOnSpace());
    EXPECT_TRUE(frame->previewing);  // the picture goes on
    // What reached the disk stays, ended while its index still fitted.
    EXPECT_TRUE(ReadAvi(path).hasIndex);
    EXPECT_GT(QFileInfo(recordingPath).size(), static_cast<qint64>(kFills / 2));
    frame->Action(ID_VIDEO_STOP)->trigger();
    SetFreeSpaceSource(nullptr);  // its captures end here
}

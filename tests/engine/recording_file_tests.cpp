// The recording's file: never opened through a link, never a special file,
// never a hang; and the session refuses such a path at Record.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/SystemErrorText.h"
#include "capture/CaptureSession.h"
#include "avi/RecordingFile.h"
#include "capture/RecordingFlusher.h"
#include "settings/SettingsFile.h"
#include "tests/WaitFor.h"
#include "tests/engine/FakePlatform.h"
#include "tests/engine/FileTestHelpers.h"

using namespace file_tests;

namespace {

const std::string kVictim = "the victim's own bytes";

class RecordingFile : public ::testing::Test {
protected:
    void SetUp() override { Write(victim, kVictim); }

    // Opens, or checks, `path` on a thread: a regression that blocks on a
    // FIFO fails instead of hanging.
    bool Refused(const fs::path& path, bool check, std::string& reason) {
        bool ok = true;
        EXPECT_TRUE(FinishesPromptly(
            [&] {
                if (check) {
                    ok = CheckRecordingPathWritable(path.string(), reason);
                } else {
                    ok = OpenRecordingFile(path.string(), true, reason).Valid();
                }
            },
            [&] { return OpenOtherEnd(path, O_RDONLY); }));
        return !ok;
    }

    ScratchFolder folder{"recording"};
    ScratchFolder elsewhere{"recording-victims"};
    fs::path victim = elsewhere / "victim";
};

TEST_F(RecordingFile, ALinkLiveOrDanglingIsRefusedAndNothingHappensAtItsTarget) {
    for (bool check : {false, true}) {
        std::string reason;
        fs::create_symlink(victim, folder / "capture.avi");
        EXPECT_TRUE(Refused(folder / "capture.avi", check, reason));
        EXPECT_EQ(reason, kSymbolicLinkReason);
        EXPECT_EQ(Bytes(victim), kVictim);

        fs::remove(folder / "capture.avi");
        fs::create_symlink(elsewhere / "not-yet", folder / "capture.avi");
        EXPECT_TRUE(Refused(folder / "capture.avi", check, reason));
        EXPECT_EQ(reason, kSymbolicLinkReason);
        EXPECT_FALSE(fs::exists(elsewhere / "not-yet"));
        EXPECT_TRUE(IsLink(folder / "capture.avi"));  // the check deletes nothing
        fs::remove(folder / "capture.avi");
    }
}

TEST_F(RecordingFile, SpecialFilesAreRefusedWithoutBlocking) {
    const fs::path fifo = folder / "fifo.avi";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    BoundSocket socket(folder / "socket.avi");
    ASSERT_TRUE(socket.Bound());
    for (bool check : {false, true}) {
        for (const fs::path& path : {fifo, folder / "socket.avi", fs::path("/dev/full"), fs::path("/dev/null")}) {
            std::string reason;
            EXPECT_TRUE(Refused(path, check, reason)) << path;
            EXPECT_EQ(reason, kNotRegularReason) << path;
        }
        std::string reason;
        EXPECT_TRUE(Refused(folder.Path(), check, reason));
        EXPECT_EQ(reason, "它是一个文件夹");
    }
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
}

TEST_F(RecordingFile, TheCheckLeavesFilesAsTheyWereAndTheOpenEmptiesThem) {
    const fs::path path = folder / "capture.avi";
    std::string reason;
    EXPECT_TRUE(CheckRecordingPathWritable(path.string(), reason)) << reason;
    EXPECT_FALSE(fs::exists(path));  // made for the check, removed again

    Write(path, "an earlier recording");
    EXPECT_TRUE(CheckRecordingPathWritable(path.string(), reason));
    EXPECT_EQ(Bytes(path), "an earlier recording");

    bool created = true;
    UniqueFd fd = OpenRecordingFile(path.string(), true, reason, &created);
    ASSERT_TRUE(fd.Valid()) << reason;
    EXPECT_FALSE(created);
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(::fcntl(fd.Get(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(fd.Get(), F_GETFD) & FD_CLOEXEC, 0);

    EXPECT_FALSE(CheckRecordingPathWritable((folder / "missing" / "x.avi").string(), reason));
    EXPECT_EQ(reason, SystemErrorText(ENOENT));
}

// The session's Record with such a path: the message names it and the
// reason, and the graph is never asked to write there.
class SessionRecordingPath : public RecordingFile {
protected:
    SessionRecordingPath() : script(std::make_shared<FakeScript>()), session(std::make_unique<FakePlatform>(script)) {
        script->entries[DeviceCategory::VideoInputDevice] = {{"Camera One"}};
        session.SetMessageHandler([this](const std::string& text) { messages.push_back(text); });
    }
    void TearDown() override { StorePath(settings.videoFilePath, ""); }

    void Refuses(const fs::path& path, const std::string& reason) {
        messages.clear();
        StorePath(settings.videoFilePath, path.string());
        EXPECT_FALSE(session.StartRecording());
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], "无法录制到“" + path.string() + "”：" + reason + "。");
        EXPECT_EQ(std::count(script->calls.begin(), script->calls.end(), "Output " + path.string()), 0);
    }

    std::shared_ptr<FakeScript> script;
    FakeOwner owner;
    std::vector<std::string> messages;
    CCaptureSession session;
};

TEST_F(SessionRecordingPath, LinksAndSpecialFilesAreRefusedAtRecord) {
    struct Names : IComboBox {
        void AddString(const std::string&) override {}
    } names;
    session.ListVideoDevices(&names);
    ASSERT_EQ(session.BuildGraph(0, -1, -1, &owner), S_OK);

    fs::create_symlink(victim, folder / "linked.avi");
    Refuses(folder / "linked.avi", kSymbolicLinkReason);
    EXPECT_EQ(Bytes(victim), kVictim);

    fs::create_symlink(elsewhere / "not-yet.avi", folder / "dangling.avi");
    Refuses(folder / "dangling.avi", kSymbolicLinkReason);
    EXPECT_FALSE(fs::exists(elsewhere / "not-yet.avi"));
    EXPECT_TRUE(IsLink(folder / "dangling.avi"));

    Refuses("/dev/full", kNotRegularReason);
    EXPECT_FALSE(session.RecordingActive());
}

TEST_F(SessionRecordingPath, TheRefusalIsChineseNotTheSystemsEnglish) {
    struct Names : IComboBox {
        void AddString(const std::string&) override {}
    } names;
    session.ListVideoDevices(&names);
    ASSERT_EQ(session.BuildGraph(0, -1, -1, &owner), S_OK);
    // Where no Chinese locale is installed the C library says "No such file or directory".
    Refuses(folder / "missing" / "capture.avi", "文件或文件夹不存在");
    Refuses(folder.Path(), "它是一个文件夹");
    Refuses("/dev/full", "它不是普通文件");

    StorePath(settings.videoFilePath, "");
    messages.clear();
    EXPECT_FALSE(session.StartRecording());
    EXPECT_EQ(messages, std::vector<std::string>{"还没有设置录相文件。请先在“选项”中选择一个。"});
}

// What a take has written reaches the disk every few seconds, and once more
// at its end, from a thread of its own.
TEST(RecordingFlusher, SyncsUntilStoppedThenOnceMore) {
    const fs::path path = fs::path(::testing::TempDir()) / "lumora-flushed.avi";
    auto file = std::make_shared<UniqueFd>(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    ASSERT_TRUE(file->Valid());
    CRecordingFlusher flusher;
    flusher.Start(file, std::chrono::milliseconds(5));
    EXPECT_TRUE(WaitUntil([&] { return flusher.SyncCount() >= 2; }, 5));

    // A take shorter than the interval is synced once, at its end.
    flusher.Start(file, std::chrono::hours(1));
    EXPECT_EQ(flusher.SyncCount(), 0u);
    flusher.Stop();
    EXPECT_TRUE(WaitUntil([&] { return flusher.SyncCount() == 1; }, 5));

    // The flusher keeps the descriptor it syncs: the caller may let go first.
    flusher.Start(file, std::chrono::milliseconds(5));
    file.reset();
    EXPECT_TRUE(WaitUntil([&] { return flusher.SyncCount() >= 1; }, 5));
    flusher.Start(std::make_shared<UniqueFd>(), std::chrono::milliseconds(5));  // nothing to sync: no thread
    EXPECT_EQ(flusher.SyncCount(), 0u);
    fs::remove(path);
}

}  // namespace

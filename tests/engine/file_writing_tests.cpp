// The shared file pieces: what a planted link, a taken temporary name, a
// special file or a full disk do to a write, a copy and a read.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "base/FileWriting.h"
#include "base/SystemErrorText.h"
#include "tests/engine/FileTestHelpers.h"

using namespace file_tests;

namespace {

const std::string kVictim = "the victim's own bytes";

bool WriteText(const fs::path& path, const std::string& text, ExistingName existing, FileError* error,
               bool sync = false) {
    const WriteBlock block{text.data(), text.size()};
    AtomicWriteOptions options;
    options.existing = existing;
    options.sync = sync;
    return WriteFileAtomically(path.string(), &block, 1, options, error);
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uint64_t FixedName() { return 0xabc; }

class FileWriting : public ::testing::Test {
protected:
    void SetUp() override { Write(victim, kVictim); }
    void TearDown() override { SetTemporaryNameSource(nullptr); }

    ScratchFolder folder{"files"};
    ScratchFolder elsewhere{"victims"};
    fs::path victim = elsewhere / "victim";
};

TEST_F(FileWriting, AScratchFileReplacesALinkAtItsNameInsteadOfWritingThroughIt) {
    fs::create_symlink(victim, folder / "temp.bmp");
    FileError error;
    ASSERT_TRUE(WriteText(folder / "temp.bmp", "new picture", ExistingName::AnyEntry, &error)) << error.Text();
    EXPECT_FALSE(IsLink(folder / "temp.bmp"));
    EXPECT_EQ(Bytes(folder / "temp.bmp"), "new picture");
    EXPECT_EQ(Bytes(victim), kVictim);
    EXPECT_EQ(Names(folder.Path()), std::vector<std::string>{"temp.bmp"});  // no temporary left
}

TEST_F(FileWriting, AUsersFileRefusesALinkOrASpecialFileAndLeavesItAlone) {
    fs::create_symlink(victim, folder / "setting.ini");
    FileError error;
    EXPECT_FALSE(WriteText(folder / "setting.ini", "record", ExistingName::OnlyRegularFile, &error, true));
    EXPECT_EQ(error.reason, kSymbolicLinkReason);
    EXPECT_EQ(error.path, (folder / "setting.ini").string());
    EXPECT_TRUE(IsLink(folder / "setting.ini"));
    EXPECT_EQ(Bytes(victim), kVictim);

    fs::remove(folder / "setting.ini");
    ASSERT_EQ(::mkfifo((folder / "setting.ini").c_str(), 0644), 0);
    EXPECT_FALSE(WriteText(folder / "setting.ini", "record", ExistingName::OnlyRegularFile, &error));
    EXPECT_EQ(error.reason, kNotRegularReason);
    EXPECT_EQ(Names(folder.Path()), std::vector<std::string>{"setting.ini"});
}

TEST_F(FileWriting, ATakenTemporaryNameIsPassedOverNeverWrittenThrough) {
    // The next temporary names are known: a link waits at the first.
    SetTemporaryNameSource(&FixedName);
    const fs::path planted = folder / ".temp.jpg.000000000abc";
    fs::create_symlink(victim, planted);
    FileError error;
    EXPECT_FALSE(WriteText(folder / "temp.jpg", "jpeg", ExistingName::AnyEntry, &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_FALSE(fs::exists(folder / "temp.jpg"));

    SetTemporaryNameSource(nullptr);
    ASSERT_TRUE(WriteText(folder / "temp.jpg", "jpeg", ExistingName::AnyEntry, &error)) << error.Text();
    EXPECT_EQ(Bytes(folder / "temp.jpg"), "jpeg");
    EXPECT_TRUE(IsLink(planted));
    EXPECT_EQ(Bytes(victim), kVictim);
}

TEST_F(FileWriting, AReplacedFileKeepsItsPermissionsANewOneFollowsTheUmask) {
    Write(folder / "setting.ini", "old");
    fs::permissions(folder / "setting.ini", fs::perms::owner_read | fs::perms::owner_write);
    FileError error;
    ASSERT_TRUE(WriteText(folder / "setting.ini", "new", ExistingName::OnlyRegularFile, &error));
    EXPECT_EQ(fs::status(folder / "setting.ini").permissions(), fs::perms::owner_read | fs::perms::owner_write);

    const mode_t mask = ::umask(022);
    ASSERT_TRUE(WriteText(folder / "fresh", "new", ExistingName::OnlyRegularFile, &error));
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat((folder / "fresh").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST_F(FileWriting, AFullDiskIsReportedAndTheOldFileStaysWhole) {
    Write(folder / "setting.ini", "old content");
    const std::string big(64 * 1024, 'x');
    FileError error;
    {
        ScopedFileSizeLimit limit(4096);
        EXPECT_FALSE(WriteText(folder / "setting.ini", big, ExistingName::OnlyRegularFile, &error));
    }
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_EQ(error.Text(), error.action + "“" + (folder / "setting.ini").string() + "”：文件太大");
    EXPECT_EQ(Bytes(folder / "setting.ini"), "old content");
    EXPECT_EQ(Names(folder.Path()), std::vector<std::string>{"setting.ini"});
}

TEST_F(FileWriting, NewFilesSkipALinkAtTheirNameAndReadTheSourceNotThroughOne) {
    Write(folder / "temp.bmp", "picture");
    fs::create_directories(folder / "photos");
    const std::string stem = (folder / "photos" / "20240101 120000").string();
    fs::create_symlink(victim, stem + ".bmp");
    std::string stored;
    FileError error;
    ASSERT_TRUE(CopyToNewFile((folder / "temp.bmp").string(), stem, ".bmp", &stored, &error)) << error.Text();
    EXPECT_EQ(stored, stem + "-2.bmp");
    EXPECT_EQ(Bytes(stored), "picture");
    EXPECT_EQ(Bytes(victim), kVictim);

    // A source that is a link is not copied.
    fs::remove(folder / "temp.bmp");
    fs::create_symlink(victim, folder / "temp.bmp");
    EXPECT_FALSE(CopyToNewFile((folder / "temp.bmp").string(), stem, ".bmp", &stored, &error));
    EXPECT_EQ(error.reason, kSymbolicLinkReason);
    EXPECT_FALSE(fs::exists(stem + "-3.bmp"));
}

TEST_F(FileWriting, ReadingRefusesSpecialFilesWithoutBlocking) {
    const fs::path fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    FileError error;
    bool valid = true;
    EXPECT_TRUE(FinishesPromptly([&] { valid = OpenRegularFileForReading(fifo.string(), Links::Follow, &error).Valid(); },
                                 [&] { return OpenOtherEnd(fifo, O_WRONLY); }));
    EXPECT_FALSE(valid);
    EXPECT_EQ(error.reason, kNotRegularReason);

    BoundSocket socket(folder / "socket");
    ASSERT_TRUE(socket.Bound());
    EXPECT_FALSE(OpenRegularFileForReading((folder / "socket").string(), Links::Follow, &error).Valid());
    EXPECT_EQ(error.reason, kNotRegularReason);
    EXPECT_FALSE(OpenRegularFileForReading("/dev/null", Links::Follow, &error).Valid());
    EXPECT_EQ(error.reason, kNotRegularReason);
    EXPECT_FALSE(OpenRegularFileForReading(folder.Path().string(), Links::Follow, &error).Valid());
    EXPECT_EQ(error.code, EISDIR);

    // A link: followed only when asked.
    fs::create_symlink(victim, folder / "link");
    EXPECT_FALSE(OpenRegularFileForReading((folder / "link").string(), Links::Refuse, &error).Valid());
    EXPECT_EQ(error.reason, kSymbolicLinkReason);
    const UniqueFd fd = OpenRegularFileForReading((folder / "link").string(), Links::Follow, &error);
    ASSERT_TRUE(fd.Valid());
    std::string bytes;
    ASSERT_TRUE(ReadUpTo(fd.Get(), 10, bytes));
    EXPECT_EQ(bytes, kVictim.substr(0, 10));
}

}  // namespace

TEST(FileErrorText, SaysWhatFailedAndWhyInChinese) {
    FileError error;
    EXPECT_FALSE(OpenRegularFileForReading("/nonexistent/setting.ini", Links::Refuse, &error).Valid());
    EXPECT_EQ(error.Text(), "无法读取“/nonexistent/setting.ini”：文件或文件夹不存在");
    EXPECT_EQ(SystemErrorText(EACCES), "没有权限");
    EXPECT_EQ(SystemErrorText(ENOSPC), "磁盘空间不足");
    // A code without its own text still says which one it was.
    EXPECT_EQ(SystemErrorText(EDOM).rfind("系统错误 " + std::to_string(EDOM), 0), 0u);
}

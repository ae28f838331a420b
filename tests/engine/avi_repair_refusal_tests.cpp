// What a repair refuses, and what it leaves when it fails: the file as it
// was, and nothing beside it.

#include <sys/mount.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <random>

#include "tests/engine/AviRepairHelpers.h"

using namespace repair_tests;
using file_tests::Bytes;
using file_tests::FinishesPromptly;
using file_tests::IsLink;
using file_tests::OpenOtherEnd;
using file_tests::ScopedFileSizeLimit;
using file_tests::ScratchFolder;
using file_tests::Write;

namespace {

// A recording of ours that stops in the middle of a picture.
void MakeUnfinished(const fs::path& file) {
    Record(RecordingRecipe{}, file);
    fs::resize_file(file, fs::file_size(file) * 2 / 3 + 3);
}

std::string Wav() {
    std::string wav = "RIFF";
    const auto add32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) wav += static_cast<char>(v >> (8 * i)); };
    add32(36 + 400);
    wav += "WAVEfmt ";
    add32(16);
    wav += std::string("\x01\x00\x01\x00", 4);
    add32(8000);
    add32(16000);
    wav += std::string("\x02\x00\x10\x00", 4);
    wav += "data";
    add32(400);
    return wav + std::string(400, '\x10');
}

}  // namespace

TEST(AviRepairRefusal, FilesNotRecordedHereAreLeftAsTheyAre) {
    ScratchFolder folder("repair-foreign");
    std::mt19937 random(42);
    std::string noise(200000, '\0');
    for (char& c : noise) c = static_cast<char>(random());

    // An unfinished AVI of another program: the same muxer, no mark.
    RecordingRecipe foreign;
    foreign.ours = false;
    Record(foreign, folder / "foreign.avi");
    fs::resize_file(folder / "foreign.avi", fs::file_size(folder / "foreign.avi") / 2);
    // One of ours cut inside its header.
    Record(RecordingRecipe{}, folder / "header.avi");
    fs::resize_file(folder / "header.avi", 700);

    Write(folder / "noise.avi", noise);
    Write(folder / "sound.wav", Wav());
    Write(folder / "empty.avi", "");
    Write(folder / "riff.avi", std::string("RIFF\x10\0\0\0AVI LIST", 16));
    const std::vector<std::string> names = {"foreign.avi", "header.avi", "noise.avi", "sound.wav", "empty.avi", "riff.avi"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string before = Bytes(folder / name);
        const RepairReport report = RepairRecording((folder / name).string());
        EXPECT_EQ(report.status, RepairStatus::NotOurs);
        EXPECT_FALSE(report.reason.empty());
        EXPECT_EQ(Bytes(folder / name), before);
    }
    EXPECT_EQ(RepairRecording((folder / "foreign.avi").string()).reason, "文件头里没有本程序的标记");
    EXPECT_EQ(RepairRecording((folder / "header.avi").string()).reason, "文件头不完整");
    EXPECT_EQ(RepairRecording((folder / "sound.wav").string()).reason, "它不是 AVI 文件");
    EXPECT_EQ(Strays(folder.Path(), names), std::vector<std::string>{});
}

TEST(AviRepairRefusal, LinksAndSpecialFilesAreRefusedWithoutBlocking) {
    ScratchFolder folder("repair-special");
    const fs::path target = folder / "unfinished.avi";
    MakeUnfinished(target);
    const std::string before = Bytes(target);
    const fs::path link = folder / "link.avi";
    fs::create_symlink(target, link);
    RepairReport report = RepairRecording(link.string());
    EXPECT_EQ(report.status, RepairStatus::NotOurs);
    EXPECT_EQ(report.reason, "它是一个符号链接");
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(Bytes(target), before);

    const fs::path fifo = folder / "fifo.avi";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(FinishesPromptly([&] { report = RepairRecording(fifo.string()); },
                                 [&] { return OpenOtherEnd(fifo, O_WRONLY); }));
    EXPECT_EQ(report.status, RepairStatus::NotOurs);
    EXPECT_EQ(report.reason, "它不是普通文件");

    fs::create_directory(folder / "folder.avi");
    EXPECT_EQ(RepairRecording((folder / "folder.avi").string()).reason, "它是一个文件夹");
    report = RepairRecording((folder / "missing.avi").string());
    EXPECT_EQ(report.status, RepairStatus::NotOurs);
    EXPECT_NE(report.reason.find("读不出文件"), std::string::npos) << report.reason;
    EXPECT_EQ(Strays(folder.Path(), {"unfinished.avi", "link.avi", "fifo.avi", "folder.avi"}),
              std::vector<std::string>{});
    // The link's target itself is repaired when named.
    EXPECT_EQ(RepairRecording(target.string()).status, RepairStatus::Repaired);
}

// The disk fills up (a file size limit: EFBIG) while the copy is written.
TEST(AviRepairRefusal, AFailedWriteLeavesTheDamagedFileAndNoTemporary) {
    ScratchFolder folder("repair-full");
    const fs::path file = folder / "unfinished.avi";
    MakeUnfinished(file);
    const std::string before = Bytes(file);
    RepairReport report;
    {
        ScopedFileSizeLimit limit(before.size() / 2);
        report = RepairRecording(file.string());
    }
    EXPECT_EQ(report.status, RepairStatus::Failed);
    EXPECT_NE(report.reason.find("写不出修复后的文件"), std::string::npos) << report.reason;
    EXPECT_EQ(Bytes(file), before);
    EXPECT_EQ(Strays(folder.Path(), {"unfinished.avi"}), std::vector<std::string>{});

    // A folder nobody may write to (root may: skipped then).
    if (::geteuid() != 0) {
        fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
        report = RepairRecording(file.string());
        fs::permissions(folder.Path(), fs::perms::owner_all);
        EXPECT_EQ(report.status, RepairStatus::Failed);
        EXPECT_EQ(Bytes(file), before);
    }
    EXPECT_EQ(Strays(folder.Path(), {"unfinished.avi"}), std::vector<std::string>{});
    // The mode of the user's file survives a repair.
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(RepairRecording(file.string()).status, RepairStatus::Repaired);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

// A take that filled its disk: no copy fits beside it, so the repair is
// written where the file lies, dropping what the index needs room for.
TEST(AviRepairRefusal, ATakeThatFilledItsDiskIsRepairedWhereItLies) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    ScratchFolder folder("repair-full-disk");
    const fs::path finished = folder / "finished.avi";
    Record(RecordingRecipe{}, finished);
    const uint64_t cut = fs::file_size(finished) * 2 / 3 + 3;
    const std::vector<AviChunk> whole = WholeBefore(ListMovieChunks(finished.string()), cut);
    const fs::path disk = folder / "disk", file = disk / "take.avi";
    fs::create_directory(disk);
    ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, ("size=" + std::to_string(cut + 65536)).c_str()), 0);
    const std::unique_ptr<const char, int (*)(const char*)> unmount(disk.c_str(), ::umount);
    Write(file, Bytes(finished).substr(0, cut));
    for (std::ofstream filler(disk / "filler"); filler << std::string(4096, 'f') << std::flush;) {}
    const RepairReport report = RepairRecording(file.string());
    ASSERT_EQ(report.status, RepairStatus::Repaired) << report.reason;
    EXPECT_GE(report.pictures + 2, static_cast<uint64_t>(Pictures(whole)));
    EXPECT_EQ(IndexProblems(file.string()), "");
    EXPECT_TRUE(DecodesCleanly(file));
    EXPECT_EQ(RepairRecording(file.string()).status, RepairStatus::NothingToDo);
}

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include <unistd.h>

#include "settings/SettingsFile.h"
#include "base/FileWriting.h"
#include "base/SystemErrorText.h"
#include "base/Utf8.h"
#include "tests/SettingsBytes.h"
#include "tests/engine/FileTestHelpers.h"

namespace fs = std::filesystem;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lumora_settings_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        savedDirectory = appDirectory;
        appDirectory = dir.string();
        settings = SettingsRecord{};
        SetSettingsErrorHandler([this](const std::string& message) { reported.push_back(message); });
    }
    void TearDown() override
    {
        SetSettingsErrorHandler(nullptr);
        appDirectory = savedDirectory;
        settings = SettingsRecord{};
        fs::remove_all(dir);
    }
    fs::path IniPath() const { return dir / "setting.ini"; }

    fs::path dir;
    std::string savedDirectory;
    std::vector<std::string> reported;
};

TEST_F(SettingsFileTest, FileNameIsPlainConcatenation)
{
    appDirectory = "/";
    EXPECT_EQ(SettingsFilePath(), "//setting.ini");
    appDirectory = "/home/x";
    EXPECT_EQ(SettingsFilePath(), "/home/x/setting.ini");
}

TEST_F(SettingsFileTest, EmptyFileGivesEmptyPathsAndBmp)
{
    WriteBytes(IniPath(), {});
    ASSERT_TRUE(LoadSettings().ok);
    EXPECT_EQ(ReadPath(settings.videoFilePath), "");
    EXPECT_EQ(ReadPath(settings.photoFolder), "");
    EXPECT_EQ(settings.photoFormat, 0);
    EXPECT_EQ(fs::file_size(IniPath()), 0u);  // loading never writes
}

// Paths the program cannot use (empty, relative, not UTF-8) stand for the
// defaults; the record keeps its bytes and the file is not rewritten.
TEST_F(SettingsFileTest, UnusablePathsMeanTheDefaults)
{
    std::vector<char> noise(100, '\xa7'), relative(524, 0), notUtf8(524, 0);
    std::strcpy(relative.data(), "capture.avi");
    std::strcpy(relative.data() + 260, "/photos");
    std::strcpy(notUtf8.data(), "/take\xff\xfe.avi");
    const std::pair<std::vector<char>, bool> cases[] = {{{}, false}, {noise, true}, {relative, true}, {notUtf8, true}};
    for (const auto& [bytes, said] : cases) {
        WriteBytes(IniPath(), bytes);
        const SettingsResult result = LoadSettings();
        EXPECT_EQ(CurrentVideoFilePath(), dir.string() + "/capture.avi");
        EXPECT_EQ(CurrentPhotoFolder(), bytes == relative ? "/photos" : dir.string());
        EXPECT_EQ(result.notice.find(IniPath().string()) != std::string::npos, said) << result.notice;
        EXPECT_TRUE(IsValidUtf8(result.notice));  // names the file, not its bytes
        EXPECT_EQ(ReadBytes(IniPath()), bytes);
    }
}

TEST_F(SettingsFileTest, ShortFileFillsOnlyLeadingBytes)
{
    std::vector<char> bytes(300, 'a');
    WriteBytes(IniPath(), bytes);
    ASSERT_TRUE(LoadSettings().ok);
    const std::vector<char> record = RecordBytes();
    for (std::size_t i = 0; i < 300; ++i)
        ASSERT_EQ(record[i], 'a') << i;
    for (std::size_t i = 300; i < 524; ++i)
        ASSERT_EQ(record[i], 0) << i;
    EXPECT_EQ(ReadPath(settings.videoFilePath), std::string(260, 'a'));  // no NUL: stops at the field end
    EXPECT_EQ(ReadPath(settings.photoFolder), std::string(40, 'a'));
    EXPECT_EQ(settings.photoFormat, 0);
}

TEST_F(SettingsFileTest, LongFileUsesFirst524BytesAndSaveCutsIt)
{
    std::vector<char> bytes(600);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 1);
    WriteBytes(IniPath(), bytes);
    ASSERT_TRUE(LoadSettings().ok);
    EXPECT_EQ(RecordBytes(), std::vector<char>(bytes.begin(), bytes.begin() + 524));
    ASSERT_TRUE(SaveSettings().ok);
    EXPECT_EQ(ReadBytes(IniPath()), std::vector<char>(bytes.begin(), bytes.begin() + 524));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no temporary left
}

TEST_F(SettingsFileTest, ShorterPathKeepsOldTailInMemoryAndFile)
{
    WriteBytes(IniPath(), {});
    ASSERT_TRUE(LoadSettings().ok);
    StorePath(settings.videoFilePath, "/long/path/to/recording.avi");
    ASSERT_TRUE(SaveSettings().ok);
    StorePath(settings.videoFilePath, "/a.avi");
    ASSERT_TRUE(SaveSettings().ok);

    EXPECT_EQ(ReadPath(settings.videoFilePath), "/a.avi");
    const std::string expectedField = std::string("/a.avi") + '\0' + std::string("/long/path/to/recording.avi").substr(7);
    EXPECT_EQ(std::string(settings.videoFilePath, expectedField.size()), expectedField);
    const std::vector<char> file = ReadBytes(IniPath());
    ASSERT_EQ(file.size(), 524u);
    EXPECT_EQ(file, RecordBytes());
}

TEST_F(SettingsFileTest, OtherFormatValuesStayAsStored)
{
    std::vector<char> bytes(524, 0);
    const int32_t two = 2;
    std::memcpy(bytes.data() + 520, &two, 4);
    WriteBytes(IniPath(), bytes);
    ASSERT_TRUE(LoadSettings().ok);
    EXPECT_EQ(settings.photoFormat, 2);
    ASSERT_TRUE(SaveSettings().ok);
    EXPECT_EQ(ReadBytes(IniPath()), bytes);
}

TEST_F(SettingsFileTest, MissingFileIsCreatedWithDefaults)
{
    const SettingsResult result = LoadSettings();
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(ReadPath(settings.videoFilePath), dir.string() + "/capture.avi");
    EXPECT_EQ(ReadPath(settings.photoFolder), dir.string());
    EXPECT_EQ(settings.photoFormat, 1);

    SettingsRecord expected{};
    std::strcpy(expected.videoFilePath, (dir.string() + "/capture.avi").c_str());
    std::strcpy(expected.photoFolder, dir.string().c_str());
    expected.photoFormat = 1;
    const char* begin = reinterpret_cast<const char*>(&expected);
    EXPECT_EQ(ReadBytes(IniPath()), std::vector<char>(begin, begin + 524));
}

TEST_F(SettingsFileTest, MissingFileInMissingFolderReportsCreationFailure)
{
    appDirectory = (dir / "gone").string();
    const SettingsResult result = LoadSettings();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(appDirectory + "/setting.ini"), std::string::npos);
    EXPECT_EQ(settings.photoFormat, 1);  // defaults still usable in memory
}

TEST_F(SettingsFileTest, UnreadableFileGivesMessageAndDefaultsAndStaysUntouched)
{
    fs::create_directory(IniPath());  // a directory of that name cannot be read as a file
    const SettingsResult result = LoadSettings();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(IniPath().string()), std::string::npos);
    EXPECT_NE(result.message.find(SystemErrorText(EISDIR)), std::string::npos);
    EXPECT_EQ(ReadPath(settings.photoFolder), dir.string());
    EXPECT_EQ(settings.photoFormat, 1);
    EXPECT_TRUE(fs::is_directory(IniPath()));
}

TEST_F(SettingsFileTest, PermissionDeniedIsReported)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files without permission";
    WriteBytes(IniPath(), std::vector<char>(524, 'x'));
    fs::permissions(IniPath(), fs::perms::none);
    const SettingsResult result = LoadSettings();
    fs::permissions(IniPath(), fs::perms::owner_all);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(SystemErrorText(EACCES)), std::string::npos);
    EXPECT_EQ(ReadBytes(IniPath()), std::vector<char>(524, 'x'));
}

TEST_F(SettingsFileTest, FailedSaveReportsKeepsValueAndOldFile)
{
    std::vector<char> old(524, 0);
    WriteBytes(IniPath(), old);
    ASSERT_TRUE(LoadSettings().ok);

    // The file slot is taken by a directory: rename over it must fail.
    fs::remove(IniPath());
    fs::create_directory(IniPath());
    StorePath(settings.photoFolder, "/new/folder");
    SettingsResult result = SaveSettings();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(IniPath().string()), std::string::npos);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], result.message);
    EXPECT_EQ(ReadPath(settings.photoFolder), "/new/folder");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no temporary left

    // A missing folder fails at the open, naming the path and the reason.
    appDirectory = (dir / "missing").string();
    result = SaveSettings();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(appDirectory + "/setting.ini"), std::string::npos);
    EXPECT_NE(result.message.find(SystemErrorText(ENOENT)), std::string::npos);
    EXPECT_EQ(reported.size(), 2u);
}

TEST_F(SettingsFileTest, FailedSaveLeavesOldContent)
{
    std::vector<char> old(524, 'o');
    WriteBytes(IniPath(), old);
    ASSERT_TRUE(LoadSettings().ok);
    // Every temporary name taken, so the save fails before touching setting.ini.
    SetTemporaryNameSource([]() -> uint64_t { return 7; });
    fs::create_directory(dir / ".setting.ini.000000000007");
    StorePath(settings.videoFilePath, "/x.avi");
    EXPECT_FALSE(SaveSettings().ok);
    SetTemporaryNameSource(nullptr);
    EXPECT_EQ(ReadBytes(IniPath()), old);
    EXPECT_EQ(ReadPath(settings.videoFilePath), "/x.avi");
}

TEST_F(SettingsFileTest, ALinkNamedSettingIniIsNeverWrittenThrough)
{
    const fs::path victim = dir / "elsewhere";
    WriteBytes(victim, std::vector<char>(100, 'v'));
    fs::create_symlink(victim, IniPath());
    fs::create_symlink(victim, dir / "setting.ini.tmp");  // the old temporary's name
    const SettingsResult loaded = LoadSettings();
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(settings.photoFormat, 1);  // defaults in memory

    StorePath(settings.photoFolder, "/chosen");
    const SettingsResult saved = SaveSettings();
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.message.find(IniPath().string()), std::string::npos) << saved.message;
    EXPECT_NE(saved.message.find(kSymbolicLinkReason), std::string::npos) << saved.message;
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(IniPath())));
    EXPECT_EQ(ReadBytes(victim), std::vector<char>(100, 'v'));

    // Dangling: the first start creates nothing at its target.
    fs::remove(victim);
    EXPECT_FALSE(LoadSettings().ok);
    EXPECT_FALSE(SaveSettings().ok);
    EXPECT_FALSE(fs::exists(victim));
}

TEST_F(SettingsFileTest, AFifoOrSocketNamedSettingIniIsReportedAtOnce)
{
    ASSERT_EQ(::mkfifo(IniPath().c_str(), 0644), 0);
    SettingsResult result;
    EXPECT_TRUE(file_tests::FinishesPromptly([&] { result = LoadSettings(); },
                                             [&] { return file_tests::OpenOtherEnd(IniPath(), O_WRONLY); }));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("无法读取设置文件“" + IniPath().string() + "”"),
              std::string::npos)
        << result.message;
    EXPECT_EQ(settings.photoFormat, 1);
    EXPECT_EQ(fs::status(IniPath()).type(), fs::file_type::fifo);  // not replaced

    fs::remove(IniPath());
    file_tests::BoundSocket socket(IniPath());
    ASSERT_TRUE(socket.Bound());
    result = LoadSettings();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(IniPath().string()), std::string::npos);
    EXPECT_EQ(fs::status(IniPath()).type(), fs::file_type::socket);
}

TEST(SettingsPathTest, StorePathRefusesLongPathsAndKeepsTheOldOne)
{
    char field[kPathBufferSize];
    std::memset(field, 'z', sizeof field);
    ASSERT_TRUE(StorePath(field, "/old.avi"));
    const std::vector<char> before(field, field + sizeof field);

    // A cut name would be another file: the field stays as it was.
    EXPECT_FALSE(StorePath(field, std::string(300, 'b')));
    EXPECT_EQ(std::vector<char>(field, field + sizeof field), before);
    // Bytes count, not characters: 87 Chinese characters are 261 bytes.
    std::string chinese;
    for (int i = 0; i < 87; ++i) chinese += "照";
    EXPECT_FALSE(PathFitsRecord(chinese));
    EXPECT_FALSE(StorePath(field, chinese));
    EXPECT_FALSE(StorePath(field, std::string(260, 'c')));
    EXPECT_EQ(std::vector<char>(field, field + sizeof field), before);

    // Exactly 259 bytes fit with the NUL.
    EXPECT_TRUE(StorePath(field, std::string(256, 'd') + "照"));
    EXPECT_EQ(ReadPath(field), std::string(256, 'd') + "照");

    const std::string message = PathTooLongMessage(std::string(300, 'b'));
    EXPECT_NE(message.find("259"), std::string::npos) << message;
    EXPECT_NE(message.find("300"), std::string::npos) << message;
    EXPECT_NE(message.find("路径太长"), std::string::npos) << message;
}

TEST(SettingsPathTest, StorePathLeavesBytesBehindTheNul)
{
    char field[kPathBufferSize];
    std::memset(field, 'q', sizeof field);
    StorePath(field, "abc");
    EXPECT_EQ(std::string(field, 5), std::string("abc\0q", 5));
    EXPECT_EQ(field[259], 'q');
}

TEST_F(SettingsFileTest, RandomFilesLoadAndPathsStayInsideTheirFields)
{
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> size(0, 2000);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> zeroOdds(0, 9);
    for (int round = 0; round < 300; ++round) {
        std::vector<char> bytes(static_cast<std::size_t>(size(random)));
        for (char& b : bytes)
            b = zeroOdds(random) == 0 ? '\0' : static_cast<char>(byte(random));
        WriteBytes(IniPath(), bytes);
        settings = SettingsRecord{};
        ASSERT_TRUE(LoadSettings().ok);
        const std::size_t used = std::min<std::size_t>(bytes.size(), 524);
        ASSERT_EQ(std::memcmp(&settings, bytes.data(), used), 0);
        EXPECT_LE(ReadPath(settings.videoFilePath).size(), kPathBufferSize);
        EXPECT_LE(ReadPath(settings.photoFolder).size(), kPathBufferSize);
        const std::string video = ReadPath(settings.videoFilePath);
        EXPECT_EQ(std::memcmp(video.data(), settings.videoFilePath, video.size()), 0);
    }
}

}  // namespace

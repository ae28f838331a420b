// Photos from the grabber: the bitmap's bytes, the names, JPEG, and what a
// failure leaves behind (nothing half-made, and a message).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <thread>
#include <fstream>
#include <iterator>

#include "base/FileWriting.h"
#include "settings/SettingsFile.h"
#include "snapshot/GrabberCallback.h"
#include "snapshot/JpegConversion.h"
#include "tests/WaitFor.h"

namespace fs = std::filesystem;

namespace {

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Snapshot : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::path(::testing::TempDir()) / ("lumora-snap-" + std::to_string(::getpid()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder / "photos");
        appDirectory = folder.string();
        StorePath(settings.photoFolder, (folder / "photos").string());
        settings.photoFormat = 0;
        grabberCallback.frameWidth = 4;
        grabberCallback.frameHeight = 2;
        grabberCallback.SetJpegConverter(nullptr);
        grabberCallback.SetPhotoHandlers([this](const std::string& why) { failures.push_back(why); },
                                         [this](const std::string& path) { stored.push_back(path); });
        snapshotArmed = 0;
    }
    void TearDown() override {
        grabberCallback.SetPhotoHandlers(nullptr, nullptr);
        grabberCallback.SetJpegConverter(nullptr);
        fs::remove_all(folder);
    }

    std::vector<fs::path> Photos() const {
        std::vector<fs::path> found;
        if (fs::exists(folder / "photos"))
            for (const auto& entry : fs::directory_iterator(folder / "photos")) found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        return found;
    }

    // The photo is written on a thread of its own: the flag drops once it was.
    HRESULT Take(std::vector<uint8_t>& frame) {
        snapshotArmed = 1;
        const HRESULT hr = grabberCallback.BufferCB(0.0, frame.data(), static_cast<int32_t>(frame.size()));
        WaitUntil([] { return snapshotArmed.load() == 0; }, 10.0);
        return hr;
    }

    // A w x h frame, bottom-up rows of 4-byte multiples: the top half red, the bottom half blue.
    static std::vector<uint8_t> Frame(int w, int h) {
        const int stride = (w * 3 + 3) & ~3;
        std::vector<uint8_t> frame(static_cast<std::size_t>(stride) * h, 0);
        for (int row = 0; row < h; ++row)
            for (int x = 0; x < w; ++x) {
                uint8_t* px = &frame[static_cast<std::size_t>(row) * stride + x * 3];
                const bool top = row >= h / 2;  // bottom-up: the last rows are the top
                px[0] = top ? 0 : 255;
                px[2] = top ? 255 : 0;
            }
        return frame;
    }

    fs::path folder;
    std::vector<std::string> failures, stored;
};

TEST_F(Snapshot, TheBitmapHasTheExactHeaderAndThePixelsUnchanged) {
    std::vector<uint8_t> frame(30);  // not 4 x 2 x 3 (rows filled to 12 bytes, plus extra)
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(Take(frame), S_OK);
    EXPECT_EQ(snapshotArmed.load(), 0);

    const std::string bmp = Bytes(folder / "temp.bmp");
    ASSERT_EQ(bmp.size(), 54u + 30u);
    const uint8_t expected[54] = {'B', 'M', 84, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
    EXPECT_EQ(std::memcmp(bmp.data(), expected, 54), 0);
    EXPECT_EQ(std::memcmp(bmp.data() + 54, frame.data(), frame.size()), 0);

    const auto photos = Photos();
    ASSERT_EQ(photos.size(), 1u);
    EXPECT_EQ(Bytes(photos[0]), bmp);
    // "YYYYmmdd HHMMSS.bmp"
    const std::string name = photos[0].filename().string();
    ASSERT_EQ(name.size(), 19u);
    EXPECT_EQ(name[8], ' ');
    EXPECT_EQ(name.substr(15), ".bmp");
    EXPECT_EQ(stored, std::vector<std::string>{photos[0].string()});
}

TEST_F(Snapshot, UnarmedFramesWriteNothingAndANullBufferKeepsTheFlag) {
    std::vector<uint8_t> frame = Frame(4, 2);
    snapshotArmed = 0;
    EXPECT_EQ(grabberCallback.BufferCB(0.0, frame.data(), 24), S_OK);
    EXPECT_FALSE(fs::exists(folder / "temp.bmp"));
    snapshotArmed = 1;
    EXPECT_EQ(grabberCallback.BufferCB(0.0, nullptr, 24), E_POINTER);
    EXPECT_EQ(snapshotArmed.load(), 1);
    EXPECT_TRUE(Photos().empty());
    EXPECT_EQ(grabberCallback.SampleCB(0.0, nullptr), S_OK);
}

TEST_F(Snapshot, TwoPhotosInOneSecondAreBothKept) {
    std::vector<uint8_t> frame = Frame(4, 2);
    // Three in a row usually share a second; whatever the clock does, none replaces another.
    for (int i = 0; i < 3; ++i) Take(frame);
    const auto photos = Photos();
    ASSERT_EQ(photos.size(), 3u);
    bool sawSuffix = false;
    for (const auto& p : photos) sawSuffix |= p.filename().string().find("-2.bmp") != std::string::npos;
    if (photos[0].filename().string().substr(0, 15) == photos[2].filename().string().substr(0, 15)) {
        EXPECT_TRUE(sawSuffix);
    }
    EXPECT_TRUE(failures.empty());
}

TEST_F(Snapshot, JpegPhotosDecodeToTheFrameSizeUpright) {
    grabberCallback.frameWidth = 64;
    grabberCallback.frameHeight = 48;
    std::vector<uint8_t> frame = Frame(64, 48);
    for (int format : {1, 2}) {  // anything but 0 means JPEG
        settings.photoFormat = format;
        Take(frame);
    }
    const auto photos = Photos();
    ASSERT_EQ(photos.size(), 2u);
    for (const auto& photo : photos) {
        EXPECT_EQ(photo.extension(), ".jpg");
        const std::string jpeg = Bytes(photo);
        tjhandle decoder = tjInitDecompress();
        int w = 0, h = 0, sub = 0, space = 0;
        ASSERT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), &w, &h,
                                      &sub, &space),
                  0);
        EXPECT_EQ(w, 64);
        EXPECT_EQ(h, 48);
        std::vector<uint8_t> rgb(64 * 48 * 3);
        ASSERT_EQ(tjDecompress2(decoder, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), rgb.data(),
                                64, 0, 48, TJPF_RGB, 0),
                  0);
        tjDestroy(decoder);
        // Top row red, bottom row blue.
        EXPECT_GT(rgb[0], 200);
        EXPECT_LT(rgb[2], 60);
        const std::size_t bottom = (47 * 64) * 3;
        EXPECT_LT(rgb[bottom], 60);
        EXPECT_GT(rgb[bottom + 2], 200);
    }
}

TEST_F(Snapshot, AFailedConversionStoresTheBitmapNeverAStaleJpeg) {
    settings.photoFormat = 1;
    std::ofstream(folder / "temp.jpg") << "an old photo";
    grabberCallback.SetJpegConverter([] { return false; });
    std::vector<uint8_t> frame = Frame(4, 2);
    Take(frame);
    const auto photos = Photos();
    ASSERT_EQ(photos.size(), 1u);
    EXPECT_EQ(photos[0].extension(), ".bmp");
    EXPECT_EQ(failures.size(), 1u);
}

TEST_F(Snapshot, AMissingOrUnwritableFolderIsReportedAndStoresNothing) {
    std::vector<uint8_t> frame = Frame(4, 2);
    fs::remove_all(folder / "photos");
    Take(frame);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("photos"), std::string::npos);
    EXPECT_TRUE(stored.empty());
    EXPECT_EQ(snapshotArmed.load(), 0);

    // The start directory gone: temp.bmp cannot be written.
    fs::create_directories(folder / "photos");
    appDirectory = (folder / "gone").string();
    Take(frame);
    EXPECT_EQ(failures.size(), 2u);
    EXPECT_TRUE(Photos().empty());

    // Writing onto a full disk.
    appDirectory = folder.string();
    StorePath(settings.photoFolder, "/dev/full/photos");
    Take(frame);
    EXPECT_EQ(failures.size(), 3u);
}

TEST_F(Snapshot, FoldersWithSpacesCjkAndLongNames) {
    std::vector<uint8_t> frame = Frame(4, 2);
    const fs::path cjk = folder / "我的 照片";
    fs::create_directories(cjk);
    StorePath(settings.photoFolder, cjk.string());
    Take(frame);
    EXPECT_EQ(std::distance(fs::directory_iterator(cjk), fs::directory_iterator()), 1);

    // A folder path of 259 bytes: the name no longer fits a path of the
    // system's own limit, but the outcome is a photo or a report.
    std::string longPath = folder.string() + "/";
    longPath += std::string(259 - longPath.size(), 'd');
    fs::create_directories(longPath);
    StorePath(settings.photoFolder, longPath);
    failures.clear();
    stored.clear();
    Take(frame);
    EXPECT_EQ(failures.size() + stored.size(), 1u);
}

TEST_F(Snapshot, ManyPhotosLeaveNoDescriptorBehind) {
    settings.photoFormat = 1;
    grabberCallback.frameWidth = 16;
    grabberCallback.frameHeight = 8;
    std::vector<uint8_t> frame = Frame(16, 8);
    const auto count = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
    const auto before = count();
    for (int i = 0; i < 200; ++i) Take(frame);
    EXPECT_EQ(count(), before);
    EXPECT_EQ(Photos().size(), 200u);
}

TEST_F(Snapshot, SettingsAndHandlersChangeWhilePhotosAreTaken) {
    // The streaming thread takes photos while the UI thread rewrites the
    // photo settings and the handlers, as the Options dialog may.
    std::vector<uint8_t> frame = Frame(4, 2);
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        for (int i = 0; i < 100; ++i) Take(frame);
        done = true;
    });
    int flips = 0;
    while (!done) {
        {
            std::lock_guard lock(SettingsMutex());
            settings.photoFormat = flips % 2;
            StorePath(settings.photoFolder, (folder / "photos").string());
        }
        grabberCallback.SetPhotoHandlers(nullptr, nullptr);
        grabberCallback.SetJpegConverter(nullptr);
        ++flips;
    }
    streaming.join();
    EXPECT_EQ(snapshotArmed.load(), 0);
    EXPECT_FALSE(Photos().empty());
}

// The start folder may be shared: links planted at the scratch names are
// replaced by the new files, and what they point to stays as it was.
TEST_F(Snapshot, LinksAtTheScratchNamesAreReplacedNotWrittenThrough) {
    const fs::path victim = folder / "victim";
    std::ofstream(victim, std::ios::binary) << "precious";
    grabberCallback.frameWidth = 16;
    grabberCallback.frameHeight = 8;
    std::vector<uint8_t> frame = Frame(16, 8);
    // BMP; JPEG from the pixels; JPEG by the view's conversion of temp.bmp.
    for (int round = 0; round < 3; ++round) {
        settings.photoFormat = round == 0 ? 0 : 1;
        grabberCallback.SetJpegConverter(round == 2 ? std::function<bool()>([] {
            return ConvertBitmapFileToJpeg(appDirectory + "/temp.bmp", appDirectory + "/temp.jpg");
        })
                                                    : nullptr);
        for (const char* name : {"temp.bmp", "temp.jpg", "temp.jpg.part", "temp.bmp.part"}) {
            fs::remove(folder / name);
            fs::create_symlink(victim, folder / name);
        }
        Take(frame);
        EXPECT_EQ(Bytes(victim), "precious") << round;
        EXPECT_FALSE(fs::is_symlink(fs::symlink_status(folder / "temp.bmp"))) << round;
        EXPECT_EQ(Bytes(folder / "temp.bmp").size(), 54u + frame.size());
        if (round > 0) {
            EXPECT_FALSE(fs::is_symlink(fs::symlink_status(folder / "temp.jpg"))) << round;
        }
    }
    const auto photos = Photos();
    ASSERT_EQ(photos.size(), 3u);
    EXPECT_EQ(std::count_if(photos.begin(), photos.end(), [](const fs::path& p) { return p.extension() == ".jpg"; }),
              2);
    EXPECT_TRUE(failures.empty());
}

TEST(JpegConversion, ReadsNoBitmapThroughALinkOrFromAFifo) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("lumora-jpeg-links-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string error;
    fs::create_symlink("/dev/zero", dir / "temp.bmp");
    EXPECT_FALSE(ConvertBitmapFileToJpeg((dir / "temp.bmp").string(), (dir / "temp.jpg").string(), &error));
    EXPECT_NE(error.find(kSymbolicLinkReason), std::string::npos) << error;

    fs::remove(dir / "temp.bmp");
    ASSERT_EQ(::mkfifo((dir / "temp.bmp").c_str(), 0644), 0);
    EXPECT_FALSE(ConvertBitmapFileToJpeg((dir / "temp.bmp").string(), (dir / "temp.jpg").string(), &error));
    EXPECT_FALSE(fs::exists(dir / "temp.jpg"));
    fs::remove_all(dir);
}

TEST(JpegConversion, RefusesBitmapsThatAreNotWhatTheyClaim) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("lumora-jpeg-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string error;
    EXPECT_FALSE(ConvertBitmapFileToJpeg((dir / "none.bmp").string(), (dir / "out.jpg").string(), &error));
    EXPECT_FALSE(error.empty());

    // A header claiming 1000 x 1000 over a few bytes of pixels (a short file).
    std::string bmp(54 + 12, '\0');
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[26] = 1, bmp[28] = 24;
    bmp[18] = static_cast<char>(0xE8), bmp[19] = 3, bmp[22] = static_cast<char>(0xE8), bmp[23] = 3;
    std::ofstream(dir / "short.bmp", std::ios::binary) << bmp;
    EXPECT_FALSE(ConvertBitmapFileToJpeg((dir / "short.bmp").string(), (dir / "out.jpg").string(), &error));
    EXPECT_FALSE(fs::exists(dir / "out.jpg"));

    // The same header with a 2 x 2 picture converts.
    bmp[18] = 2, bmp[19] = 0, bmp[22] = 2, bmp[23] = 0;
    bmp.resize(54 + 16, '\x7f');
    std::ofstream(dir / "ok.bmp", std::ios::binary) << bmp;
    EXPECT_TRUE(ConvertBitmapFileToJpeg((dir / "ok.bmp").string(), (dir / "out.jpg").string(), &error)) << error;
    fs::remove_all(dir);
}

}  // namespace

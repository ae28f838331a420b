// The capture engine on real GStreamer pipelines, fed by the built-in test
// sources (LUMORA_TEST_SOURCES=1): listing, preview, recording into AVI, and a
// source that fails while recording.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "avi/AviRepair.h"
#include "capture/CapturePlatform.h"
#include "capture/CaptureSession.h"
#include "capture/DiskSpace.h"
#include "tests/support/gst/GstTesting.h"
#include "settings/SettingsFile.h"
#include "snapshot/GrabberCallback.h"
#include "tests/AviReader.h"
#include "tests/engine/FakePlatform.h"
#include "tests/engine/FileTestHelpers.h"
#include "tests/engine/GstSessionFixture.h"

namespace fs = std::filesystem;

namespace {

using namespace gst_session;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(GstSession, TheTestSourcesAndTheAviCompressorsAreListed) {
    ListedNames devices, videoCompressors, audioCompressors;
    ASSERT_GE(session.ListVideoDevices(&devices), 1);
    EXPECT_EQ(devices.names.back(), "Lumora Test Pattern");
    EXPECT_GE(session.ListVideoCompressors(&videoCompressors), 1);
    EXPECT_GE(videoCompressors.IndexOf("JPEG image encoder"), 0);
    EXPECT_GE(session.ListAudioCompressors(&audioCompressors), 1);
    EXPECT_GE(audioCompressors.IndexOf("A Law audio encoder"), 0);
    // Encoders whose output an AVI cannot hold are not offered.
    EXPECT_EQ(videoCompressors.IndexOf("Theora video encoder"), -1);

    unsetenv("LUMORA_TEST_SOURCES");
    ListedNames realOnly;
    session.ListVideoDevices(&realOnly);
    EXPECT_EQ(realOnly.IndexOf("Lumora Test Pattern"), -1);
    setenv("LUMORA_TEST_SOURCES", "1", 1);
}

TEST_F(GstSession, ABuildPreviewsTheTestPatternAt640x480) {
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(videoWidth, 640);
    EXPECT_EQ(videoHeight, 480);
    EXPECT_EQ(grabberCallback.frameWidth.load(), 640);
    EXPECT_EQ(grabberCallback.frameHeight.load(), 480);
    ASSERT_TRUE(WaitForFrames(5));
    EXPECT_EQ(owner.lastWidth, 640);
    EXPECT_EQ(owner.lastStride, 640 * 4);
    EXPECT_EQ(owner.placed, (WindowRect{67, 0, 733, 500}));
    EXPECT_TRUE(messages.empty());

    // Pause holds the picture; Run brings it back.
    session.Pause();
    const int paused = owner.Frames();
    ASSERT_TRUE(ToneMeterReads(5));
    EXPECT_LE(owner.Frames(), paused + 3);  // what was already queued
    session.Run();
    EXPECT_TRUE(WaitForFrames(paused + 5));
}

TEST_F(GstSession, ARecordingWithSoundGivesACompleteAvi) {
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(60));
    session.Stop();
    EXPECT_FALSE(session.RecordingActive());
    EXPECT_TRUE(messages.empty()) << messages.front();

    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_TRUE(avi.valid);
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_EQ(avi.Count("vids"), 1);
    EXPECT_EQ(avi.Count("auds"), 1);
    EXPECT_EQ(avi.width, 640u);
    EXPECT_EQ(avi.height, 480u);
    EXPECT_EQ(avi.First("vids")->handler, "MJPG");
    // As many pictures as the sound track is long, at 30 a second.
    EXPECT_NEAR(static_cast<double>(avi.totalFrames), SoundSeconds(avi) * 30, 15.0);
    EXPECT_EQ(avi.videoChunks, avi.totalFrames);
}

TEST_F(GstSession, UncompressedRecordingWithACompressedSound) {
    ASSERT_EQ(Build("", "A Law audio encoder"), S_OK);
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(30));
    session.Stop();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_TRUE(avi.valid);
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_EQ(avi.First("vids")->width, 640);
    ASSERT_NE(avi.First("auds"), nullptr);
    EXPECT_EQ(avi.First("auds")->audioFormat, 6);  // WAVE_FORMAT_ALAW
    EXPECT_GT(avi.totalFrames, 15u);
}

TEST_F(GstSession, PauseAndRunGoOnInTheSameFileAndStopThenRunLeavesItAlone) {
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    ASSERT_TRUE(session.StartRecording());
    ASSERT_TRUE(PicturesRecorded(30));
    session.Pause();
    EXPECT_TRUE(session.RecordingActive());
    Wait(0.5);  // the pause, which the file leaves out
    session.Run();
    // Record while recording keeps the recording that goes on.
    EXPECT_TRUE(session.StartRecording());
    // Two seconds' pictures in all (the timestamps' span holds the pause).
    ASSERT_TRUE(PicturesRecorded(60));
    session.Stop();

    const fs::path file = folder / "capture.avi";
    const AviInfo avi = ReadAvi(file.string());
    ASSERT_TRUE(avi.hasIndex);
    // Two seconds recorded around the pause, not counting it: the sound
    // track is as long, and the pictures fill it.
    EXPECT_NEAR(SoundSeconds(avi), 2.0, 0.25);
    EXPECT_NEAR(static_cast<double>(avi.totalFrames), SoundSeconds(avi) * 30, 6.0);

    const std::string finished = Bytes(file);
    const int before = owner.Frames();
    session.Run();
    EXPECT_TRUE(WaitForFrames(before + 10));  // previews again
    EXPECT_FALSE(session.RecordingActive());
    session.Stop();
    EXPECT_EQ(Bytes(file), finished);
    EXPECT_TRUE(messages.empty());
}

TEST_F(GstSession, ARecordingThatCannotBeWrittenIsReportedAndThePreviewGoesOn) {
    ASSERT_EQ(Build(), S_OK);
    StorePath(settings.videoFilePath, (folder / "missing" / "x.avi").string());
    EXPECT_FALSE(session.StartRecording());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("missing/x.avi"), std::string::npos);
    EXPECT_FALSE(session.RecordingActive());
    const int before = owner.Frames();
    EXPECT_TRUE(WaitForFrames(before + 5));
}

TEST_F(GstSession, ADeviceAsTheRecordingFileIsRefusedAtRecordAndThePreviewGoesOn) {
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    StorePath(settings.videoFilePath, "/dev/full");
    EXPECT_FALSE(session.StartRecording());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "无法录制到“/dev/full”：它不是普通文件。");
    EXPECT_FALSE(session.RecordingActive());
    const int before = owner.Frames();
    EXPECT_TRUE(WaitForFrames(before + 5));
}

TEST_F(GstSession, ADiskThatFillsUpWhileRecordingIsReportedAndThePreviewGoesOn) {
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    std::atomic<int> notified{0};  // from a streaming thread
    int graphStopped = 0, recordingStopped = 0;
    session.SetEventNotifier([&] { ++notified; });
    session.SetGraphStoppedHandler([&] { ++graphStopped; });
    session.SetRecordingStoppedHandler([&] { ++recordingStopped; });
    {
        // Room for the header and some pictures, then every write fails.
        file_tests::ScopedFileSizeLimit limit(1024 * 1024);
        ASSERT_TRUE(session.StartRecording());
        WaitUntil([&] { return notified.load() > 0; }, 10);
        session.ProcessPendingEvents();
        EXPECT_EQ(recordingStopped, 1);
    }
    EXPECT_EQ(graphStopped, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find((folder / "capture.avi").string()), std::string::npos) << messages[0];
    EXPECT_FALSE(session.RecordingActive());
    const int before = owner.Frames();
    EXPECT_TRUE(WaitForFrames(before + 5));
}

// Raw pictures onto a small file system: the take ends as Stop ends it,
// while the disk still holds its index, and says so in Chinese.
TEST_F(GstSession, ATakeThatFillsItsDiskEndsWithItsIndexWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    const fs::path disk = folder / "disk", file = disk / "take.avi";
    fs::create_directory(disk);
    ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=40m"), 0);
    const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(disk.c_str(), MNT_DETACH); });
    StorePath(settings.videoFilePath, file.string());
    ASSERT_EQ(Build(), S_OK);
    std::atomic<int> notified{0};  // from a streaming thread
    session.SetEventNotifier([&] { ++notified; });
    SetFreeSpaceSource([](const std::string&) { return std::optional<uint64_t>(uint64_t{1} << 40); });
    const bool started = session.StartRecording();  // past Record's check for ten seconds of room
    SetFreeSpaceSource(nullptr);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WaitUntil([&] { return notified.load() > 0; }, 20));
    session.ProcessPendingEvents();
    EXPECT_FALSE(session.RecordingActive());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "磁盘已满，录相已停止。\n到此为止的录相已保存在“" + file.string() + "”。");
    const AviInfo avi = ReadAvi(file.string());
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_GT(avi.videoChunks, 30u);
    EXPECT_EQ(avi.totalFrames, avi.videoChunks);
    EXPECT_EQ(RepairRecording(file.string()).status, RepairStatus::NothingToDo);
}

TEST_F(GstSession, ManyCyclesOfStartPauseRecordAndStop) {
    ASSERT_EQ(Build("JPEG image encoder"), S_OK);
    // A longer file at the name is emptied first: nothing of it stays behind the recording.
    std::ofstream(folder / "cycle0.avi", std::ios::binary) << std::string(8 << 20, 'j');
    for (int cycle = 0; cycle < 20; ++cycle) {
        StorePath(settings.videoFilePath, (folder / ("cycle" + std::to_string(cycle % 3) + ".avi")).string());
        ASSERT_TRUE(session.StartRecording()) << cycle;
        ASSERT_TRUE(PicturesRecorded(3)) << cycle;
        session.Pause();
        if (cycle % 2 == 0) {  // else the paused take is stopped as it is
            session.Run();
            ASSERT_TRUE(WaitForFrames(owner.Frames() + 2)) << cycle;
        }
        session.Stop();
        const AviInfo avi = ReadAvi(ReadPath(settings.videoFilePath));
        ASSERT_TRUE(avi.hasIndex) << cycle;
        EXPECT_GT(avi.totalFrames, 0u);
        if (cycle == 0) {
            const std::string bytes = Bytes(folder / "cycle0.avi");
            uint32_t riffSize = 0;
            std::memcpy(&riffSize, bytes.data() + 4, 4);
            EXPECT_EQ(riffSize + 8u, bytes.size());
        }
        session.Run();
        session.Pause();
        session.Stop();
        session.Run();
    }
    EXPECT_TRUE(messages.empty());
    // A recording's file is closed when it ends.
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        EXPECT_NE(fs::read_symlink(entry.path(), ignored).extension(), ".avi") << entry.path();
    }

    // Preview-only cycles, many of them, leave no descriptor behind.
    session.Run();
    const auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    // Counted while frames flow, not during a state change, whose threads
    // hold descriptors for a moment.
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 5));
    const auto before = openDescriptors();
    for (int cycle = 0; cycle < 200; ++cycle) {
        session.Pause();
        session.Run();
        if (cycle % 4 == 0) {
            session.Stop();
            session.Run();
        }
    }
    EXPECT_TRUE(WaitForFrames(owner.Frames() + 5));
    // Counted again once the state changes' threads have let theirs go.
    EXPECT_TRUE(WaitUntil([&] { return openDescriptors() <= before + 2; }, 2));
}

TEST_F(GstSession, ACameraThatFailsWhileRecordingStopsTheGraphAndKeepsTheRecording) {
    ASSERT_NO_FATAL_FAILURE(LoseTheCameraWhileRecording([] { lumora::gst::SimulateSourceFailure(); }));
    EXPECT_EQ(messages[0].rfind("捕获已停止：摄像头“Lumora Test Pattern”停止了发送画面。\nThe video device was "
                                "disconnected.\n到此为止的录相已保存在“",
                                0),
              0u)
        << messages[0];
}

TEST_F(GstSession, ARebuildDetachesTheEarlierVideoWindow) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(owner.attached, 2);
    EXPECT_EQ(owner.detached, 1);
    EXPECT_TRUE(WaitForFrames(5));
}

TEST_F(GstSession, AnArmedSnapshotWritesTheFrameAsABitmap) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    const std::string bmp = TakeOnePhoto();
    ASSERT_EQ(bmp.size(), 54u + 640u * 480u * 3u);
    int32_t width, height;
    std::memcpy(&width, bmp.data() + 18, 4);
    std::memcpy(&height, bmp.data() + 22, 4);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    // The test pattern is colourful: not a blank frame.
    EXPECT_NE(bmp.find_first_not_of(bmp[54], 54), std::string::npos);
}

// A camera on its side, turned 90 degrees clockwise while previewing: the
// photo and the recording are 480 wide and 640 high, and the colour bars
// run down the picture, grey at the top, blue at the bottom right.
TEST_F(GstSession, ATurnedPictureIsTurnedInThePhotoAndTheRecording) {
    lumora::gst::SetTestCameraPattern("smpte");
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    const std::string upright = TakeOnePhoto();
    ASSERT_EQ(BitmapField(upright, 18), 640);
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".bmp") fs::remove(entry.path());

    ASSERT_TRUE(session.SetRotation(90));
    EXPECT_EQ(videoWidth, 480);
    EXPECT_EQ(videoHeight, 640);
    EXPECT_EQ(owner.placed, (WindowRect{212, 0, 587, 500}));  // letterboxed as a tall picture
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard lock(owner.mutex);
        return owner.lastWidth == 480;
    }, 5));
    const std::string turned = TakeOnePhoto();
    ASSERT_EQ(BitmapField(turned, 18), 480);
    ASSERT_EQ(BitmapField(turned, 22), 640);
    // Clockwise: the upright picture's (x, y) is the turned one's (479 - y, x).
    long long difference = 0;
    for (int y = 0; y < 640; y += 8)
        for (int x = 0; x < 480; x += 8) difference += std::abs(BitmapRed(turned, x, y) - BitmapRed(upright, y, 479 - x));
    EXPECT_LT(difference / (60 * 80), 12);

    ASSERT_TRUE(session.StartRecording());
    EXPECT_FALSE(session.SetRotation(0));  // the file keeps its size
    ASSERT_TRUE(PicturesRecorded(5));
    session.Stop();
    const AviInfo avi = ReadAvi((folder / "capture.avi").string());
    ASSERT_NE(avi.First("vids"), nullptr);
    EXPECT_EQ(avi.First("vids")->width, 480);
    EXPECT_EQ(avi.First("vids")->height, 640);
    ASSERT_FALSE(avi.firstPictures.empty());
    const std::vector<uint8_t>& luma = avi.firstPictures.back();  // I420: the luma plane first
    ASSERT_GE(luma.size(), 480u * 640u);
    EXPECT_GT(luma[20 * 480 + 429], luma[620 * 480 + 429] + 80);

    // Upright again, the turn passes the pictures through.
    ASSERT_EQ(session.Run(), S_OK);
    ASSERT_TRUE(session.SetRotation(0));
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard lock(owner.mutex);
        return owner.lastWidth == 640;
    }, 5));
}

// A photo folder that takes its time (a network share, a USB stick; here a
// JPEG conversion held until the test lets it go) holds up neither the
// preview nor the recording: pictures go on while the photo is written.
TEST_F(GstSession, APhotoWrittenSlowlyHoldsUpNeitherThePreviewNorTheRecording) {
    ASSERT_EQ(Build(), S_OK);
    ASSERT_TRUE(WaitForFrames(3));
    ASSERT_TRUE(session.StartRecording());
    std::atomic<bool> writing{false}, letGo{false};
    grabberCallback.SetJpegConverter([&] {
        writing = true;
        WaitUntil([&] { return letGo.load(); }, 10.0);
        return false;  // stored as a bitmap
    });
    settings.photoFormat = 1;
    session.ArmSnapshot(1);
    ASSERT_TRUE(WaitUntil([&] { return writing.load(); }, 4.0));
    const int drawn = owner.Frames();
    const unsigned long long recorded = lumora::gst::FramesOfferedToRecording();
    const bool previewWentOn = WaitForFrames(drawn + 15);
    const unsigned long long recordedMeanwhile = lumora::gst::FramesOfferedToRecording() - recorded;
    letGo = true;
    WaitUntil([] { return snapshotArmed.load() == 0; }, 4.0);
    grabberCallback.SetJpegConverter(nullptr);
    EXPECT_TRUE(previewWentOn) << "the preview waited for the photo";
    EXPECT_GE(recordedMeanwhile, 10u) << "the recording waited for the photo";
    EXPECT_EQ(snapshotArmed.load(), 0);
    session.Stop();
}

}  // namespace

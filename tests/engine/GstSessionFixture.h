#pragma once
// A capture session on the GStreamer platform, fed by the built-in test
// sources, in a folder of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "capture/CapturePlatform.h"
#include "capture/CaptureSession.h"
#include "capture/VideoModes.h"
#include "capture/gst/GstCapturePlatform.h"
#include "tests/support/gst/GstTesting.h"
#include "settings/SettingsFile.h"
#include "snapshot/GrabberCallback.h"
#include "tests/AviReader.h"
#include "tests/WaitFor.h"
#include "tests/engine/FakePlatform.h"

namespace gst_session {

// For a test that starts a sound server of its own: the device watch finds
// the servers that run when it starts, so it starts again once the server
// runs, and, through this, again when the test ends without it (declared
// after the server, it goes first).
struct DeviceWatchRestartAtEnd {
    CCaptureSession& session;
    ~DeviceWatchRestartAtEnd() {
        session.UsePlatform(nullptr);
        lumora::gst::RestartDeviceWatch();
    }
};

namespace fs = std::filesystem;

struct ListedNames : IComboBox {
    void AddString(const std::string& text) override { names.push_back(text); }
    int IndexOf(const std::string& name) const {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return static_cast<int>(i);
        return -1;
    }
    std::vector<std::string> names;
};

// A hold that is itself what a test is about (a pause of some length);
// anything a test expects is waited for with WaitUntil.
inline void Wait(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// Holds a recording until its pictures span `seconds` by their own
// timestamps (they reach the end of the branch a little late); false when
// it stops growing.
inline bool RecordedFor(double seconds) {
    return WaitUntil([&] { return lumora::gst::LatestRecordingSeconds() >= seconds; }, seconds + 10);
}

// Holds a recording until `pictures` have gone into it.
inline bool PicturesRecorded(unsigned long long pictures) {
    return WaitUntil([&] { return lumora::gst::FramesOfferedToRecording() >= pictures; }, 10);
}

// The width and height a photo's bitmap header states, and the red of its
// pixel (x, y), counted from the top left (its rows are stored bottom-up).
inline int32_t BitmapField(const std::string& bmp, std::size_t at) {
    int32_t value = 0;
    if (bmp.size() >= at + 4) std::memcpy(&value, bmp.data() + at, 4);
    return value;
}
inline int BitmapRed(const std::string& bmp, int x, int y) {
    const int32_t width = BitmapField(bmp, 18), height = BitmapField(bmp, 22);
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t at = 54 + rowBytes * static_cast<std::size_t>(height - 1 - y) + static_cast<std::size_t>(x) * 3 + 2;
    return at < bmp.size() ? static_cast<uint8_t>(bmp[at]) : -1;
}

class GstSession : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("LUMORA_TEST_SOURCES", "1", 1);
        folder = fs::path(::testing::TempDir()) / ("lumora-gst-" + std::to_string(::getpid()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        appDirectory = folder.string();
        StorePath(settings.videoFilePath, (folder / "capture.avi").string());
        StorePath(settings.photoFolder, folder.string());
        settings.photoFormat = 0;
        session.SetMessageHandler([this](const std::string& text) { messages.push_back(text); });
        // The test camera's smallest raw mode keeps the tests light; its
        // default mode is tested on its own.
        CaptureChoice choice;
        choice.videoMode = VideoModeFromText("640x480@30/1:YUY2");
        session.SetCaptureChoice(choice);
    }
    void TearDown() override {
        session.TearDown();
        lumora::gst::SetTestCameraPattern("ball");
        lumora::gst::SetTestCameraJpegSampling("I420");
        lumora::gst::DamageTestCameraFrames(0);
        fs::remove_all(folder);
    }

    // Builds with the test pattern and the named compressors ("" = none),
    // into `target` (the fixture's owner when null).
    HRESULT Build(const std::string& videoCompressor = "", const std::string& audioCompressor = "",
                  IOwnerWindow* target = nullptr) {
        ListedNames devices, videoCompressors, audioCompressors;
        session.ListVideoDevices(&devices);
        session.ListVideoCompressors(&videoCompressors);
        session.ListAudioCompressors(&audioCompressors);
        const int device = devices.IndexOf("Lumora Test Pattern");
        const int video = videoCompressor.empty() ? -1 : videoCompressors.IndexOf(videoCompressor);
        const int audio = audioCompressor.empty() ? -1 : audioCompressors.IndexOf(audioCompressor);
        EXPECT_GE(device, 0);
        if (!videoCompressor.empty()) {
            EXPECT_GE(video, 0) << videoCompressor;
        }
        if (!audioCompressor.empty()) {
            EXPECT_GE(audio, 0) << audioCompressor;
        }
        return session.BuildGraph(device, video, audio, target ? target : &owner);
    }

    // A camera lost one second into a recording with the JPEG compressor,
    // handled as the UI thread handles it: the graph stops once, with one
    // message, and the recording up to then is a finished file.
    void LoseTheCameraWhileRecording(const std::function<void()>& loseCamera) {
        ASSERT_EQ(Build("JPEG image encoder"), S_OK);
        std::atomic<int> notified{0};  // from a streaming thread
        int stopped = 0;
        session.SetEventNotifier([&] { ++notified; });
        session.SetGraphStoppedHandler([&] { ++stopped; });
        ASSERT_TRUE(session.StartRecording());
        ASSERT_TRUE(PicturesRecorded(30));
        loseCamera();
        ASSERT_TRUE(WaitUntil([&] { return notified.load() > 0; }, 2));
        session.ProcessPendingEvents();
        session.SetEventNotifier(nullptr);
        session.SetGraphStoppedHandler(nullptr);
        EXPECT_EQ(stopped, 1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_FALSE(session.RecordingActive());
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        EXPECT_TRUE(avi.hasIndex);
        EXPECT_GT(avi.totalFrames, 15u);
        EXPECT_EQ(avi.videoChunks, avi.totalFrames);
    }

    // Takes one photo (BMP) and returns the stored file's bytes ("" when
    // not exactly one photo was stored).
    std::string TakeOnePhoto() {
        session.ArmSnapshot(1);
        WaitUntil([] { return snapshotArmed.load() == 0; }, 3);
        std::vector<fs::path> photos;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".bmp" && entry.path().filename() != "temp.bmp")
                photos.push_back(entry.path());
        if (snapshotArmed.load() != 0 || photos.size() != 1) return "";
        std::ifstream in(photos[0], std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    bool WaitForFrames(int count) {
        return WaitUntil([&] { return owner.Frames() >= count; }, 5);
    }

    // What must not happen has had its time once the test tone's own meter,
    // beside the graph, has read `readings` levels (ten a second).
    bool ToneMeterReads(int readings) {
        std::atomic<int> read{0};
        const std::unique_ptr<ISoundMeter> meter =
            session.MeterAudioInput("", [&read](const SoundLevel&) { ++read; });
        return meter && WaitUntil([&] { return read.load() >= readings; }, 5);
    }

    fs::path folder;
    FakeOwner owner;
    std::vector<std::string> messages;
    CCaptureSession session{CreateGstCapturePlatform()};
};

}  // namespace gst_session

#pragma once
// A capture session on the GStreamer platform, fed by the built-in test
// sources, in a folder of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "capture/CapturePlatform.h"
#include "capture/CaptureSession.h"
#include "capture/VideoModes.h"
#include "capture/gst/GstCapturePlatform.h"
#include "settings/SettingsFile.h"
#include "tests/engine/FakePlatform.h"

namespace gst_session {

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

inline void Wait(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

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
        fs::remove_all(folder);
    }

    // Builds with the test pattern and the named compressors ("" = none).
    HRESULT Build(const std::string& videoCompressor = "", const std::string& audioCompressor = "") {
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
        return session.BuildGraph(device, video, audio, &owner);
    }

    bool WaitForFrames(int count) {
        for (int i = 0; i < 100 && owner.Frames() < count; ++i) Wait(0.05);
        return owner.Frames() >= count;
    }

    fs::path folder;
    FakeOwner owner;
    std::vector<std::string> messages;
    CCaptureSession session{CreateGstCapturePlatform()};
};

}  // namespace gst_session

// The camera's default mode, the user's choice of camera, mode and microphone
// as the session applies them, and the profile text of a mode.

#include <gtest/gtest.h>

#include "capture/CaptureSession.h"
#include "capture/VideoModeChoices.h"
#include "capture/VideoModes.h"
#include "settings/SettingsFile.h"
#include "tests/engine/FakePlatform.h"

namespace {

VideoMode Mode(int w, int h, int fps, const char* format) { return VideoMode{w, h, fps, 1, format}; }

CaptureChoice WithMode(const VideoMode& mode) {
    CaptureChoice choice;
    choice.videoMode = mode;
    return choice;
}

// A common 1080p USB camera: raw only at low rates for the larger sizes.
const std::vector<VideoMode> kWebcam = {
    Mode(640, 480, 30, "YUY2"),   Mode(1280, 720, 10, "YUY2"),   Mode(1920, 1080, 5, "YUY2"),
    Mode(640, 480, 30, "MJPEG"),  Mode(1280, 720, 30, "MJPEG"),  Mode(1920, 1080, 30, "MJPEG"),
    Mode(640, 480, 15, "MJPEG"),  Mode(1280, 720, 15, "MJPEG"),  Mode(1920, 1080, 15, "MJPEG"),
};

TEST(DefaultVideoMode, TheLargestPictureAtTheFullRateRawWhenRawReachesIt) {
    EXPECT_EQ(ChooseDefaultMode(kWebcam), Mode(1920, 1080, 30, "MJPEG"));

    std::vector<VideoMode> rawEverywhere = kWebcam;
    rawEverywhere.push_back(Mode(1920, 1080, 30, "NV12"));
    EXPECT_EQ(ChooseDefaultMode(rawEverywhere), Mode(1920, 1080, 30, "NV12"));

    // 60 frames/s only for a small picture: 30 is enough for the large one.
    EXPECT_EQ(ChooseDefaultMode({Mode(640, 480, 60, "YUY2"), Mode(1280, 720, 30, "YUY2"), Mode(1280, 720, 60, "MJPEG"),
                                 Mode(1920, 1080, 15, "MJPEG")}),
              Mode(1280, 720, 30, "YUY2"));
    // A camera that is slow in every mode still gives its largest picture.
    EXPECT_EQ(ChooseDefaultMode({Mode(320, 240, 5, "YUY2"), Mode(640, 480, 5, "YUY2")}), Mode(640, 480, 5, "YUY2"));
    // NTSC rates count as 30.
    EXPECT_EQ(ChooseDefaultMode({VideoMode{1280, 720, 30000, 1001, "YUY2"}, Mode(640, 480, 30, "YUY2")}),
              (VideoMode{1280, 720, 30000, 1001, "YUY2"}));
    EXPECT_FALSE(ChooseDefaultMode({}).has_value());
}

TEST(DefaultVideoMode, ShownAndKeptAsText) {
    EXPECT_EQ(DescribeVideoMode(Mode(1920, 1080, 30, "MJPEG")), "1920 x 1080  30 帧/秒  MJPEG");
    EXPECT_EQ(DescribeVideoMode(VideoMode{640, 480, 30000, 1001, "YUY2"}), "640 x 480  29.97 帧/秒  YUY2");

    for (const VideoMode& mode : {Mode(1920, 1080, 30, "MJPEG"), VideoMode{640, 480, 30000, 1001, "YUY2"}})
        EXPECT_EQ(VideoModeFromText(VideoModeToText(mode)), mode);
    for (const char* damaged : {"", "自动", "1920x1080", "1920x1080@30/1:", "0x1080@30/1:MJPEG", "1920x1080@30/0:YUY2",
                                "1920x1080@30/1:MJ PEG", "-5x3@1/1:YUY2"})
        EXPECT_FALSE(VideoModeFromText(damaged).has_value()) << damaged;
}

TEST(DefaultVideoMode, ListsOfModesKeepTheirOrderAndSkipWhatIsNoMode) {
    EXPECT_EQ(VideoModesFromList("1920x1080@30/1:MJPEG, 640x480@30/1:I420 "),
              (std::vector<VideoMode>{Mode(1920, 1080, 30, "MJPEG"), Mode(640, 480, 30, "I420")}));
    EXPECT_EQ(VideoModesFromList(",,1280x720@30/1:I420,auto,,"), (std::vector<VideoMode>{Mode(1280, 720, 30, "I420")}));
    EXPECT_TRUE(VideoModesFromList("").empty());
    EXPECT_TRUE(VideoModesFromList(" , ").empty());
}

class ChoiceWithFake : public ::testing::Test {
protected:
    ChoiceWithFake() : script(std::make_shared<FakeScript>()), session(std::make_unique<FakePlatform>(script)) {
        script->entries[DeviceCategory::VideoInputDevice] = {{"USB Camera", true, "usb-1", kWebcam},
                                                             {"Capture card", true, "pci-2"}};
        script->entries[DeviceCategory::AudioInputDevice] = {{"Default mic", true, "mic-default"},
                                                             {"Headset", true, "mic-headset"}};
        session.SetMessageHandler([](const std::string&) {});
        StorePath(settings.videoFilePath, ::testing::TempDir() + "lumora-choice.avi");
    }
    std::string BuiltAudioInput() {
        for (const std::string& name : script->addedFilters)
            if (name == "audio Capture") return "added";
        return "";
    }
    HRESULT Build(int device = 0) { return session.BuildGraph(device, -1, -1, &owner); }

    std::shared_ptr<FakeScript> script;
    FakeOwner owner;
    CCaptureSession session;
};

TEST_F(ChoiceWithFake, ModesAndIdentitiesAreReadByListPosition) {
    std::vector<VideoMode> modes;
    EXPECT_EQ(session.ListVideoModes(0, modes), static_cast<int>(kWebcam.size()));
    EXPECT_EQ(modes, kWebcam);
    EXPECT_EQ(session.ListVideoModes(1, modes), -1);  // a device without modes to choose
    EXPECT_TRUE(modes.empty());
    EXPECT_EQ(session.ListVideoModes(7, modes), -1);

    std::string path;
    EXPECT_TRUE(session.ReadVideoDevicePath(1, path));
    EXPECT_EQ(path, "pci-2");
    EXPECT_FALSE(session.ReadVideoDevicePath(2, path));
}

TEST_F(ChoiceWithFake, TheChosenModeWhileOfferedElseTheDefault) {
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(session.CurrentVideoMode(), Mode(1920, 1080, 30, "MJPEG"));

    session.SetCaptureChoice(WithMode(Mode(640, 480, 30, "YUY2")));
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(session.CurrentVideoMode(), Mode(640, 480, 30, "YUY2"));
    ASSERT_FALSE(script->formatsSet.empty());
    EXPECT_EQ(script->formatsSet.back(), Mode(640, 480, 30, "YUY2"));

    // Remembered from a camera that no longer offers it.
    session.SetCaptureChoice(WithMode(Mode(3840, 2160, 30, "MJPEG")));
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(session.CurrentVideoMode(), Mode(1920, 1080, 30, "MJPEG"));

    ASSERT_EQ(Build(1), S_OK);  // nothing to choose from
    EXPECT_FALSE(session.CurrentVideoMode().has_value());
}

TEST_F(ChoiceWithFake, TheMicrophoneChoiceAndNoSound) {
    struct Names : IComboBox {
        void AddString(const std::string& text) override { names.push_back(text); }
        std::vector<std::string> names;
    } names;
    std::vector<std::string> paths;
    EXPECT_EQ(session.ListAudioInputs(&names, paths), 2);
    EXPECT_EQ(names.names, (std::vector<std::string>{"Default mic", "Headset"}));
    EXPECT_EQ(paths, (std::vector<std::string>{"mic-default", "mic-headset"}));

    CaptureChoice choice;
    choice.sound = CaptureChoice::Sound::None;
    session.SetCaptureChoice(choice);
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(BuiltAudioInput(), "");
    EXPECT_TRUE(session.StartRecording());
    EXPECT_EQ(std::count(script->calls.begin(), script->calls.end(), "Render Capture Audio"), 0);
    session.Stop();

    for (const char* path : {"mic-headset", "unplugged-mic"}) {  // a gone one falls back to the default
        script->addedFilters.clear();
        choice.sound = CaptureChoice::Sound::Device;
        choice.audioDevicePath = path;
        session.SetCaptureChoice(choice);
        ASSERT_EQ(Build(), S_OK);
        EXPECT_EQ(BuiltAudioInput(), "added") << path;
    }
}

TEST_F(ChoiceWithFake, TheChosenCameraIsBuiltWhereverItIsListedAndWhenGoneNamedNotReplaced) {
    // Two of one model: one name, identities of their own. Each offers one
    // mode, so the mode set tells which of them was built.
    const VideoMode firstMode = Mode(640, 480, 30, "YUY2"), secondMode = Mode(1280, 720, 30, "MJPEG");
    auto& cameras = script->entries[DeviceCategory::VideoInputDevice];
    cameras = {{"USB Camera", true, "usb-1", {firstMode}}, {"USB Camera", true, "usb-2", {secondMode}}};
    std::vector<std::string> messages;
    session.SetMessageHandler([&](const std::string& text) { messages.push_back(text); });
    CaptureChoice choice;
    choice.videoDevicePath = "usb-2";
    choice.videoDeviceName = "USB Camera";
    session.SetCaptureChoice(choice);
    const int chosenIndex = 1;  // its place when it was chosen

    // A camera plugged in ahead of it: its twin is at that place now.
    cameras.insert(cameras.begin(), FakeEntry("Capture card", true, "pci-3"));
    ASSERT_EQ(Build(chosenIndex), S_OK);
    EXPECT_EQ(session.CurrentVideoMode(), secondMode);
    EXPECT_TRUE(messages.empty());

    // Plugged out: neither the entry at its place nor its namesake is taken.
    cameras.pop_back();
    script->addedFilters.clear();
    EXPECT_LT(Build(chosenIndex), 0);
    EXPECT_EQ(messages, std::vector<std::string>{"无法使用所选的视频设备！\n"
                                                 "摄像头“USB Camera”已不再连接。"});
    EXPECT_TRUE(script->addedFilters.empty());
    EXPECT_FALSE(session.CurrentVideoMode().has_value());
}

TEST_F(ChoiceWithFake, FailuresArrivingDuringAnOperationWaitForItsEnd) {
    int notified = 0;
    session.SetEventNotifier([&] { ++notified; });
    ASSERT_EQ(Build(), S_OK);
    session.Pause();
    // The fake graph runs the wait hook inside Run, as a camera that takes
    // its time to start lets the UI thread run. A failure handled then
    // would stop the graph in the middle of the operation.
    bool handledInside = false;
    session.SetWaitHook([&] {
        script->errorHandler(GraphError{"The camera went away."});
        const std::size_t before = script->calls.size();
        session.ProcessPendingEvents();
        handledInside = script->calls.size() != before;
    });
    session.Run();
    EXPECT_FALSE(handledInside);
    EXPECT_GE(notified, 2);  // once when reported, once more when Run ended
    session.SetWaitHook(nullptr);
    session.ProcessPendingEvents();
    EXPECT_EQ(script->calls.back(), "Stop");
}

}  // namespace

TEST(VideoModeChoicesTest, SizesLargestFirstRatesHighestFirstCommonFormatsCheapestFirst) {
    const VideoModeChoices choices({Mode(640, 480, 15, "YUY2"), Mode(1280, 720, 30, "MJPEG"), Mode(640, 480, 30, "RGB15"),
                                    Mode(640, 480, 30, "MJPEG"), Mode(640, 480, 30, "YUY2"),
                                    VideoMode{640, 480, 60, 2, "NV12"}, Mode(320, 240, 30, "ARGB64")});
    using Size = VideoModeChoices::Size;
    using Rate = VideoModeChoices::Rate;
    EXPECT_EQ(choices.Sizes(), (std::vector<Size>{{1280, 720}, {640, 480}, {320, 240}}));
    EXPECT_EQ(choices.Rates({640, 480}), (std::vector<Rate>{{30, 1}, {15, 1}}));  // 60/2 is 30/1
    // A layout no webcam sends shows only where nothing else is offered, or as the remembered choice.
    EXPECT_EQ(choices.Formats({640, 480}, {30, 1}), (std::vector<std::string>{"YUY2", "NV12", "MJPEG"}));
    EXPECT_EQ(choices.Formats({640, 480}, {30, 1}, "RGB15"), (std::vector<std::string>{"YUY2", "NV12", "MJPEG", "RGB15"}));
    EXPECT_EQ(choices.Formats({320, 240}, {30, 1}), (std::vector<std::string>{"ARGB64"}));
    EXPECT_EQ(choices.Find({640, 480}, {30, 1}, "NV12"), (VideoMode{640, 480, 60, 2, "NV12"}));
    EXPECT_FALSE(choices.Find({1280, 720}, {30, 1}, "YUY2").has_value());
    EXPECT_EQ(DescribeFrameRate({30000, 1001}), "29.97 帧/秒");
}

// The simulated camera's settings through the session: a webcam's list,
// inactive manual values that follow their automatic switch, brightness
// that reaches the pictures and the recording, remembered values applied.

#include <algorithm>
#include <numeric>

#include "capture/CameraControls.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/engine/GstSessionFixture.h"

namespace gst_session {
namespace {

class CameraSettings : public GstSession {
protected:
    std::vector<CameraControl> List() {
        std::vector<CameraControl> listed;
        std::string error;
        EXPECT_TRUE(session.ListCameraControls(listed, error)) << error;
        return listed;
    }
    CameraControl Named(const std::string& key) {
        for (const CameraControl& control : List())
            if (control.key == key) return control;
        ADD_FAILURE() << "no control " << key;
        return {};
    }
    bool Set(const std::string& key, int32_t value, std::string& error) {
        return session.SetCameraControl(Named(key).id, value, error);
    }
    // The mean of a picture's bytes (a BMP's pixels, or raw frame bytes).
    static double Mean(const std::string& bytes, std::size_t from = 54) {
        if (bytes.size() <= from) return -1;
        return std::accumulate(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), 0.0,
                               [](double sum, char c) { return sum + static_cast<unsigned char>(c); }) /
               static_cast<double>(bytes.size() - from);
    }
    double RecordedMean(const std::string& name) {
        EXPECT_TRUE(session.StartRecording());
        // The fifth picture is the one measured.
        EXPECT_TRUE(PicturesRecorded(6));
        session.Stop();
        const AviInfo avi = ReadAvi((folder / "capture.avi").string());
        std::filesystem::rename(folder / "capture.avi", folder / name);
        if (avi.firstPictures.empty()) return -1;
        const std::vector<uint8_t>& picture = avi.firstPictures.back();
        return Mean(std::string(picture.begin(), picture.end()), 0);
    }
};

TEST_F(CameraSettings, AWebcamsSettingsWithManualValuesInactiveWhileAutomatic) {
    std::vector<CameraControl> listed;
    std::string error;
    EXPECT_FALSE(session.ListCameraControls(listed, error));  // nothing built yet
    EXPECT_NE(error.find("开始视频"), std::string::npos) << error;

    ASSERT_EQ(Build(), S_OK);
    EXPECT_NE(session.CurrentCameraIdentity().find("Lumora Test Pattern"), std::string::npos);
    listed = List();
    std::vector<std::string> names;
    for (const CameraControl& control : listed) names.push_back(control.name);
    EXPECT_EQ(names, (std::vector<std::string>{"亮度", "对比度", "饱和度", "白平衡（自动）", "电源频率", "白平衡色温",
                                               "曝光（自动）", "曝光时间", "焦距", "自动对焦"}));
    const CameraControl brightness = Named("brightness");
    EXPECT_EQ(brightness.minimum, 0);
    EXPECT_EQ(brightness.maximum, 255);
    EXPECT_EQ(brightness.defaultValue, 128);
    const CameraControl temperature = Named("white_balance_temperature");
    EXPECT_EQ(temperature.minimum, 2800);
    EXPECT_EQ(temperature.maximum, 6500);
    EXPECT_TRUE(temperature.inactive);
    EXPECT_TRUE(Named("exposure_time_absolute").inactive);
    EXPECT_TRUE(Named("focus_absolute").inactive);
    EXPECT_EQ(Named("auto_exposure").value, 3);
    EXPECT_EQ(Named("power_line_frequency").menu.size(), 3u);

    // A manual value is refused while its automatic switch is on, then taken.
    EXPECT_FALSE(Set("white_balance_temperature", 5000, error));
    EXPECT_NE(error.find("白平衡色温"), std::string::npos) << error;
    ASSERT_TRUE(Set("white_balance_automatic", 0, error)) << error;
    EXPECT_FALSE(Named("white_balance_temperature").inactive);
    ASSERT_TRUE(Set("white_balance_temperature", 5000, error)) << error;
    EXPECT_EQ(Named("white_balance_temperature").value, 5000);
    ASSERT_TRUE(Set("auto_exposure", 1, error)) << error;
    EXPECT_FALSE(Named("exposure_time_absolute").inactive);
    EXPECT_FALSE(Set("brightness", 300, error));
    EXPECT_EQ(Named("brightness").value, 128);
}

TEST_F(CameraSettings, BrightnessAndContrastReachThePicturesAndTheRecording) {
    ASSERT_EQ(Build(), S_OK);  // raw frames recorded as they come
    ASSERT_TRUE(WaitForFrames(5));
    const double photoBefore = Mean(TakeOnePhoto());
    const double recordedBefore = RecordedMean("before.avi");
    ASSERT_EQ(session.Run(), S_OK);
    ASSERT_GT(photoBefore, 0);

    std::string error;
    ASSERT_TRUE(Set("brightness", 230, error)) << error;
    // New frames are rendered beside the stream: the preview follows soon.
    double photoAfter = photoBefore;
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                if (entry.path().extension() == ".bmp" && entry.path().filename() != "temp.bmp")
                    std::filesystem::remove(entry.path());
            photoAfter = Mean(TakeOnePhoto());
            return photoAfter > photoBefore + 40;
        },
        10))
        << photoAfter;
    EXPECT_GT(RecordedMean("after.avi"), recordedBefore + 20);

    // No contrast at all: every pixel alike, whatever the pattern.
    ASSERT_EQ(session.Run(), S_OK);
    ASSERT_TRUE(Set("brightness", 128, error)) << error;
    ASSERT_TRUE(Set("contrast", 0, error)) << error;
    EXPECT_TRUE(WaitUntil(
        [] {
            const std::vector<std::vector<uint8_t>> frames = lumora::gst::TestCameraFrames();
            return !frames.empty() && std::all_of(frames.begin(), frames.end(), [](const std::vector<uint8_t>& frame) {
                // YUY2: every other byte is the luma.
                for (std::size_t i = 2; i < frame.size(); i += 2)
                    if (frame[i] != frame[0]) return false;
                return true;
            });
        },
        10));
}

TEST_F(CameraSettings, RememberedValuesAreAppliedSwitchesFirst) {
    ASSERT_EQ(Build(), S_OK);
    // In the profile's order, the manual temperature before its switch.
    const std::vector<std::string> refused = session.ApplyCameraControlValues({
        {"white_balance_temperature", 3300},
        {"white_balance_automatic", 0},
        {"brightness", 60},
        {"exposure_time_absolute", 400},  // its switch stays on: passed over
        {"zoom_absolute", 200},           // a control this camera lacks
    });
    EXPECT_TRUE(refused.empty()) << refused.front();
    EXPECT_EQ(Named("white_balance_automatic").value, 0);
    EXPECT_EQ(Named("white_balance_temperature").value, 3300);
    EXPECT_EQ(Named("brightness").value, 60);
    EXPECT_EQ(Named("exposure_time_absolute").value, 250);

    // A value out of the camera's range is refused with its name.
    const std::vector<std::string> out = session.ApplyCameraControlValues({{"contrast", 999}});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0].find("对比度"), std::string::npos) << out[0];

    // A new build starts from the camera's own defaults.
    ASSERT_EQ(Build(), S_OK);
    EXPECT_EQ(Named("brightness").value, 128);
}

// A camera element that offers GStreamer's colour balance, as some do that
// are not V4L2 devices: its channels become integer settings.
TEST(ColorBalanceSettings, TheChannelsAreListedByTheirCommonNamesAndSet) {
    std::unique_ptr<ICameraControls> controls = lumora::gst::CameraControlsOfElement("videobalance");
    ASSERT_NE(controls, nullptr);
    std::vector<CameraControl> listed;
    std::string error;
    ASSERT_TRUE(controls->List(listed, error)) << error;
    std::vector<std::string> names;
    for (const CameraControl& control : listed) names.push_back(control.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"亮度", "对比度", "色调", "饱和度"}));
    const auto brightness = std::find_if(listed.begin(), listed.end(),
                                         [](const CameraControl& c) { return c.key == "brightness"; });
    ASSERT_NE(brightness, listed.end());
    EXPECT_EQ(brightness->value, brightness->defaultValue);
    ASSERT_TRUE(controls->Set(brightness->id, brightness->maximum, error)) << error;
    EXPECT_FALSE(controls->Set(brightness->id, brightness->maximum + 1, error));
    ASSERT_TRUE(controls->List(listed, error)) << error;
    for (const CameraControl& control : listed) {
        if (control.key != "brightness") continue;
        EXPECT_EQ(control.value, control.maximum);
    }

    // An element with nothing to set lists nothing.
    controls = lumora::gst::CameraControlsOfElement("videotestsrc");
    ASSERT_NE(controls, nullptr);
    ASSERT_TRUE(controls->List(listed, error)) << error;
    EXPECT_TRUE(listed.empty());
    EXPECT_FALSE(controls->Set(1, 0, error));
    EXPECT_NE(error.find("没有可调的设置"), std::string::npos) << error;
}

}  // namespace
}  // namespace gst_session

// The V4L2 controls against cameras recorded with `v4l2-ctl
// --list-ctrls-menus`: what is listed and how, and what setting does.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "tests/engine/RecordedV4l2Camera.h"

namespace {

using lumora::v4l2::V4l2CameraControls;

class V4l2Controls : public ::testing::Test {
protected:
    // The controls of the recorded camera `file`; `camera` stays reachable.
    std::vector<CameraControl> Load(const std::string& file) {
        auto device = std::make_unique<RecordedV4l2Camera>(file);
        camera = device.get();
        EXPECT_FALSE(camera->controls.empty()) << file;
        controls = std::make_unique<V4l2CameraControls>(std::move(device));
        return List();
    }
    std::vector<CameraControl> List() {
        std::vector<CameraControl> listed;
        std::string error;
        EXPECT_TRUE(controls->List(listed, error)) << error;
        return listed;
    }
    // The key by pointer: a temporary string argument would make GCC 14 take the
    // returned reference for one into it.
    static const CameraControl& Named(const std::vector<CameraControl>& listed, const char* key) {
        const auto it = std::find_if(listed.begin(), listed.end(), [&](const CameraControl& c) { return c.key == key; });
        if (it == listed.end()) throw std::runtime_error(std::string("no control ") + key);
        return *it;
    }
    static std::vector<std::string> Keys(const std::vector<CameraControl>& listed) {
        std::vector<std::string> keys;
        for (const CameraControl& control : listed) keys.push_back(control.key);
        return keys;
    }
    bool Set(const std::string& key, int32_t value, std::string& error) {
        return controls->Set(Named(List(), key.c_str()).id, value, error);
    }

    RecordedV4l2Camera* camera = nullptr;
    std::unique_ptr<V4l2CameraControls> controls;
};

TEST_F(V4l2Controls, AC920LikeCameraIsListedWithItsRangesMenusAndInactiveManualSettings) {
    const std::vector<CameraControl> listed = Load("logitech-c920.txt");
    // Every control but the class headings, in the driver's order.
    EXPECT_EQ(Keys(listed), (std::vector<std::string>{
                                "brightness", "contrast", "saturation", "white_balance_automatic", "gain",
                                "power_line_frequency", "white_balance_temperature", "sharpness",
                                "backlight_compensation", "auto_exposure", "exposure_time_absolute",
                                "exposure_dynamic_framerate", "pan_absolute", "tilt_absolute", "focus_absolute",
                                "focus_automatic_continuous", "zoom_absolute"}));

    const CameraControl& brightness = Named(listed, "brightness");
    EXPECT_EQ(brightness.name, "亮度");
    EXPECT_EQ(brightness.id, static_cast<uint32_t>(V4L2_CID_BRIGHTNESS));
    EXPECT_EQ(brightness.type, CameraControl::Type::Integer);
    EXPECT_EQ(brightness.minimum, 0);
    EXPECT_EQ(brightness.maximum, 255);
    EXPECT_EQ(brightness.defaultValue, 128);
    EXPECT_FALSE(brightness.inactive);

    const CameraControl& pan = Named(listed, "pan_absolute");
    EXPECT_EQ(pan.minimum, -36000);
    EXPECT_EQ(pan.step, 3600);
    EXPECT_EQ(Named(listed, "focus_absolute").step, 5);
    EXPECT_EQ(Named(listed, "white_balance_automatic").type, CameraControl::Type::Boolean);
    EXPECT_EQ(Named(listed, "white_balance_automatic").name, "白平衡（自动）");
    EXPECT_EQ(Named(listed, "exposure_dynamic_framerate").value, 1);  // the value, not the default

    // Menus with the driver's holes left out, the common entries in Chinese.
    const CameraControl& exposure = Named(listed, "auto_exposure");
    EXPECT_EQ(exposure.type, CameraControl::Type::Menu);
    ASSERT_EQ(exposure.menu.size(), 2u);
    EXPECT_EQ(exposure.menu[0].value, 1);
    EXPECT_EQ(exposure.menu[0].name, "手动");
    EXPECT_EQ(exposure.menu[1].value, 3);
    EXPECT_EQ(exposure.menu[1].name, "光圈优先");
    EXPECT_EQ(exposure.value, 3);
    const CameraControl& mains = Named(listed, "power_line_frequency");
    EXPECT_EQ(mains.name, "电源频率");
    ASSERT_EQ(mains.menu.size(), 3u);
    EXPECT_EQ(mains.menu[0].name, "关");
    EXPECT_EQ(mains.menu[1].name, "50 Hz");
    EXPECT_EQ(mains.menu[2].name, "60 Hz");

    // Manual settings under an automatic one that is on.
    EXPECT_TRUE(Named(listed, "white_balance_temperature").inactive);
    EXPECT_TRUE(Named(listed, "exposure_time_absolute").inactive);
    EXPECT_TRUE(Named(listed, "focus_absolute").inactive);
    EXPECT_FALSE(Named(listed, "zoom_absolute").inactive);
    // All values in one read.
    EXPECT_EQ(camera->calls[VIDIOC_G_EXT_CTRLS], 1);
}

TEST_F(V4l2Controls, OtherCamerasKeepTheirOwnRangesAndCurrentValues) {
    std::vector<CameraControl> listed = Load("lifecam-hd3000.txt");
    EXPECT_EQ(Named(listed, "brightness").minimum, 30);
    EXPECT_EQ(Named(listed, "brightness").value, 160);
    EXPECT_EQ(Named(listed, "contrast").maximum, 10);
    EXPECT_EQ(Named(listed, "power_line_frequency").value, 1);
    // Automatic white balance and exposure are off: the manual ones are live.
    EXPECT_FALSE(Named(listed, "white_balance_temperature").inactive);
    EXPECT_EQ(Named(listed, "white_balance_temperature").value, 5200);
    EXPECT_EQ(Named(listed, "exposure_time_absolute").maximum, 20000);
    EXPECT_FALSE(Named(listed, "exposure_time_absolute").inactive);

    listed = Load("laptop-integrated.txt");
    EXPECT_EQ(Named(listed, "brightness").minimum, -64);
    EXPECT_EQ(Named(listed, "hue").name, "色调");
    EXPECT_EQ(Named(listed, "gamma").name, "伽玛");
    EXPECT_EQ(Named(listed, "white_balance_temperature").step, 10);
    // A read-only control (the privacy shutter) is nothing to set.
    const std::vector<std::string> keys = Keys(listed);
    EXPECT_EQ(std::find(keys.begin(), keys.end(), "privacy"), keys.end());
}

TEST_F(V4l2Controls, SettingAnAutomaticSwitchFreesItsManualValue) {
    Load("logitech-c920.txt");
    std::string error;
    ASSERT_TRUE(Set("brightness", 200, error)) << error;
    EXPECT_EQ(Named(List(), "brightness").value, 200);

    // Exposure time is refused while the camera chooses it, with its name.
    EXPECT_FALSE(Set("exposure_time_absolute", 500, error));
    EXPECT_NE(error.find("曝光时间"), std::string::npos) << error;
    EXPECT_NE(error.find("自动"), std::string::npos) << error;
    ASSERT_TRUE(Set("auto_exposure", 1, error)) << error;
    std::vector<CameraControl> listed = List();
    EXPECT_FALSE(Named(listed, "exposure_time_absolute").inactive);
    ASSERT_TRUE(Set("exposure_time_absolute", 500, error)) << error;
    EXPECT_EQ(Named(List(), "exposure_time_absolute").value, 500);

    ASSERT_TRUE(Set("white_balance_automatic", 0, error)) << error;
    ASSERT_TRUE(Set("white_balance_temperature", 5000, error)) << error;
    ASSERT_TRUE(Set("white_balance_automatic", 1, error)) << error;
    listed = List();
    EXPECT_TRUE(Named(listed, "white_balance_temperature").inactive);
    EXPECT_EQ(Named(listed, "white_balance_temperature").value, 5000);
}

TEST_F(V4l2Controls, ARefusedValueIsNamedAndTheCameraKeepsWhatItHad) {
    Load("logitech-c920.txt");
    std::string error;
    camera->setFailures[V4L2_CID_BRIGHTNESS] = EBUSY;
    EXPECT_FALSE(Set("brightness", 90, error));
    EXPECT_NE(error.find("无法设置“亮度”"), std::string::npos) << error;
    EXPECT_NE(error.find("正忙"), std::string::npos) << error;
    EXPECT_EQ(Named(List(), "brightness").value, 128);

    camera->setFailures[V4L2_CID_POWER_LINE_FREQUENCY] = EINVAL;
    EXPECT_FALSE(Set("power_line_frequency", 1, error));
    EXPECT_NE(error.find("电源频率"), std::string::npos) << error;
    EXPECT_NE(error.find("不接受"), std::string::npos) << error;

    // Values outside the range, off the steps or in a menu's hole never
    // reach the device.
    const int setsBefore = camera->calls[VIDIOC_S_EXT_CTRLS];
    EXPECT_FALSE(Set("contrast", 256, error));
    EXPECT_NE(error.find("0 到 255"), std::string::npos) << error;
    EXPECT_FALSE(Set("pan_absolute", 100, error));
    EXPECT_FALSE(Set("auto_exposure", 2, error));
    EXPECT_FALSE(Set("white_balance_automatic", 2, error));
    EXPECT_EQ(camera->calls[VIDIOC_S_EXT_CTRLS], setsBefore);
    EXPECT_FALSE(controls->Set(0x00980999, 1, error));
}

// A camera that stops answering (unplugged under us).
struct GoneCamera : RecordedV4l2Camera {
    GoneCamera() : RecordedV4l2Camera("logitech-c920.txt") {}
    int Ioctl(unsigned long, void*) override { return ENODEV; }
};

TEST_F(V4l2Controls, ACameraThatDoesNotAnswerSaysSo) {
    V4l2CameraControls gone(std::make_unique<GoneCamera>());
    std::vector<CameraControl> listed;
    std::string error;
    EXPECT_FALSE(gone.List(listed, error));
    EXPECT_NE(error.find("不再连接"), std::string::npos) << error;

    // A whole read refused for one control: the values are read one by one.
    Load("logitech-c920.txt");
    camera->controls.erase(V4L2_CID_GAIN);
    camera->controls[V4L2_CID_BRIGHTNESS].value = 77;
    struct PartlyReadable : lumora::v4l2::IControlDevice {
        RecordedV4l2Camera* inner;
        int Ioctl(unsigned long request, void* argument) override {
            auto* request_ = static_cast<v4l2_ext_controls*>(argument);
            if (request == VIDIOC_G_EXT_CTRLS && request_->count > 1) return EIO;
            return inner->Ioctl(request, argument);
        }
    };
    auto device = std::make_unique<PartlyReadable>();
    device->inner = camera;
    V4l2CameraControls partly(std::move(device));
    ASSERT_TRUE(partly.List(listed, error)) << error;
    EXPECT_EQ(Named(listed, "brightness").value, 77);
}

}  // namespace

// The simulated camera's controls, as a common UVC webcam lists them: the
// manual white balance, exposure and focus are inactive while their
// automatic counterparts are on, and refuse a value then.

#include <algorithm>

#include "tests/support/gst/TestCameraControls.h"
#include "capture/gst/GstHandles.h"

namespace lumora::gst {

namespace {

enum ControlId : uint32_t {
    kBrightness = 1,
    kContrast,
    kSaturation,
    kWhiteBalanceAuto,
    kWhiteBalanceTemperature,
    kPowerLineFrequency,
    kExposureAuto,
    kExposureTime,
    kFocusAuto,
    kFocusAbsolute,
};

constexpr int32_t kExposureManual = 1;
constexpr int32_t kExposureAperturePriority = 3;

CameraControl Integer(uint32_t id, const char* key, int32_t minimum, int32_t maximum, int32_t step,
                      int32_t defaultValue) {
    CameraControl control;
    control.id = id;
    control.key = key;
    control.name = CameraControlDisplayName(key);
    control.type = CameraControl::Type::Integer;
    control.minimum = minimum;
    control.maximum = maximum;
    control.step = step;
    control.defaultValue = control.value = defaultValue;
    return control;
}

CameraControl Boolean(uint32_t id, const char* key, bool defaultValue) {
    CameraControl control = Integer(id, key, 0, 1, 1, defaultValue ? 1 : 0);
    control.type = CameraControl::Type::Boolean;
    return control;
}

CameraControl Menu(uint32_t id, const char* key, std::vector<CameraControl::MenuEntry> entries,
                   int32_t defaultValue) {
    CameraControl control =
        Integer(id, key, entries.front().value, entries.back().value, 1, defaultValue);
    control.type = CameraControl::Type::Menu;
    control.menu = std::move(entries);
    return control;
}

class TestCameraControls : public ICameraControls {
public:
    explicit TestCameraControls(GstElement* source) : element(Ref(source)) {
        controls = {
            Integer(kBrightness, "brightness", 0, 255, 1, 128),
            Integer(kContrast, "contrast", 0, 255, 1, 128),
            Integer(kSaturation, "saturation", 0, 255, 1, 128),
            Boolean(kWhiteBalanceAuto, "white_balance_automatic", true),
            Menu(kPowerLineFrequency, "power_line_frequency", {{0, "关"}, {1, "50 Hz"}, {2, "60 Hz"}}, 2),
            Integer(kWhiteBalanceTemperature, "white_balance_temperature", 2800, 6500, 10, 4000),
            Menu(kExposureAuto, "auto_exposure", {{kExposureManual, "手动"}, {kExposureAperturePriority, "光圈优先"}},
                 kExposureAperturePriority),
            Integer(kExposureTime, "exposure_time_absolute", 3, 2047, 1, 250),
            Integer(kFocusAbsolute, "focus_absolute", 0, 250, 5, 0),
            Boolean(kFocusAuto, "focus_automatic_continuous", true),
        };
        // The element may have been set before (a graph that was rebuilt).
        for (const char* property : {"brightness", "contrast", "saturation"}) {
            int value = 128;
            g_object_get(element.get(), property, &value, nullptr);
            Find(IdOfProperty(property))->value = value;
        }
        UpdateInactive();
    }

    bool List(std::vector<CameraControl>& out, std::string&) override {
        out = controls;
        return true;
    }

    bool Set(uint32_t id, int32_t value, std::string& error) override {
        CameraControl* control = Find(id);
        if (!control) {
            error = "摄像头没有这项设置（" + std::to_string(id) + "）。";
            return false;
        }
        if (!CheckCameraControlValue(*control, value, error)) return false;
        if (control->inactive) {
            error = "无法设置“" + control->name + "”：它的自动设置开着。";
            return false;
        }
        control->value = value;
        if (const char* property = PropertyOf(id)) g_object_set(element.get(), property, value, nullptr);
        UpdateInactive();
        return true;
    }

private:
    static const char* PropertyOf(uint32_t id) {
        switch (id) {
        case kBrightness: return "brightness";
        case kContrast: return "contrast";
        case kSaturation: return "saturation";
        default: return nullptr;
        }
    }
    static uint32_t IdOfProperty(const std::string& property) {
        for (uint32_t id : {kBrightness, kContrast, kSaturation})
            if (property == PropertyOf(id)) return id;
        return 0;
    }

    CameraControl* Find(uint32_t id) {
        const auto it = std::find_if(controls.begin(), controls.end(),
                                     [id](const CameraControl& control) { return control.id == id; });
        return it == controls.end() ? nullptr : &*it;
    }

    void UpdateInactive() {
        Find(kWhiteBalanceTemperature)->inactive = Find(kWhiteBalanceAuto)->value != 0;
        Find(kExposureTime)->inactive = Find(kExposureAuto)->value != kExposureManual;
        Find(kFocusAbsolute)->inactive = Find(kFocusAuto)->value != 0;
    }

    ElementPtr element;
    std::vector<CameraControl> controls;
};

}  // namespace

std::unique_ptr<ICameraControls> MakeTestCameraControls(GstElement* source) {
    return std::make_unique<TestCameraControls>(source);
}

}  // namespace lumora::gst

#include "capture/CameraControls.h"

#include <algorithm>
#include <map>

std::string CameraControlDisplayName(const std::string& key) {
    static const std::map<std::string, std::string> names = {
        {"brightness", "亮度"},
        {"contrast", "对比度"},
        {"saturation", "饱和度"},
        {"hue", "色调"},
        {"gamma", "伽玛"},
        {"sharpness", "清晰度"},
        {"gain", "增益"},
        {"white_balance_automatic", "白平衡（自动）"},
        {"white_balance_temperature", "白平衡色温"},
        {"auto_exposure", "曝光（自动）"},
        {"exposure_time_absolute", "曝光时间"},
        {"exposure_dynamic_framerate", "曝光时允许降低帧率"},
        {"focus_automatic_continuous", "自动对焦"},
        {"focus_absolute", "焦距"},
        {"zoom_absolute", "缩放"},
        {"pan_absolute", "水平转动"},
        {"tilt_absolute", "垂直转动"},
        {"backlight_compensation", "背光补偿"},
        {"power_line_frequency", "电源频率"},
        {"hue_automatic", "色调（自动）"},
        {"led1_mode", "指示灯"},
    };
    const auto it = names.find(key);
    return it == names.end() ? std::string() : it->second;
}

bool CheckCameraControlValue(const CameraControl& control, int32_t value, std::string& error) {
    bool fits = false;
    switch (control.type) {
    case CameraControl::Type::Boolean:
        fits = value == 0 || value == 1;
        break;
    case CameraControl::Type::Menu:
        fits = std::any_of(control.menu.begin(), control.menu.end(),
                           [value](const CameraControl::MenuEntry& entry) { return entry.value == value; });
        break;
    case CameraControl::Type::Integer:
        fits = value >= control.minimum && value <= control.maximum &&
               (control.step <= 1 || (static_cast<int64_t>(value) - control.minimum) % control.step == 0);
        break;
    }
    if (!fits)
        error = "“" + control.name + "”不能设为 " + std::to_string(value) + "：可用的范围是 " +
                std::to_string(control.minimum) + " 到 " + std::to_string(control.maximum) + "。";
    return fits;
}

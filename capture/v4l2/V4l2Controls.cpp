#include "capture/v4l2/V4l2Controls.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>

#include "base/FileWriting.h"
#include "base/SystemErrorText.h"
#include "capture/gst/PlatformMessages.h"

namespace lumora::v4l2 {

namespace {

class NodeDevice : public IControlDevice {
public:
    explicit NodeDevice(UniqueFd node) : fd(std::move(node)) {}
    int Ioctl(unsigned long request, void* argument) override {
        int result;
        do {
            result = ::ioctl(fd.Get(), request, argument);
        } while (result < 0 && errno == EINTR);
        return result < 0 ? errno : 0;
    }

private:
    UniqueFd fd;
};

// Names of the menu entries that every UVC camera shows; others keep the
// driver's text.
std::string MenuEntryName(const std::string& key, int64_t index, const std::string& driverName) {
    if (key == "power_line_frequency") {
        switch (index) {
        case 0: return "关";
        case 1: return "50 Hz";
        case 2: return "60 Hz";
        case 3: return "自动";
        default: break;
        }
    }
    if (key == "auto_exposure") {
        switch (index) {
        case 0: return "自动";
        case 1: return "手动";
        case 2: return "快门优先";
        case 3: return "光圈优先";
        default: break;
        }
    }
    return driverName;
}

int32_t Clamp32(int64_t value) {
    return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, value)));
}

// Why a value was refused, for "无法设置“亮度”：<reason>".
std::string RefusalReason(int code) { return gst::messages::SettingRefused(code); }

}  // namespace

gst::Result<std::unique_ptr<IControlDevice>> OpenControlDevice(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return gst::Fail(gst::messages::CannotOpenCameraNode(path, SystemErrorText(errno)));
    return std::unique_ptr<IControlDevice>(std::make_unique<NodeDevice>(std::move(fd)));
}

std::string KeyOfControlId(uint32_t id) {
    static const std::map<uint32_t, std::string> keys = {
        {V4L2_CID_BRIGHTNESS, "brightness"},
        {V4L2_CID_CONTRAST, "contrast"},
        {V4L2_CID_SATURATION, "saturation"},
        {V4L2_CID_HUE, "hue"},
        {V4L2_CID_GAMMA, "gamma"},
        {V4L2_CID_SHARPNESS, "sharpness"},
        {V4L2_CID_GAIN, "gain"},
        {V4L2_CID_AUTO_WHITE_BALANCE, "white_balance_automatic"},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, "white_balance_temperature"},
        {V4L2_CID_HUE_AUTO, "hue_automatic"},
        {V4L2_CID_BACKLIGHT_COMPENSATION, "backlight_compensation"},
        {V4L2_CID_POWER_LINE_FREQUENCY, "power_line_frequency"},
        {V4L2_CID_EXPOSURE_AUTO, "auto_exposure"},
        {V4L2_CID_EXPOSURE_ABSOLUTE, "exposure_time_absolute"},
        {V4L2_CID_EXPOSURE_AUTO_PRIORITY, "exposure_dynamic_framerate"},
        {V4L2_CID_FOCUS_AUTO, "focus_automatic_continuous"},
        {V4L2_CID_FOCUS_ABSOLUTE, "focus_absolute"},
        {V4L2_CID_ZOOM_ABSOLUTE, "zoom_absolute"},
        {V4L2_CID_PAN_ABSOLUTE, "pan_absolute"},
        {V4L2_CID_TILT_ABSOLUTE, "tilt_absolute"},
    };
    const auto it = keys.find(id);
    return it == keys.end() ? std::string() : it->second;
}

std::string KeyOfDriverName(const std::string& name) {
    std::string key;
    bool gap = false;
    for (unsigned char c : name) {
        if (std::isalnum(c)) {
            if (gap && !key.empty()) key += '_';
            key += static_cast<char>(std::tolower(c));
            gap = false;
        } else {
            gap = true;
        }
    }
    return key;
}

bool V4l2CameraControls::Query(uint32_t id, CameraControl& control, int& code) {
    v4l2_query_ext_ctrl query{};
    query.id = id;
    code = device->Ioctl(VIDIOC_QUERY_EXT_CTRL, &query);
    if (code != 0) return false;
    const std::string driverName(query.name, strnlen(query.name, sizeof query.name));
    control = CameraControl{};
    control.id = query.id;
    control.key = KeyOfControlId(query.id);
    if (control.key.empty()) control.key = KeyOfDriverName(driverName);
    control.name = CameraControlDisplayName(control.key);
    if (control.name.empty()) control.name = driverName;
    control.minimum = Clamp32(query.minimum);
    control.maximum = Clamp32(query.maximum);
    control.step = Clamp32(static_cast<int64_t>(std::min<uint64_t>(query.step, INT32_MAX)));
    control.defaultValue = Clamp32(query.default_value);
    control.value = control.defaultValue;
    control.inactive = (query.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
    if ((query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) != 0) return false;
    switch (query.type) {
    case V4L2_CTRL_TYPE_INTEGER: control.type = CameraControl::Type::Integer; return true;
    case V4L2_CTRL_TYPE_BOOLEAN: control.type = CameraControl::Type::Boolean; return true;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU: break;
    default: return false;
    }
    control.type = CameraControl::Type::Menu;
    // A menu may have holes: indexes the device answers with EINVAL.
    for (int64_t index = query.minimum; index <= query.maximum && index - query.minimum < 256; ++index) {
        v4l2_querymenu item{};
        item.id = query.id;
        item.index = static_cast<uint32_t>(index);
        if (device->Ioctl(VIDIOC_QUERYMENU, &item) != 0) continue;
        const std::string text = query.type == V4L2_CTRL_TYPE_MENU
                                     ? std::string(reinterpret_cast<const char*>(item.name),
                                                   strnlen(reinterpret_cast<const char*>(item.name), sizeof item.name))
                                     : std::to_string(item.value);
        control.menu.push_back({static_cast<int32_t>(index), MenuEntryName(control.key, index, text)});
    }
    return !control.menu.empty();
}

// The current values, in one call when the device takes it, else one by one
// (a device may refuse the whole set for one control it cannot read).
bool V4l2CameraControls::ReadValues(std::vector<CameraControl>& controls) {
    if (controls.empty()) return true;
    std::vector<v4l2_ext_control> values(controls.size());
    for (std::size_t i = 0; i < controls.size(); ++i) values[i].id = controls[i].id;
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = static_cast<uint32_t>(values.size());
    request.controls = values.data();
    if (device->Ioctl(VIDIOC_G_EXT_CTRLS, &request) == 0) {
        for (std::size_t i = 0; i < controls.size(); ++i) controls[i].value = values[i].value;
        return true;
    }
    bool any = false;
    for (CameraControl& control : controls) {
        v4l2_ext_control one{};
        one.id = control.id;
        v4l2_ext_controls single{};
        single.which = V4L2_CTRL_WHICH_CUR_VAL;
        single.count = 1;
        single.controls = &one;
        if (device->Ioctl(VIDIOC_G_EXT_CTRLS, &single) != 0) continue;
        control.value = one.value;
        any = true;
    }
    return any;
}

bool V4l2CameraControls::List(std::vector<CameraControl>& controls, std::string& error) {
    controls.clear();
    uint32_t id = 0;
    for (;;) {
        v4l2_query_ext_ctrl query{};
        query.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
        const int code = device->Ioctl(VIDIOC_QUERY_EXT_CTRL, &query);
        if (code == EINVAL) break;  // past the last control
        if (code != 0) {
            error = gst::messages::CannotReadCameraSettings(RefusalReason(code));
            return false;
        }
        if (query.id <= id) break;  // a device that does not move on
        id = query.id;
        CameraControl control;
        int queryCode = 0;
        if (Query(id, control, queryCode)) controls.push_back(std::move(control));
    }
    if (!ReadValues(controls)) {
        error = gst::messages::CannotReadCameraValues();
        return false;
    }
    return true;
}

bool V4l2CameraControls::Set(uint32_t id, int32_t value, std::string& error) {
    CameraControl control;
    int code = 0;
    if (!Query(id, control, code)) {
        error = gst::messages::NoSuchCameraSetting(id);
        return false;
    }
    if (!CheckCameraControlValue(control, value, error)) return false;
    v4l2_ext_control one{};
    one.id = id;
    one.value = value;
    v4l2_ext_controls request{};
    request.which = V4L2_CTRL_WHICH_CUR_VAL;
    request.count = 1;
    request.controls = &one;
    code = device->Ioctl(VIDIOC_S_EXT_CTRLS, &request);
    if (code != 0) {
        error = gst::messages::CannotSetCameraSetting(control.name, RefusalReason(code));
        return false;
    }
    return true;
}

}  // namespace lumora::v4l2

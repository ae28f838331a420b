#pragma once
// A V4L2 camera answering the control ioctls from what `v4l2-ctl
// --list-ctrls-menus` printed for it (tests/engine/data/v4l2/), with the
// driver's rules that the listing cannot show: a manual white balance,
// exposure or focus is inactive while its automatic switch is on, and
// refuses a value then.

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "capture/v4l2/V4l2Controls.h"

struct RecordedControl {
    uint32_t id = 0;
    std::string name;
    uint32_t type = 0;
    int64_t minimum = 0, maximum = 0, defaultValue = 0, value = 0;
    uint64_t step = 1;
    uint32_t flags = 0;
    std::map<uint32_t, std::string> menu;
};

class RecordedV4l2Camera : public lumora::v4l2::IControlDevice {
public:
    // The file's controls by id; empty when it cannot be read.
    explicit RecordedV4l2Camera(const std::string& fileName) {
        const auto path = std::filesystem::path(__FILE__).parent_path() / "data" / "v4l2" / fileName;
        std::ifstream in(path);
        std::string line;
        RecordedControl* last = nullptr;
        while (std::getline(in, line)) {
            if (line == "User Controls") AddClass(V4L2_CTRL_CLASS_USER | 1, "User Controls");
            if (line == "Camera Controls") AddClass(V4L2_CTRL_CLASS_CAMERA | 1, "Camera Controls");
            std::istringstream words(line);
            if (!line.empty() && line[0] == '\t') {  // "\t\t\t\t1: Manual Mode"
                uint32_t index = 0;
                char colon = 0;
                words >> index >> colon;
                std::string name;
                std::getline(words >> std::ws, name);
                if (last) last->menu[index] = name;
                continue;
            }
            RecordedControl control;
            std::string hexId, type;
            if (!(words >> control.name >> hexId >> type) || hexId.rfind("0x", 0) != 0) continue;
            control.id = static_cast<uint32_t>(std::stoul(hexId, nullptr, 16));
            control.type = type == "(bool)" ? V4L2_CTRL_TYPE_BOOLEAN
                           : type == "(menu)" ? V4L2_CTRL_TYPE_MENU
                                              : V4L2_CTRL_TYPE_INTEGER;
            if (control.type == V4L2_CTRL_TYPE_BOOLEAN) control.maximum = 1;
            std::string field;
            while (words >> field) {
                const auto equals = field.find('=');
                if (equals == std::string::npos) continue;
                const std::string key = field.substr(0, equals), text = field.substr(equals + 1);
                if (key == "flags") {
                    if (text.find("inactive") != std::string::npos) control.flags |= V4L2_CTRL_FLAG_INACTIVE;
                    if (text.find("read-only") != std::string::npos) control.flags |= V4L2_CTRL_FLAG_READ_ONLY;
                    continue;
                }
                const int64_t number = std::stoll(text);
                if (key == "min") control.minimum = number;
                if (key == "max") control.maximum = number;
                if (key == "step") control.step = static_cast<uint64_t>(number);
                if (key == "default") control.defaultValue = number;
                if (key == "value") control.value = number;
            }
            last = &(controls[control.id] = control);
        }
    }

    int Ioctl(unsigned long request, void* argument) override {
        ++calls[request];
        if (request == VIDIOC_QUERY_EXT_CTRL) return Query(*static_cast<v4l2_query_ext_ctrl*>(argument));
        if (request == VIDIOC_QUERYMENU) return QueryMenu(*static_cast<v4l2_querymenu*>(argument));
        if (request == VIDIOC_G_EXT_CTRLS) return Get(*static_cast<v4l2_ext_controls*>(argument));
        if (request == VIDIOC_S_EXT_CTRLS) return Set(*static_cast<v4l2_ext_controls*>(argument));
        return ENOTTY;
    }

    std::map<uint32_t, RecordedControl> controls;
    std::map<uint32_t, int> setFailures;  // control id -> errno of each set
    std::map<unsigned long, int> calls;

private:
    void AddClass(uint32_t id, const std::string& name) {
        RecordedControl control;
        control.id = id;
        control.name = name;
        control.type = V4L2_CTRL_TYPE_CTRL_CLASS;
        control.flags = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;
        controls[id] = control;
    }

    int Query(v4l2_query_ext_ctrl& query) {
        const uint32_t id = query.id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        auto it = (query.id & V4L2_CTRL_FLAG_NEXT_CTRL) ? controls.upper_bound(id) : controls.find(id);
        if (it == controls.end()) return EINVAL;
        const RecordedControl& c = it->second;
        query = v4l2_query_ext_ctrl{};
        query.id = c.id;
        query.type = c.type;
        std::strncpy(query.name, c.name.c_str(), sizeof query.name - 1);
        query.minimum = c.minimum;
        query.maximum = c.maximum;
        query.step = c.step;
        query.default_value = c.defaultValue;
        query.flags = c.flags;
        query.elem_size = 4;
        query.elems = 1;
        return 0;
    }

    int QueryMenu(v4l2_querymenu& item) {
        const auto control = controls.find(item.id);
        if (control == controls.end()) return EINVAL;
        const auto entry = control->second.menu.find(item.index);
        if (entry == control->second.menu.end()) return EINVAL;
        std::strncpy(reinterpret_cast<char*>(item.name), entry->second.c_str(), sizeof item.name - 1);
        return 0;
    }

    int Get(v4l2_ext_controls& request) {
        for (uint32_t i = 0; i < request.count; ++i) {
            const auto control = controls.find(request.controls[i].id);
            if (control == controls.end()) {
                request.error_idx = i;
                return EINVAL;
            }
            request.controls[i].value = static_cast<int32_t>(control->second.value);
        }
        return 0;
    }

    int Set(v4l2_ext_controls& request) {
        for (uint32_t i = 0; i < request.count; ++i) {
            const v4l2_ext_control& wanted = request.controls[i];
            const auto control = controls.find(wanted.id);
            request.error_idx = i;
            if (control == controls.end()) return EINVAL;
            if (const auto failure = setFailures.find(wanted.id); failure != setFailures.end()) return failure->second;
            if (control->second.flags & V4L2_CTRL_FLAG_INACTIVE) return EACCES;
            if (wanted.value < control->second.minimum || wanted.value > control->second.maximum) return ERANGE;
            control->second.value = wanted.value;
            FollowAutomatic(V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_WHITE_BALANCE_TEMPERATURE, 0);
            FollowAutomatic(V4L2_CID_EXPOSURE_AUTO, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_EXPOSURE_MANUAL);
            FollowAutomatic(V4L2_CID_FOCUS_AUTO, V4L2_CID_FOCUS_ABSOLUTE, 0);
        }
        return 0;
    }

    // `manual` is active only while `automatic` holds `manualValue`.
    void FollowAutomatic(uint32_t automatic, uint32_t manual, int64_t manualValue) {
        const auto a = controls.find(automatic);
        const auto m = controls.find(manual);
        if (a == controls.end() || m == controls.end()) return;
        if (a->second.value == manualValue)
            m->second.flags &= ~V4L2_CTRL_FLAG_INACTIVE;
        else
            m->second.flags |= V4L2_CTRL_FLAG_INACTIVE;
    }
};

// The settings of the camera of the current build, as the session offers
// them to the shell.

#include <algorithm>

#include "capture/CaptureSession.h"

namespace {

const char* const kNoCamera = "没有正在使用的摄像头：请先开始视频。";

bool IsSwitch(const CameraControl& control) { return control.type != CameraControl::Type::Integer; }

}  // namespace

bool CCaptureSession::ListCameraControls(std::vector<CameraControl>& controls, std::string& error) {
    controls.clear();
    ICameraControls* camera = graphBuilder ? graphBuilder->QueryCameraControls() : nullptr;
    if (!camera) {
        error = kNoCamera;
        return false;
    }
    return camera->List(controls, error);
}

bool CCaptureSession::SetCameraControl(uint32_t id, int32_t value, std::string& error) {
    ICameraControls* camera = graphBuilder ? graphBuilder->QueryCameraControls() : nullptr;
    if (!camera) {
        error = kNoCamera;
        return false;
    }
    return camera->Set(id, value, error);
}

std::vector<std::string> CCaptureSession::ApplyCameraControlValues(
    const std::vector<std::pair<std::string, int32_t>>& values) {
    std::vector<std::string> refused;
    std::vector<CameraControl> controls;
    std::string error;
    if (values.empty()) return refused;
    if (!ListCameraControls(controls, error)) {
        refused.push_back(error);
        return refused;
    }
    // A manual value is taken only once its automatic switch is off, so
    // the switches go first and the list is read again after them.
    for (const bool switches : {true, false}) {
        for (const CameraControl& control : controls) {
            if (IsSwitch(control) != switches || control.inactive) continue;
            const auto wanted = std::find_if(values.begin(), values.end(),
                                             [&control](const auto& value) { return value.first == control.key; });
            if (wanted == values.end() || wanted->second == control.value) continue;
            if (!SetCameraControl(control.id, wanted->second, error)) refused.push_back(error);
        }
        if (switches && !ListCameraControls(controls, error)) {
            refused.push_back(error);
            break;
        }
    }
    return refused;
}

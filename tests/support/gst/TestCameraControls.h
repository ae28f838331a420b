#pragma once
// The simulated camera's controls: a common UVC webcam's, with brightness,
// contrast and saturation set on its element.

#include <gst/gst.h>

#include <memory>

#include "capture/CameraControls.h"

namespace lumora::gst {

// `source`: a "lumoratestcamerasrc".
std::unique_ptr<ICameraControls> MakeTestCameraControls(GstElement* source);

}  // namespace lumora::gst

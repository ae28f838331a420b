#pragma once
// The controls of a graph's camera, by what its element is: those of a
// provider that knows it (PlatformSeams.h), a V4L2 device's (also when
// PipeWire streams it), or what GStreamer's colour balance offers.

#include <gst/gst.h>

#include <memory>

#include "capture/CameraControls.h"

namespace lumora::gst {

// `device`: the monitor's device the element was made from (may be null).
// Never null: a camera without controls lists none.
std::unique_ptr<ICameraControls> MakeCameraControls(GstElement* source, GstDevice* device);

}  // namespace lumora::gst

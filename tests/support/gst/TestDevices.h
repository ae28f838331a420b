#pragma once
// The simulated devices of LUMORA_TEST_SOURCES=1: "Lumora Test Pattern" (a
// camera with a webcam's modes) and "Lumora Test Tone" (a default sound
// input), published by an in-process device provider so that they come
// through the same device monitor as real devices: in the tests'
// processes, or in the program from the plugin in build/gst-plugins. LUMORA_TEST_CAMERA_MODES
// ("1920x1080@30/1:I420,1920x1080@30/1:MJPEG") replaces the camera's modes.

#include <gst/gst.h>

namespace lumora::gst {

// Registers the provider and the test camera's element in-process (a
// plugin of the process's own); once, after gst_init.
void RegisterTestDevices();
// The same in `plugin`: the development plugin that the program loads.
bool AddTestDevices(GstPlugin* plugin);

}  // namespace lumora::gst

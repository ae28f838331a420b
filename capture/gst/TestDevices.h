#pragma once
// The simulated devices of LUMORA_TEST_SOURCES=1: "Lumora Test Pattern" (a
// camera with a webcam's modes) and "Lumora Test Tone" (a default sound
// input), published by an in-process device provider so that they come
// through the same device monitor as real devices. LUMORA_TEST_CAMERA_MODES
// ("1920x1080@30/1:I420,1920x1080@30/1:MJPEG") replaces the camera's modes.

namespace lumora::gst {

// Registers the provider and the test camera's element; once, after gst_init.
void RegisterTestDevices();

}  // namespace lumora::gst

#pragma once
// "lumoratestcamerasrc": the element of the simulated camera. A live source
// that delivers moving frames in whatever mode is negotiated (raw layouts
// or real JPEG data), paced by the pipeline clock as a camera is. Frames
// are made once per mode and cycled, so its own cost stays small.

#include <gst/gst.h>

namespace lumora::gst {

// Registers the element in `plugin`.
bool RegisterTestCameraSource(GstPlugin* plugin);

// Running cameras fail with a read error, as one that is plugged out.
void FailRunningTestCameras();
// While set, a camera delivers no first frame (it can still be stopped).
void SetTestCameraStartStalled(bool stalled);

}  // namespace lumora::gst

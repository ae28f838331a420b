#pragma once
// A camera whose pictures are smaller than the raw format it announced
// (Debian 12's libcamera rounds some widths and then sends the smaller
// pictures) would be drawn as garbage or black and counted as shown: the
// first such picture fails the stream with a message instead, and none
// goes on.

#include <gst/gst.h>

namespace lumora::gst {

// Watches the pictures leaving `pad` (the camera's output); the failure is
// `camera`'s (its own element).
void CheckPictureSizes(GstPad* pad, GstElement* camera);

}  // namespace lumora::gst

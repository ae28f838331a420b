#pragma once
// A JPEG camera's damaged frames (a USB webcam sends some under bandwidth
// pressure, at times many in a row) are dropped where they are decoded or
// stored, and the picture goes on with the next good frame (jpegdec drops
// them itself, never giving up). Only frames that keep coming for seconds
// with no good picture among them are the camera's failure.

#include <gst/gst.h>

#include <chrono>
#include <string>

namespace lumora::gst {

// JPEG frames whose headers cannot be read (noise after the start marker)
// are dropped before they reach `element`. A frame cut short passes: its
// top is still a picture.
void DropUnreadableJpeg(GstElement* element);

// An error whose text is `message` is posted from `decoder` once frames
// have kept reaching it for `limit` with no picture leaving it. A pause in
// the frames (a stop, a camera started again) begins the count afresh.
void WatchForUndecodableRun(GstElement* decoder, std::chrono::milliseconds limit, std::string message);

}  // namespace lumora::gst

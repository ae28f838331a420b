#pragma once
// Test hooks of the GStreamer platform (no GStreamer types, so tests need
// not include GStreamer).

namespace lumora::gst {

// Makes the video source of every running graph report a failure, as a
// camera that is unplugged does.
void SimulateSourceFailure();

}  // namespace lumora::gst

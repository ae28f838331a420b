#pragma once
// The parts of the test support that fill the platform's seams
// (capture/gst/PlatformSeams.h); TestSupport.cpp sets them all when a test
// program starts.

namespace lumora::gst {

// The graph observer that keeps the live graphs for GstTesting.h.
void WatchLiveGraphs();

}  // namespace lumora::gst

// The simulated devices as a loadable plugin: "Lumora Test Pattern" and
// "Lumora Test Tone" through their device provider, and the camera's
// element "lumoratestcamerasrc". The program built beside it loads it from
// build/gst-plugins with LUMORA_TEST_SOURCES=1; a bare gst-launch-1.0
// pipeline of the benchmark runs the very source the program previews
// (GST_PLUGIN_PATH=build/gst-plugins). The test programs register the same
// devices in-process instead, where the tests can unplug and stall them.

#include <gst/gst.h>

// The plugin's source module, which GST_PLUGIN_DEFINE names.
#define PACKAGE "lumora"

#include "tests/support/gst/TestDevices.h"

namespace {

gboolean InitPlugin(GstPlugin* plugin) { return lumora::gst::AddTestDevices(plugin); }

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, lumoratestcamera,
                  "The simulated devices of Lumora's tests and benchmarks", InitPlugin, "1.0", "LGPL", "lumora",
                  "https://example.org/lumora")

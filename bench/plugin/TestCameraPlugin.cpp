// The simulated camera's element, "lumoratestcamerasrc", as a loadable
// plugin, so that a bare gst-launch-1.0 pipeline can run the very source
// the program previews (GST_PLUGIN_PATH=build/gst-plugins). The program
// itself registers the element in-process under its own plugin.

#include <gst/gst.h>

// The plugin's source module, which GST_PLUGIN_DEFINE names.
#define PACKAGE "lumora"

#include "capture/gst/TestCameraSource.h"

namespace {

gboolean InitPlugin(GstPlugin* plugin) { return lumora::gst::RegisterTestCameraSource(plugin); }

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, lumoratestcamera,
                  "The simulated camera of Lumora's tests and benchmarks", InitPlugin, "1.0", "LGPL", "lumora",
                  "https://example.org/lumora")

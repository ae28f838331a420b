#pragma once
// The capture platform on GStreamer, which the application hands to the
// capture session. This header names no GStreamer type.

#include <memory>

#include "capture/CapturePlatform.h"
#include "capture/VideoWindow.h"

// `nativeWindows`: the application's windows are X11 windows or Wayland
// surfaces, which the platform's own video sink can draw the preview into.
std::unique_ptr<ICapturePlatform> CreateGstCapturePlatform(NativeVideoWindows nativeWindows = {});

// Settings of the process's environment that the GStreamer plugins read.
// Called before any thread starts (main, before the toolkit), so that no
// thread reads the environment while it changes; the platform calls it again
// at its start, which then changes nothing.
void PrepareGstEnvironment();

#pragma once
// The capture platform on GStreamer, which the application hands to the
// capture session. This header names no GStreamer type.

#include <memory>

#include "capture/CapturePlatform.h"

// `nativeVideoWindows`: the application's windows are X11 windows, which
// the platform's own video sink can draw the preview into.
std::unique_ptr<ICapturePlatform> CreateGstCapturePlatform(bool nativeVideoWindows = false);

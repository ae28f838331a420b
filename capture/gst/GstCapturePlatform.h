#pragma once
// The capture platform on GStreamer, which the application hands to the
// capture session. This header names no GStreamer type.

#include <memory>

#include "capture/CapturePlatform.h"

std::unique_ptr<ICapturePlatform> CreateGstCapturePlatform();

#pragma once
// Each camera once, by the road that gives its pictures. The device watch
// has the devices of every device provider, hidden ones too: libcamera's
// provider hides V4L2's, yet names only the cameras it can make an id for
// (no vivid, no v4l2loopback, no webcam whose USB controller the firmware
// does not describe). What other providers hide (PipeWire's, once it runs,
// hides V4L2's: its nodes are the same cameras, shared with other programs)
// stays hidden. So a camera may come three ways:
//   - V4L2's node, kept where it gives pictures (raw or JPEG; a node of raw
//     Bayer only is half of a camera that needs libcamera's processing);
//   - PipeWire's node over a V4L2 node that is listed: dropped;
//   - libcamera's camera over a USB webcam that V4L2 or PipeWire lists:
//     dropped (its id names the webcam's USB interface); any other
//     libcamera camera is kept, as only libcamera drives it.

#include <gst/gst.h>

#include <set>
#include <string>
#include <vector>

#include "capture/gst/GstHandles.h"

namespace lumora::gst {

// `hidden`: the providers whose devices stay out (by factory name).
std::vector<DevicePtr> OneRoadPerCamera(std::vector<DevicePtr> devices, const std::set<std::string>& hidden);

// The providers that `monitor`'s providers other than libcamera's hide, by
// the names of their factories.
std::set<std::string> HiddenProvidersBesideLibcamera(GstDeviceMonitor* monitor);
std::string ProviderOf(GstDevice* device);

}  // namespace lumora::gst

#pragma once
// A V4L2 camera's controls, read and set on its device node with the
// extended control ioctls. The node may be open elsewhere and streaming:
// controls are not bound to the stream.

#include <memory>
#include <string>

#include "capture/CameraControls.h"
#include "capture/gst/Result.h"

namespace lumora::v4l2 {

// The one call the controls make of the device, so that tests can answer
// it from a recorded camera. Returns 0, or the errno of the failed call.
class IControlDevice {
public:
    virtual ~IControlDevice() = default;
    virtual int Ioctl(unsigned long request, void* argument) = 0;
};

// The device node at `path` (/dev/video0), opened for its controls.
gst::Result<std::unique_ptr<IControlDevice>> OpenControlDevice(const std::string& path);

class V4l2CameraControls : public ICameraControls {
public:
    explicit V4l2CameraControls(std::unique_ptr<IControlDevice> device) : device(std::move(device)) {}

    // Integer, boolean and menu controls; the others (buttons, strings,
    // read-only values) are not offered.
    bool List(std::vector<CameraControl>& controls, std::string& error) override;
    bool Set(uint32_t id, int32_t value, std::string& error) override;

private:
    // false: no such control, or one of a kind not offered.
    bool Query(uint32_t id, CameraControl& control, int& code);
    bool ReadValues(std::vector<CameraControl>& controls);
    std::unique_ptr<IControlDevice> device;
};

// The key of a control (its name as `v4l2-ctl` prints it on current kernels,
// whatever the driver calls it), for the well-known ids; "" for others.
std::string KeyOfControlId(uint32_t id);
// A driver's control name as a key: "White Balance, Auto" -> "white_balance_auto".
std::string KeyOfDriverName(const std::string& name);

}  // namespace lumora::v4l2

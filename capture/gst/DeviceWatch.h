#pragma once
// The process's one device monitor: started when first wanted, it runs
// until the last holder lets go (the program's exit). Listings read the
// devices it knows; listeners hear of devices plugged in or out.
//
// Starting and stopping a monitor for each listing crashes some device
// providers (PipeWire's) and misses devices that come and go.

#include <gst/gst.h>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/gst/GstHandles.h"

namespace lumora::gst {

class DeviceWatch {
public:
    // The running watch, shared; made and started by the first caller.
    static std::shared_ptr<DeviceWatch> Acquire();
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // The devices of `deviceClass` ("Video/Source", "Audio/Source") now.
    std::vector<DevicePtr> Devices(const char* deviceClass);

    // `listener` hears (on a GStreamer thread) of each device added or
    // removed; the id given back takes it off again. A listener is never
    // called after RemoveListener returns.
    using Listener = std::function<void(GstDevice* device, bool added)>;
    int AddListener(Listener listener);
    void RemoveListener(int id);

private:
    DeviceWatch();
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace lumora::gst

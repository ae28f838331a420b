#pragma once
// The process's one device monitor: started when first wanted, it runs
// until the process ends. Listings read the devices it knows; listeners
// hear of devices plugged in or out.
//
// Starting and stopping a monitor for each listing crashes some device
// providers and misses devices that come and go. It is not stopped at exit
// either: PipeWire's provider (0.3.65) frees its registry twice in its stop
// once the connection it shares with PipeWire cameras has been dropped (a
// camera that never started, say); the process's end closes it cleanly.

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
    // Lets go of the process's hold: the watch stops when its last holder
    // goes, and the next Acquire starts a new one. Only for a test that
    // starts a sound server, and before GStreamer shuts down at the end of
    // the tests (with no PipeWire daemon).
    static void Release();
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

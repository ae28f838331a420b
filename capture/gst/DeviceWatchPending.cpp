// Stands in for the device watch until its implementation is merged: no
// devices, and no listener is ever called. Delete this file then.

#include "capture/gst/DeviceWatch.h"

#include <map>

namespace lumora::gst {

struct DeviceWatch::State {
    std::mutex mutex;
    std::map<int, Listener> listeners;
    int nextId = 0;
};

DeviceWatch::DeviceWatch() : state(std::make_unique<State>()) {}
DeviceWatch::~DeviceWatch() = default;

std::shared_ptr<DeviceWatch> DeviceWatch::Acquire() {
    static std::mutex mutex;
    static std::weak_ptr<DeviceWatch> current;
    std::lock_guard lock(mutex);
    std::shared_ptr<DeviceWatch> watch = current.lock();
    if (!watch) {
        watch.reset(new DeviceWatch);
        current = watch;
    }
    return watch;
}

std::vector<DevicePtr> DeviceWatch::Devices(const char*) { return {}; }

int DeviceWatch::AddListener(Listener listener) {
    std::lock_guard lock(state->mutex);
    state->listeners.emplace(state->nextId, std::move(listener));
    return state->nextId++;
}

void DeviceWatch::RemoveListener(int id) {
    std::lock_guard lock(state->mutex);
    state->listeners.erase(id);
}

}  // namespace lumora::gst

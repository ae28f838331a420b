#include "capture/gst/DeviceWatch.h"

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "capture/gst/CameraRoads.h"
#include "capture/gst/GstFilters.h"

namespace lumora::gst {

namespace {

std::mutex acquireMutex;
// The process's watch. Made on the heap and never destroyed at exit: see
// DeviceWatch.h for why it is not stopped then.
std::shared_ptr<DeviceWatch>* processWatch = new std::shared_ptr<DeviceWatch>();

}  // namespace

struct DeviceWatch::State {
    DeviceMonitorPtr monitor;
    BusPtr bus;
    bool started = false;

    // Held while a listener runs, so none runs after RemoveListener.
    std::mutex listenersMutex;
    std::map<int, Listener> listeners;
    int nextId = 1;

    // PipeWire's provider (1.4) replaces a device it was told more of, and
    // then names the one it replaced as removed: the replacement would stay
    // listed. What replaced what is kept (both held, so that no address is
    // taken again meanwhile), and a removal takes the latest; a device the
    // provider still lists after its removal is left out. What the provider
    // no longer lists is forgotten, so neither grows.
    struct Replacement {
        DevicePtr old, latest;
    };
    std::mutex goneMutex;
    std::map<GstDevice*, Replacement> replacements;  // by the replaced device
    std::map<GstDevice*, DevicePtr> gone;

    void Replaced(GstDevice* old, GstDevice* replacement) {
        std::lock_guard lock(goneMutex);
        replacements[old] = {Ref(old), Ref(replacement)};
    }
    void Removed(GstDevice* device) {
        std::lock_guard lock(goneMutex);
        gone[device] = Ref(device);
        for (auto it = replacements.find(device); it != replacements.end(); it = replacements.find(device)) {
            DevicePtr latest = std::move(it->second.latest);
            replacements.erase(it);
            device = latest.get();
            gone[device] = std::move(latest);
        }
    }
    void Added(GstDevice* device) {
        std::lock_guard lock(goneMutex);
        gone.erase(device);
    }
    // Leaves out what is gone.
    void LeaveOutGone(GList* listed, std::vector<DevicePtr>& devices) {
        std::set<GstDevice*> present;
        for (GList* item = listed; item; item = item->next) present.insert(GST_DEVICE(item->data));
        std::lock_guard lock(goneMutex);
        std::erase_if(gone, [&](const auto& entry) { return !present.count(entry.first); });
        std::erase_if(replacements, [&](const auto& entry) {
            return !present.count(entry.first) && !present.count(entry.second.latest.get());
        });
        std::erase_if(devices, [&](const DevicePtr& device) { return gone.count(device.get()) > 0; });
    }

    // No main loop runs: the bus is read as messages are posted.
    static GstBusSyncReply OnMessage(GstBus*, GstMessage* message, gpointer data) {
        auto* state = static_cast<State*>(data);
        GstDevice* device = nullptr;
        bool added = false;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED) {
            gst_message_parse_device_added(message, &device);
            added = true;
            if (device) state->Added(device);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED) {
            gst_message_parse_device_removed(message, &device);
            if (device) state->Removed(device);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_CHANGED) {
            GstDevice* old = nullptr;
            gst_message_parse_device_changed(message, &device, &old);
            if (device && old) state->Replaced(old, device);
            if (old) gst_object_unref(old);
            if (device) gst_object_unref(device);
            gst_message_unref(message);
            return GST_BUS_DROP;
        }
        if (device) {
            const DevicePtr held(device);
            std::lock_guard lock(state->listenersMutex);
            for (auto& [id, listener] : state->listeners) listener(device, added);
        }
        gst_message_unref(message);
        return GST_BUS_DROP;
    }
};

DeviceWatch::DeviceWatch() : state(std::make_unique<State>()) {
    EnsureInitialised();
    state->monitor = AdoptFloating(gst_device_monitor_new());
    gst_device_monitor_add_filter(state->monitor.get(), "Video/Source", nullptr);
    gst_device_monitor_add_filter(state->monitor.get(), "Audio/Source", nullptr);
    // Hidden providers too: Devices leaves out what they hide, but for what
    // libcamera's hides (CameraRoads.h).
    gst_device_monitor_set_show_all_devices(state->monitor.get(), TRUE);
    state->bus.reset(gst_device_monitor_get_bus(state->monitor.get()));
    gst_bus_set_sync_handler(state->bus.get(), &State::OnMessage, state.get(), nullptr);
    state->started = gst_device_monitor_start(state->monitor.get());
}

DeviceWatch::~DeviceWatch() {
    if (state->started) gst_device_monitor_stop(state->monitor.get());
    gst_bus_set_sync_handler(state->bus.get(), nullptr, nullptr, nullptr);
}

std::shared_ptr<DeviceWatch> DeviceWatch::Acquire() {
    std::lock_guard lock(acquireMutex);
    if (!*processWatch) processWatch->reset(new DeviceWatch());
    return *processWatch;
}

void DeviceWatch::Release() {
    std::shared_ptr<DeviceWatch> last;
    {
        std::lock_guard lock(acquireMutex);
        last = std::move(*processWatch);
    }
}

std::vector<DevicePtr> DeviceWatch::Devices(const char* deviceClass) {
    std::vector<DevicePtr> devices;
    if (!state->started) return devices;
    const ObjectListPtr all(gst_device_monitor_get_devices(state->monitor.get()));
    const std::set<std::string> hidden = HiddenProvidersBesideLibcamera(state->monitor.get());
    const bool cameras = std::strcmp(deviceClass, "Video/Source") == 0;
    for (GList* item = all.get(); item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        if (gst_device_has_classes(device, deviceClass) && (cameras || !hidden.count(ProviderOf(device))))
            devices.push_back(Ref(device));
    }
    state->LeaveOutGone(all.get(), devices);
    if (cameras) return OneRoadPerCamera(std::move(devices), hidden);
    return devices;
}

int DeviceWatch::AddListener(Listener listener) {
    std::lock_guard lock(state->listenersMutex);
    const int id = state->nextId++;
    state->listeners.emplace(id, std::move(listener));
    return id;
}

void DeviceWatch::RemoveListener(int id) {
    std::lock_guard lock(state->listenersMutex);
    state->listeners.erase(id);
}

}  // namespace lumora::gst

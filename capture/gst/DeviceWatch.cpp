#include "capture/gst/DeviceWatch.h"

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "capture/gst/GstFilters.h"

namespace lumora::gst {

namespace {

std::string StringProperty(const GstStructure* properties, const char* name) {
    const gchar* value = properties ? gst_structure_get_string(properties, name) : nullptr;
    return value ? value : "";
}

// "v4l2:/dev/video0" names the same node as "/dev/video0".
std::string WithoutApiPrefix(std::string path) {
    constexpr const char prefix[] = "v4l2:";
    if (path.rfind(prefix, 0) == 0) path.erase(0, sizeof prefix - 1);
    return path;
}

bool IsV4l2(const GstStructure* properties) { return StringProperty(properties, "device.api") == "v4l2"; }

// A camera that PipeWire offers again beside its V4L2 node: the V4L2 one
// is kept, so each camera is listed once.
std::vector<DevicePtr> WithoutTwins(std::vector<DevicePtr> devices) {
    std::set<std::string> v4l2Paths;
    for (const DevicePtr& device : devices) {
        const StructurePtr properties(gst_device_get_properties(device.get()));
        if (IsV4l2(properties.get())) {
            const std::string path = StringProperty(properties.get(), "device.path");
            if (!path.empty()) v4l2Paths.insert(path);
        }
    }
    if (v4l2Paths.empty()) return devices;
    std::vector<DevicePtr> kept;
    for (DevicePtr& device : devices) {
        const StructurePtr properties(gst_device_get_properties(device.get()));
        bool twin = false;
        if (!IsV4l2(properties.get())) {
            for (const char* key : {"api.v4l2.path", "object.path", "device.path"}) {
                const std::string path = WithoutApiPrefix(StringProperty(properties.get(), key));
                if (!path.empty() && v4l2Paths.count(path)) twin = true;
            }
        }
        if (!twin) kept.push_back(std::move(device));
    }
    return kept;
}

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

    // No main loop runs: the bus is read as messages are posted.
    static GstBusSyncReply OnMessage(GstBus*, GstMessage* message, gpointer data) {
        auto* state = static_cast<State*>(data);
        GstDevice* device = nullptr;
        bool added = false;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED) {
            gst_message_parse_device_added(message, &device);
            added = true;
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED) {
            gst_message_parse_device_removed(message, &device);
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
    for (GList* item = all.get(); item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        if (gst_device_has_classes(device, deviceClass)) devices.push_back(Ref(device));
    }
    return WithoutTwins(std::move(devices));
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

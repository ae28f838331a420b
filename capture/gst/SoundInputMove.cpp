#include "capture/gst/SoundInputMove.h"

#include "capture/gst/DeviceWatch.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/PlatformMessages.h"
#include "capture/gst/SoundGapFiller.h"

namespace lumora::gst {

namespace {

struct MoveWatch {
    std::string input;   // as the user knows it
    std::string device;  // the server's name of it
    std::weak_ptr<SoundGapFiller> filler;
};

std::string StringProperty(gpointer object, const char* name) {
    if (!g_object_class_find_property(G_OBJECT_GET_CLASS(object), name)) return {};
    gchar* value = nullptr;
    g_object_get(object, name, &value, nullptr);
    std::string text = value ? value : "";
    g_free(value);
    return text;
}

// The name the device list shows for the server's input `device`.
std::string DisplayNameOf(const std::string& device) {
    for (const DevicePtr& listed : DeviceWatch::Acquire()->Devices("Audio/Source")) {
        std::string name = StringProperty(listed.get(), "internal-name");  // PulseAudio's
        if (name.empty()) {
            const StructurePtr properties(gst_device_get_properties(listed.get()));
            const gchar* node = properties ? gst_structure_get_string(properties.get(), "node.name") : nullptr;
            name = node ? node : "";  // PipeWire's
        }
        const TextPtr shown(gst_device_get_display_name(listed.get()));
        if (name == device && shown) return shown.get();
    }
    return device;
}

// The server's thread.
void OnDeviceChanged(GObject* source, GParamSpec*, gpointer data) {
    auto* watch = static_cast<MoveWatch*>(data);
    const std::string now = StringProperty(source, "current-device");
    if (now.empty() || now == watch->device) return;
    if (watch->device.empty()) {  // the server's default, now known
        watch->device = now;
        return;
    }
    if (const std::shared_ptr<SoundGapFiller> filler = watch->filler.lock())
        filler->Report(messages::SoundInputMoved(watch->input, DisplayNameOf(now)));
}

}  // namespace

void WatchForAMove(GstElement* source, const std::string& input, const std::shared_ptr<SoundGapFiller>& filler) {
    if (!g_object_class_find_property(G_OBJECT_GET_CLASS(source), "current-device")) return;
    auto* watch = new MoveWatch{input, StringProperty(source, "device"), filler};
    g_signal_connect_data(source, "notify::current-device", G_CALLBACK(&OnDeviceChanged), watch,
                          [](gpointer data, GClosure*) { delete static_cast<MoveWatch*>(data); },
                          static_cast<GConnectFlags>(0));
}

}  // namespace lumora::gst

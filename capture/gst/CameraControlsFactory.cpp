#include "capture/gst/CameraControlsFactory.h"

#include <gst/video/colorbalance.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "capture/gst/GstHandles.h"
#include "capture/gst/PlatformMessages.h"
#include "capture/gst/PlatformSeams.h"
#include "capture/v4l2/V4l2Controls.h"

namespace lumora::gst {

namespace {

// A camera with nothing to set, or one whose device could not be opened
// (said when listed).
class NoControls : public ICameraControls {
public:
    explicit NoControls(std::string why = {}) : reason(std::move(why)) {}
    bool List(std::vector<CameraControl>& controls, std::string& error) override {
        controls.clear();
        if (reason.empty()) return true;
        error = reason;
        return false;
    }
    bool Set(uint32_t, int32_t, std::string& error) override {
        error = reason.empty() ? messages::NoCameraSettings() : reason;
        return false;
    }

private:
    std::string reason;
};

// The channels of GStreamer's colour balance (brightness, contrast, hue,
// saturation on most sources that offer it), each an integer control.
class ColorBalanceControls : public ICameraControls {
public:
    explicit ColorBalanceControls(GstElement* source) : element(Ref(source)) {}

    bool List(std::vector<CameraControl>& controls, std::string&) override {
        controls.clear();
        GstColorBalance* balance = GST_COLOR_BALANCE(element.get());
        uint32_t id = 0;
        for (const GList* item = gst_color_balance_list_channels(balance); item; item = item->next) {
            auto* channel = GST_COLOR_BALANCE_CHANNEL(item->data);
            CameraControl control;
            control.id = ++id;
            control.key = KeyOf(channel->label);
            control.name = CameraControlDisplayName(control.key);
            if (control.name.empty()) control.name = channel->label;
            control.minimum = channel->min_value;
            control.maximum = channel->max_value;
            // The interface tells no default: the middle, where sources start.
            control.defaultValue = channel->min_value + (channel->max_value - channel->min_value) / 2;
            control.value = gst_color_balance_get_value(balance, channel);
            controls.push_back(std::move(control));
        }
        return true;
    }

    bool Set(uint32_t id, int32_t value, std::string& error) override {
        std::vector<CameraControl> controls;
        List(controls, error);
        if (id == 0 || id > controls.size()) {
            error = messages::NoSuchCameraSetting(id);
            return false;
        }
        if (!CheckCameraControlValue(controls[id - 1], value, error)) return false;
        GstColorBalance* balance = GST_COLOR_BALANCE(element.get());
        auto* channel = GST_COLOR_BALANCE_CHANNEL(g_list_nth_data(
            const_cast<GList*>(gst_color_balance_list_channels(balance)), id - 1));
        gst_color_balance_set_value(balance, channel, value);
        return true;
    }

private:
    // "BRIGHTNESS", "Brightness" or "Contrast, Auto" as keys of the known names.
    static std::string KeyOf(const char* label) {
        std::string key = v4l2::KeyOfDriverName(label ? label : "");
        if (key == "white_balance_auto" || key == "white_balance_temperature_auto") return "white_balance_automatic";
        return key;
    }
    ElementPtr element;
};

std::string PropertyText(const GstStructure* properties, const char* key) {
    const gchar* value = properties ? gst_structure_get_string(properties, key) : nullptr;
    return value ? value : "";
}

// The V4L2 node behind a device of the V4L2 or the PipeWire provider;
// "" for others.
std::string V4l2NodeOf(GstDevice* device) {
    if (!device) return {};
    const StructurePtr properties{gst_device_get_properties(device)};
    for (const char* key : {"api.v4l2.path", "device.path", "object.path"}) {
        std::string path = PropertyText(properties.get(), key);
        if (path.rfind("v4l2:", 0) == 0) path.erase(0, std::strlen("v4l2:"));
        if (path.rfind("/dev/video", 0) == 0) return path;
    }
    return {};
}

std::mutex providersMutex;
std::vector<CameraControlsProvider>& Providers() {
    static std::vector<CameraControlsProvider> providers;
    return providers;
}

std::unique_ptr<ICameraControls> FromProviders(GstElement* source, GstDevice* device) {
    std::vector<CameraControlsProvider> providers;
    {
        std::lock_guard lock(providersMutex);
        providers = Providers();
    }
    for (auto provider = providers.rbegin(); provider != providers.rend(); ++provider)
        if (std::unique_ptr<ICameraControls> controls = (*provider)(source, device)) return controls;
    return nullptr;
}

}  // namespace

void AddCameraControlsProvider(CameraControlsProvider provider) {
    std::lock_guard lock(providersMutex);
    Providers().push_back(std::move(provider));
}

std::unique_ptr<ICameraControls> MakeCameraControls(GstElement* source, GstDevice* device) {
    if (!source) return std::make_unique<NoControls>();
    if (std::unique_ptr<ICameraControls> provided = FromProviders(source, device)) return provided;
    const std::string node = V4l2NodeOf(device);
    if (!node.empty()) {
        Result<std::unique_ptr<v4l2::IControlDevice>> opened = v4l2::OpenControlDevice(node);
        if (!opened.ok()) return std::make_unique<NoControls>(opened.error());
        return std::make_unique<v4l2::V4l2CameraControls>(std::move(opened).value());
    }
    if (GST_IS_COLOR_BALANCE(source)) return std::make_unique<ColorBalanceControls>(source);
    return std::make_unique<NoControls>();
}

}  // namespace lumora::gst

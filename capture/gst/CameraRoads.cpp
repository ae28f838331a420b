#include "capture/gst/CameraRoads.h"

#include <algorithm>
#include <set>
#include <string>

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

// V4L2's own device; PipeWire's node of a V4L2 camera says "v4l2" as its api too.
bool IsV4l2(GstDevice* device) { return ProviderOf(device) == "v4l2deviceprovider"; }

// Raw Bayer alone: no picture before an image processor.
bool OnlyBayer(GstDevice* device) {
    const CapsPtr caps(gst_device_get_caps(device));
    if (!caps || gst_caps_is_empty(caps.get()) || gst_caps_is_any(caps.get())) return false;
    for (guint i = 0; i < gst_caps_get_size(caps.get()); ++i)
        if (!gst_structure_has_name(gst_caps_get_structure(caps.get(), i), "video/x-bayer")) return false;
    return true;
}

// The USB interface a V4L2 node belongs to ("1-8:1.0" of
// /sys/devices/.../1-8/1-8:1.0/video4linux/video0); "" for another bus.
std::string UsbInterface(const GstStructure* properties) {
    const std::string sysfs = StringProperty(properties, "sysfs.path");
    const std::string::size_type end = sysfs.find("/video4linux/");
    if (end == std::string::npos) return "";
    const std::string parent = sysfs.substr(0, end);
    std::string last = parent.substr(parent.rfind('/') + 1);
    return last.find(':') != std::string::npos && last.find('-') != std::string::npos ? last : "";
}

// libcamera's id of a USB camera: "<controller>-<interface>-<vendor>:<product>".
bool NamesInterface(const std::string& cameraId, const std::string& interface) {
    return !interface.empty() && cameraId.find("-" + interface + "-") != std::string::npos;
}

std::string LibcameraId(GstDevice* device) {
    const TextPtr name(gst_device_get_display_name(device));
    return name ? name.get() : "";
}

}  // namespace

std::string ProviderOf(GstDevice* device) {
    const ObjectPtr<GstObject> parent(gst_object_get_parent(GST_OBJECT(device)));
    if (!parent || !GST_IS_DEVICE_PROVIDER(parent.get())) return "";
    GstDeviceProviderFactory* factory = gst_device_provider_get_factory(GST_DEVICE_PROVIDER(parent.get()));
    return factory ? GST_OBJECT_NAME(factory) : "";
}

std::set<std::string> HiddenProvidersBesideLibcamera(GstDeviceMonitor* monitor) {
    std::set<std::string> hidden;
    gchar** names = gst_device_monitor_get_providers(monitor);
    for (gchar** name = names; name && *name; ++name) {
        if (std::string(*name) == "libcameraprovider") continue;
        const ObjectPtr<GstDeviceProvider> provider(gst_device_provider_factory_get_by_name(*name));
        gchar** hides = provider ? gst_device_provider_get_hidden_providers(provider.get()) : nullptr;
        for (gchar** hide = hides; hide && *hide; ++hide) hidden.insert(*hide);
        g_strfreev(hides);
    }
    g_strfreev(names);
    return hidden;
}

std::vector<DevicePtr> OneRoadPerCamera(std::vector<DevicePtr> devices, const std::set<std::string>& hidden) {
    std::set<std::string> v4l2Paths, usbInterfaces, libcameraIds;
    std::vector<DevicePtr> kept;
    for (DevicePtr& device : devices) {
        const StructurePtr properties(gst_device_get_properties(device.get()));
        // A webcam that PipeWire shares is still told by its node.
        if (IsV4l2(device.get())) usbInterfaces.insert(UsbInterface(properties.get()));
        if (hidden.count(ProviderOf(device.get()))) continue;
        if (IsV4l2(device.get()) && OnlyBayer(device.get())) continue;
        if (IsV4l2(device.get())) {
            const std::string path = StringProperty(properties.get(), "device.path");
            if (!path.empty()) v4l2Paths.insert(path);
        }
        kept.push_back(std::move(device));
    }
    usbInterfaces.erase("");
    const auto listedWebcam = [&](const std::string& cameraId) {
        return std::any_of(usbInterfaces.begin(), usbInterfaces.end(),
                           [&](const std::string& interface) { return NamesInterface(cameraId, interface); });
    };
    for (const DevicePtr& device : kept) {
        if (ProviderOf(device.get()) != "libcameraprovider") continue;
        const std::string id = LibcameraId(device.get());
        if (!listedWebcam(id)) libcameraIds.insert(id);
    }
    std::vector<DevicePtr> roads;
    for (DevicePtr& device : kept) {
        const StructurePtr properties(gst_device_get_properties(device.get()));
        bool twin = false;
        if (ProviderOf(device.get()) == "libcameraprovider") {
            twin = !libcameraIds.count(LibcameraId(device.get()));
        } else if (!IsV4l2(device.get())) {
            for (const char* key : {"api.v4l2.path", "object.path", "device.path"}) {
                const std::string path = WithoutApiPrefix(StringProperty(properties.get(), key));
                if (!path.empty() && v4l2Paths.count(path)) twin = true;
            }
            const std::string camera = StringProperty(properties.get(), "api.libcamera.path");
            if (!camera.empty() && (libcameraIds.count(camera) || listedWebcam(camera))) twin = true;
        }
        if (!twin) roads.push_back(std::move(device));
    }
    return roads;
}

}  // namespace lumora::gst

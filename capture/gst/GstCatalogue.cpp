// The device catalogue on GStreamer: capture devices from the device watch
// (with the simulated ones when LUMORA_TEST_SOURCES=1), compressors from the
// installed encoders that the AVI multiplexer takes (Matroska and MP4 hold
// those or fewer: RecordingContainers.h).

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "capture/gst/DeviceWatch.h"
#include "capture/gst/GstCapturePlatform.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/PlatformMessages.h"
#include "capture/gst/PlatformSeams.h"
#include "capture/gst/RecordingContainers.h"

namespace lumora::gst {

namespace {

bool TestSourcesWanted() {
    const char* value = std::getenv("LUMORA_TEST_SOURCES");
    return value && std::strcmp(value, "1") == 0;
}

std::function<void()>& SimulatedDeviceLoader() {
    static std::function<void()> load;
    return load;
}

// A build tree puts its development plugins (the simulated devices) in
// gst-plugins/ beside the program; an installed program has none there.
void AddDevelopmentPlugins() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return;
    const std::filesystem::path folder = program.parent_path() / "gst-plugins";
    if (std::filesystem::is_directory(folder, error))
        gst_registry_scan_path(gst_registry_get(), folder.c_str());
}

}  // namespace

void SetSimulatedDeviceLoader(std::function<void()> load) { SimulatedDeviceLoader() = std::move(load); }

void EnsureInitialised() {
    static std::once_flag once;
    std::call_once(once, [] {
        PrepareGstEnvironment();
        gst_init(nullptr, nullptr);
        // Before any device monitor starts, so it finds the simulated devices.
        if (TestSourcesWanted()) {
            if (SimulatedDeviceLoader())
                SimulatedDeviceLoader()();
            else
                AddDevelopmentPlugins();
        }
    });
}

}  // namespace lumora::gst

void PrepareGstEnvironment() {
    // A V4L2 camera's buffer pool is drained at stop rather than orphaned:
    // Debian 12's V4L2 plugin (1.22.0) never frees an orphaned pool, which
    // holds the element and a duplicate of the device node's descriptor, so
    // every pipeline that had streamed kept the node open (an unplugged
    // webcam then came back under another node).
    g_setenv("GST_V4L2_FORCE_DRAIN", "1", FALSE);  // a value the user set stays
}

namespace lumora::gst {

Result<GstElement*> MakeElement(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (!element) return Fail(messages::ElementMissing(factory));
    return element;
}

Result<GstElement*> AddElement(GstBin* bin, const char* factory) {
    Result<GstElement*> element = MakeElement(factory);
    if (element.ok()) gst_bin_add(bin, element.value());
    return element;
}

Status LinkElements(GstElement* a, GstElement* b) {
    if (gst_element_link(a, b)) return Ok();
    return Fail(messages::CannotLink(GST_ELEMENT_NAME(a), GST_ELEMENT_NAME(b)));
}

Status LinkChain(std::initializer_list<GstElement*> chain) {
    GstElement* previous = nullptr;
    for (GstElement* element : chain) {
        if (previous) {
            Status linked = LinkElements(previous, element);
            if (!linked.ok()) return linked;
        }
        previous = element;
    }
    return Ok();
}

namespace {

// ---------------------------------------------------------------- entries

struct EntryData {
    std::string name;
    std::shared_ptr<GstFilter> filter;
    std::string path;  // devices only
};

class Entry : public IMoniker {
public:
    explicit Entry(EntryData d) : data(std::move(d)) {}
    HRESULT ReadFriendlyName(std::string& out) override {
        out = data.name;
        return S_OK;
    }
    HRESULT ReadDevicePath(std::string& out) override {
        out = data.path;
        return data.path.empty() ? E_NOTIMPL : S_OK;
    }
    HRESULT BindToObject(FilterPtr& target) override {
        target = data.filter;
        return S_OK;
    }

private:
    EntryData data;
};

class EntryEnumerator : public IEnumMoniker {
public:
    explicit EntryEnumerator(std::vector<EntryData> e) : entries(std::move(e)) {}
    void Reset() override { position = 0; }
    HRESULT Next(std::unique_ptr<IMoniker>& entry) override {
        if (position >= entries.size()) return S_FALSE;
        entry = std::make_unique<Entry>(entries[position++]);
        return S_OK;
    }

private:
    std::vector<EntryData> entries;
    std::size_t position = 0;
};

std::string DeviceSortKey(GstDevice* device) {
    std::string key;
    if (const StructurePtr properties{gst_device_get_properties(device)}) {
        const TextPtr text(gst_structure_to_string(properties.get()));
        key = text ? text.get() : "";
    }
    return key;
}

bool IsSimulated(const GstStructure* properties) {
    gboolean flag = FALSE;
    return properties && gst_structure_get_boolean(properties, "lumora.simulated", &flag) && flag;
}

// Inputs in the order the system means them: its default sound input, then
// the simulated devices of the tests, then the other microphones, and the
// monitors of outputs (loopbacks of what the speakers play) last. Cameras
// keep the order of their names, simulated ones after real ones.
int InputRank(GstDevice* device, const std::string& name, SourceKind kind) {
    const StructurePtr properties{gst_device_get_properties(device)};
    const bool simulated = IsSimulated(properties.get());
    if (kind != SourceKind::Audio) return simulated ? 1 : 0;
    if (simulated) return 1;
    bool isDefault = false, isMonitor = name.rfind("Monitor of ", 0) == 0;
    if (properties) {
        gboolean flag = FALSE;
        if (gst_structure_get_boolean(properties.get(), "is-default", &flag)) isDefault = flag;
        const gchar* deviceClass = gst_structure_get_string(properties.get(), "device.class");
        if (deviceClass && std::strcmp(deviceClass, "monitor") == 0) isMonitor = true;
    }
    return isDefault ? 0 : isMonitor ? 3 : 2;
}

// The same for a device each time it is listed: its name and the system's
// name of its node, where it has one.
std::string DevicePath(GstDevice* device, const std::string& name) {
    const StructurePtr properties{gst_device_get_properties(device)};
    if (properties) {
        for (const char* key : {"node.name", "device.bus_path", "api.v4l2.cap.bus_info", "device.path", "object.path"}) {
            const gchar* value = gst_structure_get_string(properties.get(), key);
            if (value && *value) return name + "|" + value;
        }
    }
    return name;
}

// What tells a device apart from another at the same place: its node (V4L2),
// or the object PipeWire made of it; its place in the listing without one.
std::string NodeOf(GstDevice* device, std::size_t index) {
    const StructurePtr properties{gst_device_get_properties(device)};
    if (properties) {
        for (const char* key : {"device.path", "api.v4l2.path", "object.serial", "object.id"}) {
            const GValue* value = gst_structure_get_value(properties.get(), key);
            if (!value) continue;
            const TextPtr text(G_VALUE_HOLDS_STRING(value) ? g_value_dup_string(value) : g_strdup_value_contents(value));
            if (text && *text.get()) return text.get();
        }
    }
    return std::to_string(index + 1);
}

std::vector<EntryData> ListDevices(DeviceWatch& watch, const char* deviceClass, SourceKind kind) {
    struct Found {
        int rank;
        std::string name, key;
        GstDevice* device;
    };
    const bool withSimulated = TestSourcesWanted();
    const std::vector<DevicePtr> devices = watch.Devices(deviceClass);
    std::vector<Found> found;
    for (const DevicePtr& device : devices) {
        if (!withSimulated) {
            const StructurePtr properties{gst_device_get_properties(device.get())};
            if (IsSimulated(properties.get())) continue;
        }
        const TextPtr name(gst_device_get_display_name(device.get()));
        const std::string displayName = name ? name.get() : "";
        found.push_back({InputRank(device.get(), displayName, kind), displayName, DeviceSortKey(device.get()),
                         device.get()});
    }
    // The monitor's order can change between calls; list indexes must not.
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.rank != b.rank) return a.rank < b.rank;
        return a.name != b.name ? a.name < b.name : a.key < b.key;
    });
    std::vector<EntryData> entries;
    std::map<std::string, int> named, identified;
    for (const Found& f : found) {
        // Two of one name (identical webcams, a driver's instances) are shown
        // apart, the later ones numbered in the listing's lasting order.
        const int nameCount = ++named[f.name];
        std::string shown = f.name;
        if (nameCount > 1) shown += " (" + std::to_string(nameCount) + ")";
        entries.push_back({shown, MakeDeviceFilter(f.device, kind), DevicePath(f.device, f.name)});
        ++identified[entries.back().path];
    }
    // Two of one identity (nodes of one bus device) are told apart by their
    // node; a camera without a twin keeps the identity it always had.
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (identified[entries[i].path] > 1) entries[i].path += "|" + NodeOf(found[i].device, i);
    return entries;
}

std::vector<EntryData> ListEncoders(bool video) {
    std::vector<EntryData> entries;
    const CapsPtr muxerCaps = MuxerSinkCaps("avimux", video ? "video_%u" : "audio_%u");
    if (!muxerCaps) return entries;
    const FeatureListPtr factories(
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_ENCODER, GST_RANK_NONE));
    std::vector<GstElementFactory*> chosen;
    for (GList* item = factories.get(); item; item = item->next) {
        auto* factory = GST_ELEMENT_FACTORY(item->data);
        const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
        if (!klass || !std::strstr(klass, "Encoder")) continue;
        // Still-image encoders such as JPEG make motion-JPEG video in an AVI.
        const bool isVideo = std::strstr(klass, "Video") || std::strstr(klass, "Image");
        const bool isAudio = std::strstr(klass, "Audio");
        if (video ? !isVideo : !isAudio) continue;
        if (FactoryOutputFits(factory, muxerCaps.get()) && EncoderRecordsLive(GST_OBJECT_NAME(factory)))
            chosen.push_back(factory);
    }
    std::sort(chosen.begin(), chosen.end(), [](GstElementFactory* a, GstElementFactory* b) {
        const guint ra = gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(a));
        const guint rb = gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(b));
        if (ra != rb) return ra > rb;
        return std::strcmp(GST_OBJECT_NAME(a), GST_OBJECT_NAME(b)) < 0;
    });
    std::set<std::string> names;
    for (GstElementFactory* factory : chosen) {
        const char* longName = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
        std::string name = longName ? longName : GST_OBJECT_NAME(factory);
        // Two encoders can share a long name (avenc_ac3, avenc_ac3_fixed):
        // the later one is told apart by its factory, the first keeps its name.
        if (!names.insert(name).second) {
            name += std::string(" (") + GST_OBJECT_NAME(factory) + ")";
            names.insert(name);
        }
        entries.push_back({name, MakeEncoderFilter(GST_OBJECT_NAME(factory)), ""});
    }
    return entries;
}

class DeviceEnumerator : public ICreateDevEnum {
public:
    explicit DeviceEnumerator(std::shared_ptr<DeviceWatch> w) : watch(std::move(w)) {}
    HRESULT CreateClassEnumerator(DeviceCategory category, std::unique_ptr<IEnumMoniker>& out) override {
        std::vector<EntryData> entries;
        switch (category) {
        case DeviceCategory::VideoInputDevice:
            entries = ListDevices(*watch, "Video/Source", SourceKind::Video);
            break;
        case DeviceCategory::AudioInputDevice:
            entries = ListDevices(*watch, "Audio/Source", SourceKind::Audio);
            break;
        case DeviceCategory::VideoCompressor: entries = ListEncoders(true); break;
        case DeviceCategory::AudioCompressor: entries = ListEncoders(false); break;
        }
        if (entries.empty()) {
            out.reset();
            return S_FALSE;
        }
        out = std::make_unique<EntryEnumerator>(std::move(entries));
        return S_OK;
    }

private:
    std::shared_ptr<DeviceWatch> watch;
};

}  // namespace

std::vector<std::string> ListedCompressorsHeldBy(MediaSubtype container, bool video) {
    std::vector<std::string> names;
    for (const EntryData& entry : ListEncoders(video))
        if (ContainerHolds(container, entry.filter.get(), video))
            names.push_back(entry.name);
    return names;
}

std::string ListedCompressorName(const GstFilter& compressor, bool video) {
    for (const EntryData& entry : ListEncoders(video))
        if (entry.filter && entry.filter->FactoryName() == compressor.FactoryName())
            return entry.name;
    return compressor.Describe();
}

std::unique_ptr<ICreateDevEnum> MakeDeviceEnumerator(std::shared_ptr<DeviceWatch> watch) {
    return std::make_unique<DeviceEnumerator>(std::move(watch));
}

}  // namespace lumora::gst

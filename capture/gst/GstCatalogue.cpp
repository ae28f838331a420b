// The device catalogue on GStreamer: capture devices from the device
// monitor, compressors from the installed encoders that the AVI multiplexer
// takes, and the built-in test sources when LUMORA_TEST_SOURCES=1.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/GstTesting.h"

namespace lumora::gst {

void EnsureInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

GstElement* MakeElement(const char* factory, std::string& error) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (!element) error = std::string("the GStreamer element \"") + factory + "\" is not installed";
    return element;
}

namespace {

std::atomic<int> testPatternWidth{640};
std::atomic<int> testPatternHeight{480};
std::atomic<int> testPatternRate{30};
std::atomic<bool> testToneStalled{false};

// A stalled tone hands on a buffer of 10 ms only every 400 ms, as a sound
// device that hangs does; it never blocks longer, so a stop still ends it.
GstPadProbeReturn SlowDownWhenStalled(GstPad*, GstPadProbeInfo*, gpointer) {
    if (testToneStalled.load()) std::this_thread::sleep_for(std::chrono::milliseconds(400));
    return GST_PAD_PROBE_OK;
}

bool TestSourcesWanted() {
    const char* value = std::getenv("LUMORA_TEST_SOURCES");
    return value && std::strcmp(value, "1") == 0;
}

// Adds the elements to `bin` and links them in order; the chain's first and
// last element are returned (the bin owns them).
bool AddLinked(GstBin* bin, const std::vector<ElementPtr>& chain, GstElement*& first, GstElement*& last,
               std::string& error) {
    for (const ElementPtr& element : chain) gst_bin_add(bin, element.get());
    for (std::size_t i = 1; i < chain.size(); ++i) {
        if (!gst_element_link(chain[i - 1].get(), chain[i].get())) {
            error = std::string("cannot link ") + GST_ELEMENT_NAME(chain[i - 1].get()) + " to " +
                    GST_ELEMENT_NAME(chain[i].get());
            return false;
        }
    }
    first = chain.front().get();
    last = chain.back().get();
    return true;
}

bool MakeAll(const std::vector<const char*>& factories, std::vector<ElementPtr>& out, std::string& error) {
    for (const char* factory : factories) {
        ElementPtr element = AdoptFloating(MakeElement(factory, error));
        if (!element) {
            out.clear();
            return false;
        }
        out.push_back(std::move(element));
    }
    return true;
}

void SetCaps(GstElement* capsfilter, CapsPtr caps) { g_object_set(capsfilter, "caps", caps.get(), nullptr); }

bool CapsOfferRaw(GstCaps* caps, const char* mediaType) {
    if (!caps) return false;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
        if (gst_structure_has_name(gst_caps_get_structure(caps, i), mediaType)) return true;
    return false;
}

class DeviceFilter : public GstFilter {
public:
    DeviceFilter(GstDevice* dev, SourceKind k) : device(Ref(dev)), kind(k) {}

    bool AddChain(GstBin* bin, GstElement*& first, GstElement*& last, std::string& error) const override {
        ElementPtr source = AdoptFloating(gst_device_create_element(device.get(), nullptr));
        if (!source) {
            error = "the device \"" + Describe() + "\" cannot be opened";
            return false;
        }
        std::vector<ElementPtr> chain;
        chain.push_back(std::move(source));
        if (kind == SourceKind::Video) {
            // Raw frames when the camera offers them; otherwise decode its MJPEG.
            const CapsPtr offered(gst_device_get_caps(device.get()));
            const bool raw = !offered || CapsOfferRaw(offered.get(), "video/x-raw");
            const bool jpeg = CapsOfferRaw(offered.get(), "image/jpeg");
            ElementPtr filter = AdoptFloating(MakeElement("capsfilter", error));
            if (!filter) return false;
            if (raw) {
                SetCaps(filter.get(), CapsPtr(gst_caps_new_empty_simple("video/x-raw")));
                chain.push_back(std::move(filter));
            } else if (jpeg) {
                SetCaps(filter.get(), CapsPtr(gst_caps_new_empty_simple("image/jpeg")));
                chain.push_back(std::move(filter));
                ElementPtr decoder = AdoptFloating(MakeElement("jpegdec", error));
                if (!decoder) return false;
                chain.push_back(std::move(decoder));
            } else {
                chain.push_back(std::move(filter));
            }
        }
        return AddLinked(bin, chain, first, last, error);
    }
    std::string Describe() const override {
        const TextPtr name(gst_device_get_display_name(device.get()));
        return name ? name.get() : "";
    }

private:
    DevicePtr device;
    SourceKind kind;
};

class TestPatternFilter : public GstFilter {
public:
    bool AddChain(GstBin* bin, GstElement*& first, GstElement*& last, std::string& error) const override {
        std::vector<ElementPtr> chain;
        if (!MakeAll({"videotestsrc", "capsfilter"}, chain, error)) return false;
        g_object_set(chain[0].get(), "is-live", TRUE, "horizontal-speed", 4, nullptr);
        SetCaps(chain[1].get(),
                CapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT,
                                            testPatternWidth.load(), "height", G_TYPE_INT, testPatternHeight.load(),
                                            "framerate", GST_TYPE_FRACTION, testPatternRate.load(), 1, nullptr)));
        return AddLinked(bin, chain, first, last, error);
    }
    std::string Describe() const override { return "Lumora Test Pattern"; }
};

class TestToneFilter : public GstFilter {
public:
    bool AddChain(GstBin* bin, GstElement*& first, GstElement*& last, std::string& error) const override {
        GstElement* source = MakeElement("audiotestsrc", error);
        if (!source) return false;
        g_object_set(source, "is-live", TRUE, "freq", 440.0, "volume", 0.2, "samplesperbuffer", 441, nullptr);
        const PadPtr output(gst_element_get_static_pad(source, "src"));
        gst_pad_add_probe(output.get(), GST_PAD_PROBE_TYPE_BUFFER, &SlowDownWhenStalled, nullptr, nullptr);
        gst_bin_add(bin, source);
        first = last = source;
        return true;
    }
    std::string Describe() const override { return "Lumora Test Tone"; }
};

// ---------------------------------------------------------------- entries

class Entry : public IMoniker {
public:
    Entry(std::string n, std::shared_ptr<GstFilter> f) : name(std::move(n)), filter(std::move(f)) {}
    HRESULT ReadFriendlyName(std::string& out) override {
        out = name;
        return S_OK;
    }
    HRESULT BindToObject(FilterPtr& target) override {
        target = filter;
        return S_OK;
    }

private:
    std::string name;
    std::shared_ptr<GstFilter> filter;
};

struct EntryData {
    std::string name;
    std::shared_ptr<GstFilter> filter;
};

class EntryEnumerator : public IEnumMoniker {
public:
    explicit EntryEnumerator(std::vector<EntryData> e) : entries(std::move(e)) {}
    void Reset() override { position = 0; }
    HRESULT Next(std::unique_ptr<IMoniker>& entry) override {
        if (position >= entries.size()) return S_FALSE;
        const EntryData& data = entries[position++];
        entry = std::make_unique<Entry>(data.name, data.filter);
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

// Sound inputs in the order the system means them: its default input, then
// the other microphones, and the monitors of outputs (loopbacks of what the
// speakers play) last. Cameras keep the order of their names.
int InputRank(GstDevice* device, const std::string& name, SourceKind kind) {
    if (kind != SourceKind::Audio) return 0;
    bool isDefault = false, isMonitor = name.rfind("Monitor of ", 0) == 0;
    if (const StructurePtr properties{gst_device_get_properties(device)}) {
        gboolean flag = FALSE;
        if (gst_structure_get_boolean(properties.get(), "is-default", &flag)) isDefault = flag;
        const gchar* deviceClass = gst_structure_get_string(properties.get(), "device.class");
        if (deviceClass && std::strcmp(deviceClass, "monitor") == 0) isMonitor = true;
    }
    return isDefault ? 0 : isMonitor ? 2 : 1;
}

std::vector<EntryData> ListDevices(const char* deviceClass, SourceKind kind) {
    std::vector<EntryData> entries;
    const DeviceMonitorPtr monitor = AdoptFloating(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), deviceClass, nullptr);
    if (gst_device_monitor_start(monitor.get())) {
        const ObjectListPtr devices(gst_device_monitor_get_devices(monitor.get()));
        struct Found {
            int rank;
            std::string name, key;
            GstDevice* device;
        };
        std::vector<Found> found;
        for (GList* item = devices.get(); item; item = item->next) {
            GstDevice* device = GST_DEVICE(item->data);
            const TextPtr name(gst_device_get_display_name(device));
            const std::string displayName = name ? name.get() : "";
            found.push_back({InputRank(device, displayName, kind), displayName, DeviceSortKey(device), device});
        }
        // The monitor's order can change between calls; list indexes must not.
        std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
            if (a.rank != b.rank) return a.rank < b.rank;
            return a.name != b.name ? a.name < b.name : a.key < b.key;
        });
        for (const Found& f : found) entries.push_back({f.name, MakeDeviceFilter(f.device, kind)});
        gst_device_monitor_stop(monitor.get());
    }
    return entries;
}

// The caps that the AVI multiplexer takes on its video or audio pads.
CapsPtr MuxerSinkCaps(const char* padTemplateName) {
    const ElementFactoryPtr mux(gst_element_factory_find("avimux"));
    if (!mux) return nullptr;
    CapsPtr result;
    for (const GList* item = gst_element_factory_get_static_pad_templates(mux.get()); item; item = item->next) {
        auto* templ = static_cast<GstStaticPadTemplate*>(item->data);
        if (templ->direction == GST_PAD_SINK && std::strcmp(templ->name_template, padTemplateName) == 0)
            result.reset(gst_static_caps_get(&templ->static_caps));
    }
    return result;
}

bool FactoryOutputFits(GstElementFactory* factory, GstCaps* muxerCaps) {
    for (const GList* item = gst_element_factory_get_static_pad_templates(factory); item; item = item->next) {
        auto* templ = static_cast<GstStaticPadTemplate*>(item->data);
        if (templ->direction != GST_PAD_SRC) continue;
        const CapsPtr caps(gst_static_caps_get(&templ->static_caps));
        if (gst_caps_can_intersect(caps.get(), muxerCaps)) return true;
    }
    return false;
}

std::vector<EntryData> ListEncoders(bool video) {
    std::vector<EntryData> entries;
    const CapsPtr muxerCaps = MuxerSinkCaps(video ? "video_%u" : "audio_%u");
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
    for (GstElementFactory* factory : chosen) {
        const char* longName = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
        entries.push_back({longName ? longName : GST_OBJECT_NAME(factory), MakeEncoderFilter(GST_OBJECT_NAME(factory))});
    }
    return entries;
}

class DeviceEnumerator : public ICreateDevEnum {
public:
    HRESULT CreateClassEnumerator(DeviceCategory category, std::unique_ptr<IEnumMoniker>& out) override {
        std::vector<EntryData> entries;
        switch (category) {
        case DeviceCategory::VideoInputDevice:
            entries = ListDevices("Video/Source", SourceKind::Video);
            if (TestSourcesWanted()) entries.push_back({"Lumora Test Pattern", MakeTestPatternFilter()});
            break;
        case DeviceCategory::AudioInputDevice:
            entries = ListDevices("Audio/Source", SourceKind::Audio);
            // The tone stands in for a microphone only where there is none.
            if (TestSourcesWanted() && entries.empty())
                entries.push_back({"Lumora Test Tone", MakeTestToneFilter()});
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
};

}  // namespace

void StallTestTone(bool stalled) { testToneStalled.store(stalled); }

void SetTestPatternFormat(int width, int height, int framesPerSecond) {
    testPatternWidth.store(width);
    testPatternHeight.store(height);
    testPatternRate.store(framesPerSecond);
}

std::shared_ptr<GstFilter> MakeDeviceFilter(GstDevice* device, SourceKind kind) {
    return std::make_shared<DeviceFilter>(device, kind);
}
std::shared_ptr<GstFilter> MakeTestPatternFilter() { return std::make_shared<TestPatternFilter>(); }
std::shared_ptr<GstFilter> MakeTestToneFilter() { return std::make_shared<TestToneFilter>(); }

std::unique_ptr<ICreateDevEnum> MakeDeviceEnumerator() {
    EnsureInitialised();
    return std::make_unique<DeviceEnumerator>();
}

}  // namespace lumora::gst

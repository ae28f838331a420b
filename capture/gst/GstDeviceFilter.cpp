// A capture device of the device monitor as a filter: its picture modes
// read from the caps it offers, and the chain that makes the camera run in
// the chosen one.

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "capture/gst/GstFilters.h"
#include "capture/VideoModes.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

// Adds the elements to `bin` and links them in order (the bin owns them).
Result<ElementChain> AddLinked(GstBin* bin, const std::vector<ElementPtr>& chain, bool deliversJpeg) {
    for (const ElementPtr& element : chain) gst_bin_add(bin, element.get());
    for (std::size_t i = 1; i < chain.size(); ++i) {
        Status linked = LinkElements(chain[i - 1].get(), chain[i].get());
        if (!linked.ok()) return Fail(linked.error());
    }
    return ElementChain{chain.front().get(), chain.back().get(), deliversJpeg};
}

bool CapsOffer(GstCaps* caps, const char* mediaType) {
    if (!caps) return false;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
        if (gst_structure_has_name(gst_caps_get_structure(caps, i), mediaType)) return true;
    return false;
}

// The largest of an int or an int range; 0 when neither.
int32_t LargestInt(const GValue* value) {
    if (!value) return 0;
    if (G_VALUE_HOLDS_INT(value)) return g_value_get_int(value);
    if (GST_VALUE_HOLDS_INT_RANGE(value)) return gst_value_get_int_range_max(value);
    return 0;
}

// Each rate a field offers: a fraction, each of a list, or a range's highest.
std::vector<std::pair<int32_t, int32_t>> Rates(const GValue* value) {
    std::vector<std::pair<int32_t, int32_t>> rates;
    if (!value) return rates;
    if (GST_VALUE_HOLDS_FRACTION(value)) {
        rates.emplace_back(gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value));
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        const GValue* max = gst_value_get_fraction_range_max(value);
        rates.emplace_back(gst_value_get_fraction_numerator(max), gst_value_get_fraction_denominator(max));
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            for (const auto& rate : Rates(gst_value_list_get_value(value, i))) rates.push_back(rate);
    }
    return rates;
}

std::vector<std::string> Formats(const GstStructure* s) {
    if (gst_structure_has_name(s, "image/jpeg")) return {"MJPEG"};
    std::vector<std::string> formats;
    const GValue* value = gst_structure_get_value(s, "format");
    if (value && G_VALUE_HOLDS_STRING(value)) {
        formats.push_back(g_value_get_string(value));
    } else if (value && GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const GValue* item = gst_value_list_get_value(value, i);
            if (G_VALUE_HOLDS_STRING(item)) formats.push_back(g_value_get_string(item));
        }
    }
    return formats;
}

std::vector<VideoMode> ModesOfCaps(GstCaps* caps) {
    std::vector<VideoMode> modes;
    if (!caps || gst_caps_is_any(caps)) return modes;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        if (!gst_structure_has_name(s, "video/x-raw") && !gst_structure_has_name(s, "image/jpeg")) continue;
        const int32_t width = LargestInt(gst_structure_get_value(s, "width"));
        const int32_t height = LargestInt(gst_structure_get_value(s, "height"));
        if (width <= 0 || height <= 0) continue;
        for (const std::string& format : Formats(s)) {
            for (const auto& [numerator, denominator] : Rates(gst_structure_get_value(s, "framerate"))) {
                const VideoMode mode{width, height, numerator, denominator, format};
                if (numerator <= 0 || denominator <= 0) continue;
                if (std::find(modes.begin(), modes.end(), mode) == modes.end()) modes.push_back(mode);
            }
        }
    }
    return modes;
}

bool StructureOffersMode(const GstStructure* s, const VideoMode& mode) {
    if (!gst_structure_has_name(s, mode.IsMjpeg() ? "image/jpeg" : "video/x-raw")) return false;
    if (LargestInt(gst_structure_get_value(s, "width")) != mode.width ||
        LargestInt(gst_structure_get_value(s, "height")) != mode.height)
        return false;
    const std::vector<std::string> formats = Formats(s);
    return std::find(formats.begin(), formats.end(), mode.format) != formats.end();
}

// The pixel aspect ratio a camera states for a mode; square pixels when it
// states none or a range. A driver that does not answer VIDIOC_CROPCAP
// leaves the whole range open, and a source fixating that range picks
// 1/2147483647, which no converter can scale.
std::pair<int32_t, int32_t> PixelAspectOf(GstCaps* offered, const VideoMode& mode) {
    for (guint i = 0; offered && i < gst_caps_get_size(offered); ++i) {
        const GstStructure* s = gst_caps_get_structure(offered, i);
        if (!StructureOffersMode(s, mode)) continue;
        const GValue* value = gst_structure_get_value(s, "pixel-aspect-ratio");
        if (value && GST_VALUE_HOLDS_FRACTION(value) && gst_value_get_fraction_numerator(value) > 0)
            return {gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value)};
    }
    return {1, 1};
}

GstCaps* CapsOfMode(const VideoMode& mode, GstCaps* offered) {
    GstCaps* caps = mode.IsMjpeg() ? gst_caps_new_empty_simple("image/jpeg")
                                   : gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, mode.format.c_str(),
                                                         nullptr);
    const auto [aspectNumerator, aspectDenominator] = PixelAspectOf(offered, mode);
    gst_caps_set_simple(caps, "width", G_TYPE_INT, mode.width, "height", G_TYPE_INT, mode.height, "framerate",
                        GST_TYPE_FRACTION, mode.rateNumerator, mode.rateDenominator, "pixel-aspect-ratio",
                        GST_TYPE_FRACTION, aspectNumerator, aspectDenominator, nullptr);
    return caps;
}

// v4l2loopback (0.12) hands its reader the buffer after the last one it
// read, whether or not the reader has queued it again: a reader whose
// pictures are still on their way downstream when the writer moves on (a
// busy moment, such as another camera plugged in or out) is handed one it
// holds, which V4L2's element takes for a broken driver and fails the
// stream. Copied as they leave the source, its buffers are all queued again
// before the next is asked for.
GstPadProbeReturn CopyPicture(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstBuffer* lent = GST_PAD_PROBE_INFO_BUFFER(info);
    GST_PAD_PROBE_INFO_DATA(info) = gst_buffer_copy_deep(lent);
    gst_buffer_unref(lent);
    return GST_PAD_PROBE_OK;
}

void CopyLoopbackPictures(GstDevice* device, GstElement* source) {
    const StructurePtr properties(gst_device_get_properties(device));
    const gchar* driver = properties ? gst_structure_get_string(properties.get(), "v4l2.device.driver") : nullptr;
    if (!driver || std::string(driver) != "v4l2 loopback") return;
    const PadPtr pad(gst_element_get_static_pad(source, "src"));
    if (pad) gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &CopyPicture, nullptr, nullptr);
}

class DeviceFilter : public GstFilter, public IAMStreamConfig {
public:
    DeviceFilter(GstDevice* dev, SourceKind k) : device(Ref(dev)), kind(k) {}

    IAMStreamConfig* QueryStreamConfig() override { return kind == SourceKind::Video ? this : nullptr; }
    FilterRole Role() const override {
        return kind == SourceKind::Video ? FilterRole::VideoSource : FilterRole::AudioSource;
    }

    HRESULT GetModes(std::vector<VideoMode>& modes) override {
        const CapsPtr offered(gst_device_get_caps(device.get()));
        modes = ModesOfCaps(offered.get());
        return S_OK;
    }
    HRESULT SetFormat(const VideoMode& mode) override {
        std::vector<VideoMode> modes;
        GetModes(modes);
        if (std::find(modes.begin(), modes.end(), mode) == modes.end()) return E_FAIL;
        std::lock_guard lock(mutex);
        chosen = mode;
        return S_OK;
    }

    Result<ElementChain> AddChain(GstBin* bin) const override { return AddSourceChain(bin, false); }
    Result<ElementChain> AddSourceChain(GstBin* bin, bool keepJpeg) const override {
        bool deliversJpeg = false;
        ElementPtr source = AdoptFloating(gst_device_create_element(device.get(), nullptr));
        if (!source) return Fail(messages::CannotOpenDevice(Describe()));
        CopyLoopbackPictures(device.get(), source.get());
        std::vector<ElementPtr> chain;
        chain.push_back(std::move(source));
        if (kind == SourceKind::Video) {
            Result<GstElement*> filter = MakeElement("capsfilter");
            if (!filter.ok()) return Fail(filter.error());
            chain.push_back(AdoptFloating(filter.value()));
            const CapsPtr caps(WantedCaps());
            g_object_set(chain.back().get(), "caps", caps.get(), nullptr);
            if (gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "image/jpeg")) {
                if (keepJpeg) {
                    deliversJpeg = true;
                } else {
                    Result<GstElement*> decoder = MakeElement("jpegdec");
                    if (!decoder.ok()) return Fail(decoder.error());
                    chain.push_back(AdoptFloating(decoder.value()));
                }
            }
        }
        return AddLinked(bin, chain, deliversJpeg);
    }
    std::string Describe() const override {
        const TextPtr name(gst_device_get_display_name(device.get()));
        return name ? name.get() : "";
    }
    GstDevice* Device() const override { return device.get(); }

private:
    // The chosen mode's caps; without one, the mode a user who chose none
    // gets (fixed, so that nothing is left for the source to fixate), else
    // raw frames when the camera offers them, else its JPEG.
    GstCaps* WantedCaps() const {
        const CapsPtr offered(gst_device_get_caps(device.get()));
        std::optional<VideoMode> mode;
        {
            std::lock_guard lock(mutex);
            mode = chosen;
        }
        if (!mode) mode = ChooseDefaultMode(ModesOfCaps(offered.get()));
        if (mode) return CapsOfMode(*mode, offered.get());
        const bool raw = !offered || CapsOffer(offered.get(), "video/x-raw");
        if (!raw && CapsOffer(offered.get(), "image/jpeg")) return gst_caps_new_empty_simple("image/jpeg");
        return gst_caps_new_empty_simple("video/x-raw");
    }

    DevicePtr device;
    SourceKind kind;
    mutable std::mutex mutex;
    std::optional<VideoMode> chosen;
};

}  // namespace

std::shared_ptr<GstFilter> MakeDeviceFilter(GstDevice* device, SourceKind kind) {
    return std::make_shared<DeviceFilter>(device, kind);
}

}  // namespace lumora::gst

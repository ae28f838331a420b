// The compressors of a recording: encoder elements set up for live capture.
// Encoders tuned for files (long look-ahead, slow presets, a bit rate fixed
// for small pictures) would fall behind a camera, so the ones people record
// with get live settings, and a bit rate that follows the picture size.

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"

namespace lumora::gst {

namespace {

struct LiveSettings {
    const char* factory;
    // Property name / value pairs, as text (enums by their nick).
    std::vector<std::pair<const char*, const char*>> properties;
    const char* bitRateProperty;  // nullptr: the encoder picks its own
    double bitsPerPixel;          // per picture
    unsigned bitRateUnit;         // 1000: the property counts kbit/s
};

const std::vector<LiveSettings>& LiveSettingsTable() {
    static const std::vector<LiveSettings> table = {
        {"x264enc", {{"tune", "zerolatency"}, {"speed-preset", "superfast"}, {"key-int-max", "60"}}, "bitrate",
         0.1, 1000},
        {"vp8enc", {{"deadline", "1"}, {"cpu-used", "8"}, {"keyframe-max-dist", "60"}}, "target-bitrate", 0.1, 1},
        {"avenc_mpeg4", {}, "bitrate", 0.2, 1},
        {"avenc_msmpeg4", {}, "bitrate", 0.2, 1},
        {"avenc_msmpeg4v2", {}, "bitrate", 0.2, 1},
        {"avenc_wmv1", {}, "bitrate", 0.2, 1},
        {"avenc_wmv2", {}, "bitrate", 0.2, 1},
        {"avenc_h263p", {}, "bitrate", 0.2, 1},
    };
    return table;
}

const LiveSettings* SettingsFor(const std::string& factory) {
    for (const LiveSettings& settings : LiveSettingsTable())
        if (factory == settings.factory) return &settings;
    return nullptr;
}

// Sets the bit rate from the picture's size and rate when the caps arrive,
// before the encoder configures itself from them.
GstPadProbeReturn SetBitRateFromCaps(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    const auto* settings = static_cast<const LiveSettings*>(data);
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    const GstStructure* picture = caps ? gst_caps_get_structure(caps, 0) : nullptr;
    int width = 0, height = 0, rateNumerator = 30, rateDenominator = 1;
    if (!picture || !gst_structure_get_int(picture, "width", &width) ||
        !gst_structure_get_int(picture, "height", &height))
        return GST_PAD_PROBE_OK;
    gst_structure_get_fraction(picture, "framerate", &rateNumerator, &rateDenominator);
    const double framesPerSecond =
        rateNumerator > 0 && rateDenominator > 0 ? static_cast<double>(rateNumerator) / rateDenominator : 30.0;
    const double bitsPerSecond = width * static_cast<double>(height) * framesPerSecond * settings->bitsPerPixel;
    const auto value = static_cast<guint64>(bitsPerSecond / settings->bitRateUnit);
    const ElementPtr encoder(gst_pad_get_parent_element(pad));
    if (encoder) gst_util_set_object_arg(G_OBJECT(encoder.get()), settings->bitRateProperty, std::to_string(value).c_str());
    return GST_PAD_PROBE_OK;
}

class EncoderFilter : public GstFilter {
public:
    explicit EncoderFilter(std::string factory) : factoryName(std::move(factory)) {}
    Result<ElementChain> AddChain(GstBin* bin) const override {
        Result<GstElement*> made = MakeElement(factoryName.c_str());
        if (!made.ok()) return Fail(made.error());
        GstElement* encoder = made.value();
        if (const LiveSettings* settings = SettingsFor(factoryName)) {
            for (const auto& [name, value] : settings->properties)
                gst_util_set_object_arg(G_OBJECT(encoder), name, value);
            if (settings->bitRateProperty) {
                const PadPtr input(gst_element_get_static_pad(encoder, "sink"));
                gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &SetBitRateFromCaps,
                                  const_cast<LiveSettings*>(settings), nullptr);
            }
        }
        gst_bin_add(bin, encoder);
        return ElementChain{encoder, encoder};
    }
    std::string Describe() const override { return factoryName; }
    std::string FactoryName() const override { return factoryName; }
    FilterRole Role() const override {
        // The factory's class ("Codec/Encoder/Audio") tells sound from pictures.
        const ElementFactoryPtr factory(gst_element_factory_find(factoryName.c_str()));
        const char* klass = factory ? gst_element_factory_get_metadata(factory.get(), GST_ELEMENT_METADATA_KLASS) : nullptr;
        return klass && std::strstr(klass, "Audio") ? FilterRole::AudioEncoder : FilterRole::VideoEncoder;
    }

private:
    std::string factoryName;
};

}  // namespace

bool EncoderRecordsLive(const char* factoryName) {
    // Encoders that take only a few fixed picture sizes (DV, H.263), that
    // need hardware (OpenMAX), or whose timestamps an AVI of a live camera
    // cannot hold (MPEG-1/2 with reordered pictures; mjpegtools' MPEG-2
    // encoder also keeps about 30 MB for good each time it is used).
    static const char* const unsuitable[] = {"avenc_dvvideo",    "avenc_h263",       "avenc_h264_omx",
                                             "avenc_mpeg4_omx",  "avenc_mpeg1video", "avenc_mpeg2video",
                                             "mpeg2enc"};
    for (const char* name : unsuitable)
        if (std::strcmp(name, factoryName) == 0) return false;
    return true;
}

std::shared_ptr<GstFilter> MakeEncoderFilter(const std::string& factoryName) {
    return std::make_shared<EncoderFilter>(factoryName);
}

}  // namespace lumora::gst

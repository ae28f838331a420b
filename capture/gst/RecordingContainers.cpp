#include "capture/gst/RecordingContainers.h"

#include <cstring>

#include "avi/RecordingFile.h"
#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

// An MP4 fragment is written once it holds this much: a kill loses at most
// about that much of the take.
constexpr guint kMp4FragmentMilliseconds = 1000;

constexpr MediaSubtype kContainers[] = {MediaSubtype::Avi, MediaSubtype::Matroska, MediaSubtype::Mp4};

CapsPtr UncompressedCaps(bool video) {
    return CapsPtr(video ? gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr)
                         : gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", nullptr));
}

// The containers besides `container` that hold both streams.
std::vector<std::string> OtherContainersHolding(MediaSubtype container, const GstFilter* videoCompressor,
                                                bool withSound, const GstFilter* audioCompressor) {
    std::vector<std::string> others;
    for (MediaSubtype other : kContainers) {
        if (other == container || !ContainerHolds(other, videoCompressor, true)) continue;
        if (withSound && !ContainerHolds(other, audioCompressor, false)) continue;
        others.push_back(ContainerExtension(other));
    }
    return others;
}

}  // namespace

const char* MuxerFactory(MediaSubtype container) {
    switch (container) {
        case MediaSubtype::Matroska: return "matroskamux";
        case MediaSubtype::Mp4: return "mp4mux";
        default: return "avimux";
    }
}

Result<GstElement*> AddMuxer(GstBin* bin, MediaSubtype container) {
    Result<GstElement*> made = AddElement(bin, MuxerFactory(container));
    if (!made.ok()) return made;
    GstElement* mux = made.value();
    // "ISFT Lumora" in an AVI's header: how a repair knows the file as ours.
    gst_tag_setter_add_tags(GST_TAG_SETTER(mux), GST_TAG_MERGE_REPLACE, GST_TAG_ENCODER, kRecordingSoftware,
                            nullptr);
    // The take's times start at 0, not where the preview's running time
    // was when it joined.
    if (container == MediaSubtype::Matroska)
        g_object_set(mux, "writing-app", kRecordingSoftware, "offset-to-zero", TRUE, nullptr);
    // The header first, then the pictures and sound a fragment at a time:
    // the file plays up to its last whole fragment however it ends.
    if (container == MediaSubtype::Mp4) g_object_set(mux, "fragment-duration", kMp4FragmentMilliseconds, nullptr);
    return mux;
}

CapsPtr MuxerSinkCaps(const char* muxerFactory, const char* padTemplateName) {
    const ElementFactoryPtr mux(gst_element_factory_find(muxerFactory));
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

bool ContainerHolds(MediaSubtype container, const GstFilter* compressor, bool video) {
    const CapsPtr muxerCaps = MuxerSinkCaps(MuxerFactory(container), video ? "video_%u" : "audio_%u");
    if (!muxerCaps) return false;
    if (!compressor) return gst_caps_can_intersect(UncompressedCaps(video).get(), muxerCaps.get());
    const ElementFactoryPtr factory(gst_element_factory_find(compressor->FactoryName().c_str()));
    return factory && FactoryOutputFits(factory.get(), muxerCaps.get());
}

bool CheckContainerHolds(MediaSubtype container, const GstFilter* videoCompressor, bool withSound,
                         const GstFilter* audioCompressor, std::string& reason) {
    const bool picturesHeld = ContainerHolds(container, videoCompressor, true);
    if (picturesHeld && (!withSound || ContainerHolds(container, audioCompressor, false))) return true;
    const bool video = !picturesHeld;
    const GstFilter* compressor = video ? videoCompressor : audioCompressor;
    reason = messages::ContainerCannotHold(
        ContainerName(container), video ? messages::CompressedStream::Video : messages::CompressedStream::Audio,
        compressor ? ListedCompressorName(*compressor, video) : "", ListedCompressorsHeldBy(container, video),
        OtherContainersHolding(container, videoCompressor, withSound, audioCompressor));
    return false;
}

}  // namespace lumora::gst

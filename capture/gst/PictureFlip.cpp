#include "capture/gst/PictureFlip.h"

#include <gst/base/gstbasetransform.h>
#include <gst/video/video.h>

#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"

namespace lumora::gst {

int TurnDirection(int32_t degrees) {
    switch (degrees) {
        case 90: return GST_VIDEO_ORIENTATION_90R;
        case 180: return GST_VIDEO_ORIENTATION_180;
        case 270: return GST_VIDEO_ORIENTATION_90L;
        default: return GST_VIDEO_ORIENTATION_IDENTITY;
    }
}

int MirrorDirection(bool mirrored) { return mirrored ? GST_VIDEO_ORIENTATION_HORIZ : GST_VIDEO_ORIENTATION_IDENTITY; }

bool QuarterTurn(int32_t degrees) { return degrees == 90 || degrees == 270; }

namespace {

// The caps with nothing but their media types and layouts.
CapsPtr Layouts(GstCaps* caps) {
    CapsPtr layouts(gst_caps_copy(caps));
    for (guint i = 0; i < gst_caps_get_size(layouts.get()); ++i)
        gst_structure_filter_and_map_in_place(
            gst_caps_get_structure(layouts.get(), i),
            [](GQuark field, GValue*, gpointer) -> gboolean { return field == g_quark_from_static_string("format"); },
            nullptr);
    return layouts;
}

// What leaves `upstream` and what videoflip takes; false when either is not known.
bool OfferedAndTaken(GstElement* upstream, CapsPtr& offered, CapsPtr& taken) {
    const ObjectPtr<GstElementFactory> factory(gst_element_factory_find("videoflip"));
    const PadPtr output(gst_element_get_static_pad(upstream, "src"));
    if (!factory || !output) return false;
    offered.reset(gst_pad_query_caps(output.get(), nullptr));
    for (const GList* item = gst_element_factory_get_static_pad_templates(factory.get()); item; item = item->next) {
        auto* pads = static_cast<GstStaticPadTemplate*>(item->data);
        if (pads->direction == GST_PAD_SINK) taken.reset(gst_static_pad_template_get_caps(pads));
    }
    return offered && taken;
}

}  // namespace

bool FlipTakes(GstElement* upstream) {
    CapsPtr offered, taken;
    return OfferedAndTaken(upstream, offered, taken) && gst_caps_can_intersect(offered.get(), taken.get());
}

bool FlipTakesEvery(GstElement* upstream) {
    CapsPtr offered, taken;
    return OfferedAndTaken(upstream, offered, taken) &&
           gst_caps_is_subset(Layouts(offered.get()).get(), Layouts(taken.get()).get());
}

Result<GstElement*> AddFlip(GstBin* bin, int direction) {
    Result<GstElement*> flip = AddElement(bin, "videoflip");
    if (flip.ok()) SetFlipDirection(flip.value(), direction);
    return flip;
}

// videoflip copies each picture even at the identity: there it is told to
// pass them through, and to work again before it turns them.
void SetFlipDirection(GstElement* flip, int direction) {
    if (!flip) return;
    auto* transform = GST_BASE_TRANSFORM(flip);
    const bool identity = direction == GST_VIDEO_ORIENTATION_IDENTITY;
    if (!identity) gst_base_transform_set_passthrough(transform, FALSE);
    g_object_set(flip, "video-direction", direction, nullptr);
    if (identity) gst_base_transform_set_passthrough(transform, TRUE);
}

}  // namespace lumora::gst

#include "capture/gst/PictureSizeCheck.h"

#include <gst/video/video.h>

#include <algorithm>
#include <mutex>
#include <optional>

#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

namespace {

struct Check {
    explicit Check(GstElement* element) { g_weak_ref_init(&camera, element); }
    ~Check() { g_weak_ref_clear(&camera); }
    GWeakRef camera;  // not held: the pad it watches is the camera chain's own
    std::mutex mutex;  // the stream's thread changes with a restart
    std::optional<GstVideoInfo> raw;  // the announced format, when raw
    bool failed = false;
};

// The bytes a picture of `info` covers, in the layout its meta states.
gsize BytesNeeded(GstBuffer* buffer, const GstVideoInfo& info) {
    GstVideoMeta* meta = gst_buffer_get_video_meta(buffer);
    if (!meta) return GST_VIDEO_INFO_SIZE(&info);
    guint heights[GST_VIDEO_MAX_PLANES] = {};
    if (!gst_video_meta_get_plane_height(meta, heights)) return 0;
    gsize needed = 0;
    for (guint plane = 0; plane < meta->n_planes; ++plane)
        needed = std::max<gsize>(needed, meta->offset[plane] + static_cast<gsize>(meta->stride[plane]) * heights[plane]);
    return needed;
}

void Fail(Check& check, const GstVideoInfo& info, gsize bytes, gsize needed) {
    const std::string text = messages::PictureSmallerThanFormat(
        GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info), GST_VIDEO_INFO_NAME(&info), bytes, needed);
    auto* camera = static_cast<GstElement*>(g_weak_ref_get(&check.camera));
    if (!camera) return;
    GError* error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT, text.c_str());
    gst_element_post_message(camera, gst_message_new_error(GST_OBJECT(camera), error, nullptr));
    g_error_free(error);
    gst_object_unref(camera);
}

GstPadProbeReturn Inspect(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& check = *static_cast<Check*>(data);
    std::lock_guard lock(check.mutex);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        GstVideoInfo parsed;
        const bool raw = caps && gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/x-raw") &&
                         gst_video_info_from_caps(&parsed, caps);
        check.raw = raw ? std::optional<GstVideoInfo>(parsed) : std::nullopt;
        return GST_PAD_PROBE_OK;
    }
    if (!check.raw) return GST_PAD_PROBE_OK;
    if (check.failed) return GST_PAD_PROBE_DROP;
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const gsize bytes = gst_buffer_get_size(buffer);
    const gsize needed = BytesNeeded(buffer, *check.raw);
    if (bytes >= needed) return GST_PAD_PROBE_OK;
    check.failed = true;
    Fail(check, *check.raw, bytes, needed);
    return GST_PAD_PROBE_DROP;
}

}  // namespace

void CheckPictureSizes(GstPad* pad, GstElement* camera) {
    gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      &Inspect, new Check(camera), [](gpointer data) { delete static_cast<Check*>(data); });
}

}  // namespace lumora::gst

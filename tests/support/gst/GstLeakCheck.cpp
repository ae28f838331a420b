// What the leaks tracer (GST_TRACERS=leaks) still sees alive when a test run
// ends. GStreamer keeps its registry, plugins, factories, device providers
// and clocks for good; a pipeline, element, pad or message that outlives
// everything that used it is a leak.

#include <cstring>

#include "capture/gst/DeviceWatch.h"
#include "capture/gst/GstHandles.h"
#include "tests/support/gst/GstTesting.h"

namespace lumora::gst {

namespace {

GstTracer* FindLeaksTracer() {
    GList* tracers = gst_tracing_get_active_tracers();
    GstTracer* found = nullptr;
    for (GList* item = tracers; item && !found; item = item->next)
        if (std::strcmp(G_OBJECT_TYPE_NAME(item->data), "GstLeaksTracer") == 0)
            found = GST_TRACER(gst_object_ref(item->data));
    ObjectListPtr owned(tracers);
    return found;
}

bool MustNotOutlive(GType type) {
    return g_type_is_a(type, GST_TYPE_ELEMENT) || g_type_is_a(type, GST_TYPE_PAD) ||
           g_type_is_a(type, GST_TYPE_MESSAGE);
}

std::string Describe(const GValue* object, guint refCount) {
    std::string text = G_VALUE_TYPE_NAME(object);
    if (G_VALUE_HOLDS(object, GST_TYPE_OBJECT)) {
        TextPtr name(gst_object_get_name(GST_OBJECT(g_value_get_object(object))));
        if (name) text += std::string(" \"") + name.get() + "\"";
    }
    return text + " (" + std::to_string(refCount) + " references)";
}

// The tracer hands its live objects over without taking a reference of its
// own; one is added here so that freeing the list leaves them as they were.
void KeepAlive(const GValue* object) {
    if (G_VALUE_HOLDS(object, G_TYPE_OBJECT))
        g_object_ref(g_value_get_object(object));
    else if (G_VALUE_HOLDS_BOXED(object))  // the tracer's other kind: mini objects
        gst_mini_object_ref(GST_MINI_OBJECT_CAST(g_value_get_boxed(object)));
}

}  // namespace

std::optional<std::vector<std::string>> LiveObjectsAtShutdown() {
    if (!gst_is_initialized()) return std::vector<std::string>{};
    ObjectPtr<GstTracer> tracer(FindLeaksTracer());
    if (!tracer) return std::nullopt;
    // Threads of finished tasks can still hold a pad for a moment.
    gst_task_cleanup_all();

    GstStructure* rawInfo = nullptr;
    g_signal_emit_by_name(tracer.get(), "get-live-objects", &rawInfo);
    StructurePtr info(rawInfo);
    std::vector<std::string> leaks;
    const GValue* list = info ? gst_structure_get_value(info.get(), "live-objects-list") : nullptr;
    for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
        const GstStructure* entry = gst_value_get_structure(gst_value_list_get_value(list, i));
        const GValue* object = gst_structure_get_value(entry, "object");
        if (!object) continue;
        KeepAlive(object);
        guint refCount = 0;
        gst_structure_get_uint(entry, "ref-count", &refCount);
        if (MustNotOutlive(G_VALUE_TYPE(object))) leaks.push_back(Describe(object, refCount));
    }
    info.reset();
    tracer.reset();
    DeviceWatch::Release();
    gst_deinit();
    return leaks;
}

}  // namespace lumora::gst

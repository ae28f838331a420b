#pragma once
// Owning handles for GStreamer and GLib objects. Each handle holds one
// reference and gives it back with the matching unref when it goes, so an
// early return or a failed build cannot keep a pipeline alive.

#include <gst/gst.h>

#include <memory>

namespace lumora::gst {

template <auto Release>
struct Releaser {
    template <typename T>
    void operator()(T* pointer) const {
        Release(pointer);
    }
};

inline void FreeObjectList(GList* list) { g_list_free_full(list, gst_object_unref); }

// Anything derived from GstObject: elements, pads, buses, devices, monitors, factories.
template <typename T>
using ObjectPtr = std::unique_ptr<T, Releaser<gst_object_unref>>;
using ElementPtr = ObjectPtr<GstElement>;
using PadPtr = ObjectPtr<GstPad>;
using BusPtr = ObjectPtr<GstBus>;
using DevicePtr = ObjectPtr<GstDevice>;
using DeviceMonitorPtr = ObjectPtr<GstDeviceMonitor>;
using ElementFactoryPtr = ObjectPtr<GstElementFactory>;

// Caps, messages and samples. Their own unref functions are static inline,
// so a handle naming one would be a type local to each file, unfit for a
// member of a class declared in a header; this one gives back the same way.
struct MiniObjectReleaser {
    template <typename T>
    void operator()(T* object) const {
        gst_mini_object_unref(GST_MINI_OBJECT_CAST(object));
    }
};

using CapsPtr = std::unique_ptr<GstCaps, MiniObjectReleaser>;
using MessagePtr = std::unique_ptr<GstMessage, MiniObjectReleaser>;
using SamplePtr = std::unique_ptr<GstSample, MiniObjectReleaser>;
using BufferPtr = std::unique_ptr<GstBuffer, MiniObjectReleaser>;
using StructurePtr = std::unique_ptr<GstStructure, Releaser<gst_structure_free>>;
using ErrorPtr = std::unique_ptr<GError, Releaser<g_error_free>>;
using TextPtr = std::unique_ptr<gchar, Releaser<g_free>>;
// A list that holds a reference to each of its objects.
using ObjectListPtr = std::unique_ptr<GList, Releaser<FreeObjectList>>;
using FeatureListPtr = std::unique_ptr<GList, Releaser<gst_plugin_feature_list_free>>;

// Owns `object`, whose reference may still be floating (a new element's
// is): the floating reference becomes the handle's own.
template <typename T>
ObjectPtr<T> AdoptFloating(T* object) {
    if (object && g_object_is_floating(object)) gst_object_ref_sink(object);
    return ObjectPtr<T>(object);
}

// A further reference to an object that someone else owns.
template <typename T>
ObjectPtr<T> Ref(T* object) {
    return ObjectPtr<T>(object ? static_cast<T*>(gst_object_ref(object)) : nullptr);
}

}  // namespace lumora::gst

#include "tests/support/gst/TestCameraSource.h"

#include <gst/app/gstappsink.h>
#include <gst/base/gstpushsrc.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/gst/GstHandles.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/support/gst/TestCameraFrames.h"

namespace lumora::gst {

namespace {

std::atomic<unsigned> unplugCount{0};
// How often a camera element was opened (taken from nothing to ready) and
// started streaming, for the tests that count what a recording costs.
std::atomic<unsigned> openCount{0};
std::atomic<unsigned> startCount{0};
std::atomic<bool> startStalled{false};
std::atomic<unsigned> freezeCount{0};  // a camera started before a freeze sends nothing
// Latency a camera adds to its one frame (as one whose exposure grows in
// the dark), and the latency events cameras were sent by their pipelines.
std::atomic<GstClockTime> addedLatency{0};
std::atomic<unsigned> latencyEvents{0};
std::atomic<int> damagedLeft{0};  // -1: no end

// A frame of `frame`'s size whose JPEG start marker is followed by noise.
GstBuffer* DamagedLike(GstBuffer* frame) {
    const gsize size = std::max<gsize>(gst_buffer_get_size(frame), 2);
    GstBuffer* damaged = gst_buffer_new_allocate(nullptr, size, nullptr);
    GstMapInfo map;
    if (gst_buffer_map(damaged, &map, GST_MAP_WRITE)) {
        map.data[0] = 0xff;
        map.data[1] = 0xd8;
        for (gsize i = 2; i < size; ++i) map.data[i] = static_cast<guint8>(g_random_int());
        gst_buffer_unmap(damaged, &map);
    }
    return damaged;
}

bool TakeDamagedFrame() {
    int left = damagedLeft.load();
    while (left != 0)
        if (damagedLeft.compare_exchange_weak(left, left < 0 ? left : left - 1)) return true;
    return false;
}

struct CameraState {
    std::shared_ptr<const FrameSet> frames;
    GstClockTime frameDuration = GST_CLOCK_TIME_NONE;
    guint64 index = 0;
    bool firstFrame = true;
    unsigned unplugsAtStart = 0;
    unsigned freezesAtStart = 0;
    unsigned unplugsAtOpen = 0;  // a camera opened before an unplug never streams again
    GstClockTime latencyTold = 0;  // the added latency its pipeline was told of

    // The settings as asked (any thread) and as the frames show them
    // (streaming thread). New frames are rendered beside the stream, which
    // goes on with the old ones until they are ready.
    std::atomic<int> brightness{128}, contrast{128}, saturation{128};
    Balance shown;
    Balance rendering;
    CapsPtr caps;
    std::future<std::shared_ptr<const FrameSet>> pending;

    Balance Wanted() const { return {brightness.load(), contrast.load(), saturation.load()}; }

    // Guards the rest, which unlock reaches from another thread.
    std::mutex mutex;
    std::condition_variable wake;
    bool flushing = false;
    GstClockID waiting = nullptr;

    void DropFrames() {
        pending = {};  // waits for a rendering under way
        frames.reset();
    }

    void FollowBalance() {
        if (pending.valid()) {
            if (pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
            std::shared_ptr<const FrameSet> made = pending.get();
            if (made && !made->frames.empty()) frames = std::move(made);
            shown = rendering;  // also when it failed: not tried over and over
        }
        const Balance wanted = Wanted();
        if (wanted == shown || !caps) return;
        rendering = wanted;
        pending = std::async(std::launch::async, [layout = CapsPtr(gst_caps_ref(caps.get())), wanted] {
            return FramesFor(layout.get(), wanted);
        });
    }
};

}  // namespace

}  // namespace lumora::gst

struct LumoraTestCameraSrc {
    GstPushSrc parent;
    lumora::gst::CameraState* state;
    GList* channels;  // its colour balance's, owned
};
struct LumoraTestCameraSrcClass {
    GstPushSrcClass parent_class;
};

static void lumora_test_camera_src_balance_init(GstColorBalanceInterface* balance);
// The colour balance gives the program, which has not the tests' own
// controls for this camera, its brightness, contrast and saturation.
G_DEFINE_TYPE_WITH_CODE(LumoraTestCameraSrc, lumora_test_camera_src, GST_TYPE_PUSH_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_COLOR_BALANCE, lumora_test_camera_src_balance_init))

namespace lumora::gst {

namespace {

CameraState& StateOf(gpointer element) { return *reinterpret_cast<LumoraTestCameraSrc*>(element)->state; }

GstStaticPadTemplate sourceTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format=(string){ YUY2, NV12, I420 }, width=(int)[1,8192], height=(int)[1,8192], "
                    "framerate=(fraction)[1/1,240/1]; "
                    "image/jpeg, width=(int)[1,8192], height=(int)[1,8192], framerate=(fraction)[1/1,240/1]"));

gboolean Start(GstBaseSrc* source) {
    startCount.fetch_add(1);
    CameraState& state = StateOf(source);
    if (unplugCount.load() != state.unplugsAtOpen) {
        GST_ELEMENT_ERROR(source, RESOURCE, OPEN_READ, ("The camera was unplugged."), (nullptr));
        return FALSE;
    }
    state.firstFrame = true;
    state.index = 0;
    state.unplugsAtStart = unplugCount.load();
    state.freezesAtStart = freezeCount.load();
    return TRUE;
}

gboolean Stop(GstBaseSrc* source) {
    StateOf(source).DropFrames();
    return TRUE;
}

GstCaps* Fixate(GstBaseSrc* source, GstCaps* caps) {
    caps = gst_caps_make_writable(caps);
    caps = gst_caps_truncate(caps);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field_nearest_int(s, "width", 640);
    gst_structure_fixate_field_nearest_int(s, "height", 480);
    gst_structure_fixate_field_nearest_fraction(s, "framerate", 30, 1);
    // Square pixels, as a webcam's (left open, a scaler downstream would
    // pick the smallest ratio it can).
    if (gst_structure_has_field(s, "pixel-aspect-ratio"))
        gst_structure_fixate_field_nearest_fraction(s, "pixel-aspect-ratio", 1, 1);
    return GST_BASE_SRC_CLASS(lumora_test_camera_src_parent_class)->fixate(source, caps);
}

gboolean SetCaps(GstBaseSrc* source, GstCaps* caps) {
    CameraState& state = StateOf(source);
    gint numerator = 0, denominator = 1;
    if (!gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &numerator, &denominator) ||
        numerator <= 0)
        return FALSE;
    state.pending = {};
    state.caps.reset(gst_caps_ref(caps));
    state.shown = state.Wanted();
    state.frames = FramesFor(caps, state.shown);
    state.frameDuration = gst_util_uint64_scale_int(GST_SECOND, denominator, numerator);
    return !state.frames->frames.empty();
}

gboolean Query(GstBaseSrc* source, GstQuery* query) {
    const CameraState& state = StateOf(source);
    // One frame of latency, as a camera that hands on each frame when complete.
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY && GST_CLOCK_TIME_IS_VALID(state.frameDuration)) {
        const GstClockTime latency = state.frameDuration + addedLatency.load();
        gst_query_set_latency(query, TRUE, latency, latency);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(lumora_test_camera_src_parent_class)->query(source, query);
}

gboolean Event(GstBaseSrc* source, GstEvent* event) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_LATENCY) latencyEvents.fetch_add(1);
    return GST_BASE_SRC_CLASS(lumora_test_camera_src_parent_class)->event(source, event);
}

gboolean Unlock(GstBaseSrc* source) {
    CameraState& state = StateOf(source);
    std::lock_guard lock(state.mutex);
    state.flushing = true;
    if (state.waiting) gst_clock_id_unschedule(state.waiting);
    state.wake.notify_all();
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* source) {
    CameraState& state = StateOf(source);
    std::lock_guard lock(state.mutex);
    state.flushing = false;
    return TRUE;
}

// Waits for the running time of the next frame; false when unlocked.
bool WaitForFrameTime(GstElement* element, CameraState& state) {
    GstClock* clock = gst_element_get_clock(element);
    if (!clock) return true;
    const GstClockTime base = gst_element_get_base_time(element);
    if (state.firstFrame) {
        // A camera that starts late goes on from the time it started.
        const GstClockTime now = gst_clock_get_time(clock);
        const GstClockTime running = now > base ? now - base : 0;
        state.index = (running + state.frameDuration - 1) / state.frameDuration;
        state.firstFrame = false;
    }
    GstClockID id = gst_clock_new_single_shot_id(clock, base + state.index * state.frameDuration);
    gst_object_unref(clock);
    {
        std::lock_guard lock(state.mutex);
        if (state.flushing) {
            gst_clock_id_unref(id);
            return false;
        }
        state.waiting = id;
    }
    const GstClockReturn result = gst_clock_id_wait(id, nullptr);
    {
        std::lock_guard lock(state.mutex);
        state.waiting = nullptr;
    }
    gst_clock_id_unref(id);
    return result != GST_CLOCK_UNSCHEDULED;
}

GstFlowReturn Create(GstPushSrc* source, GstBuffer** out) {
    CameraState& state = StateOf(source);
    {
        std::unique_lock lock(state.mutex);
        while (((state.firstFrame && startStalled.load()) || state.freezesAtStart != freezeCount.load()) &&
               !state.flushing)
            state.wake.wait_for(lock, std::chrono::milliseconds(20));
        if (state.flushing) return GST_FLOW_FLUSHING;
    }
    if (unplugCount.load() != state.unplugsAtStart) {
        GST_ELEMENT_ERROR(source, RESOURCE, READ, ("The camera was unplugged."), (nullptr));
        return GST_FLOW_ERROR;
    }
    if (!state.frames || state.frames->frames.empty()) return GST_FLOW_NOT_NEGOTIATED;
    if (!WaitForFrameTime(GST_ELEMENT(source), state)) return GST_FLOW_FLUSHING;
    state.FollowBalance();
    if (const GstClockTime added = addedLatency.load(); added != state.latencyTold) {
        state.latencyTold = added;  // the pipeline is to ask again
        gst_element_post_message(GST_ELEMENT(source), gst_message_new_latency(GST_OBJECT(source)));
    }

    const std::vector<GstBuffer*>& frames = state.frames->frames;
    const GstClockTime time = state.index * state.frameDuration;
    GstBuffer* shown = state.frames->flash && SyncSignalFlashing(time) ? state.frames->flash
                                                                       : frames[state.index % frames.size()];
    GstBuffer* frame = TakeDamagedFrame() ? DamagedLike(shown) : gst_buffer_copy(shown);
    GST_BUFFER_PTS(frame) = time;
    GST_BUFFER_DTS(frame) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(frame) = state.frameDuration;
    GST_BUFFER_OFFSET(frame) = state.index;
    ++state.index;
    *out = frame;
    return GST_FLOW_OK;
}

}  // namespace

}  // namespace lumora::gst

static void lumora_test_camera_src_finalize(GObject* object) {
    delete reinterpret_cast<LumoraTestCameraSrc*>(object)->state;
    g_list_free_full(reinterpret_cast<LumoraTestCameraSrc*>(object)->channels, g_object_unref);
    G_OBJECT_CLASS(lumora_test_camera_src_parent_class)->finalize(object);
}

static GstStateChangeReturn lumora_test_camera_src_change_state(GstElement* element, GstStateChange transition) {
    if (transition == GST_STATE_CHANGE_NULL_TO_READY) {
        lumora::gst::openCount.fetch_add(1);
        lumora::gst::StateOf(element).unplugsAtOpen = lumora::gst::unplugCount.load();
    }
    return GST_ELEMENT_CLASS(lumora_test_camera_src_parent_class)->change_state(element, transition);
}

enum { PROP_0, PROP_BRIGHTNESS, PROP_CONTRAST, PROP_SATURATION };

static std::atomic<int>* lumora_test_camera_src_setting(GObject* object, guint id) {
    lumora::gst::CameraState& state = lumora::gst::StateOf(object);
    switch (id) {
    case PROP_BRIGHTNESS: return &state.brightness;
    case PROP_CONTRAST: return &state.contrast;
    case PROP_SATURATION: return &state.saturation;
    default: return nullptr;
    }
}

static void lumora_test_camera_src_set_property(GObject* object, guint id, const GValue* value, GParamSpec* param) {
    if (std::atomic<int>* setting = lumora_test_camera_src_setting(object, id))
        setting->store(g_value_get_int(value));
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
}

static void lumora_test_camera_src_get_property(GObject* object, guint id, GValue* value, GParamSpec* param) {
    if (std::atomic<int>* setting = lumora_test_camera_src_setting(object, id))
        g_value_set_int(value, setting->load());
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
}

static void lumora_test_camera_src_class_init(LumoraTestCameraSrcClass* klass) {
    using namespace lumora::gst;
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->finalize = lumora_test_camera_src_finalize;
    object->set_property = lumora_test_camera_src_set_property;
    object->get_property = lumora_test_camera_src_get_property;
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(object, PROP_BRIGHTNESS,
                                    g_param_spec_int("brightness", "Brightness", "As a webcam's", 0, 255, 128, flags));
    g_object_class_install_property(object, PROP_CONTRAST,
                                    g_param_spec_int("contrast", "Contrast", "As a webcam's", 0, 255, 128, flags));
    g_object_class_install_property(object, PROP_SATURATION,
                                    g_param_spec_int("saturation", "Saturation", "As a webcam's", 0, 255, 128, flags));
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    element->change_state = lumora_test_camera_src_change_state;
    gst_element_class_set_static_metadata(element, "Lumora test camera", "Source/Video",
                                          "A simulated camera with a webcam's modes", "Lumora");
    gst_element_class_add_static_pad_template(element, &sourceTemplate);
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    base->start = Start;
    base->stop = Stop;
    base->fixate = Fixate;
    base->set_caps = SetCaps;
    base->query = Query;
    base->event = Event;
    base->unlock = Unlock;
    base->unlock_stop = UnlockStop;
    GST_PUSH_SRC_CLASS(klass)->create = Create;
}

static std::atomic<int>* lumora_test_camera_src_channel_setting(GstColorBalance* balance,
                                                                GstColorBalanceChannel* channel) {
    lumora::gst::CameraState& state = lumora::gst::StateOf(balance);
    const std::string label = channel && channel->label ? channel->label : "";
    if (label == "BRIGHTNESS") return &state.brightness;
    if (label == "CONTRAST") return &state.contrast;
    if (label == "SATURATION") return &state.saturation;
    return nullptr;
}

static const GList* lumora_test_camera_src_list_channels(GstColorBalance* balance) {
    return reinterpret_cast<LumoraTestCameraSrc*>(balance)->channels;
}

static void lumora_test_camera_src_set_value(GstColorBalance* balance, GstColorBalanceChannel* channel, gint value) {
    if (std::atomic<int>* setting = lumora_test_camera_src_channel_setting(balance, channel))
        setting->store(std::clamp(value, 0, 255));
}

static gint lumora_test_camera_src_get_value(GstColorBalance* balance, GstColorBalanceChannel* channel) {
    const std::atomic<int>* setting = lumora_test_camera_src_channel_setting(balance, channel);
    return setting ? setting->load() : 0;
}

static GstColorBalanceType lumora_test_camera_src_balance_type(GstColorBalance*) { return GST_COLOR_BALANCE_HARDWARE; }

static void lumora_test_camera_src_balance_init(GstColorBalanceInterface* balance) {
    balance->list_channels = lumora_test_camera_src_list_channels;
    balance->set_value = lumora_test_camera_src_set_value;
    balance->get_value = lumora_test_camera_src_get_value;
    balance->get_balance_type = lumora_test_camera_src_balance_type;
}

static void lumora_test_camera_src_init(LumoraTestCameraSrc* self) {
    self->state = new lumora::gst::CameraState();
    self->channels = nullptr;
    for (const char* label : {"BRIGHTNESS", "CONTRAST", "SATURATION"}) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(g_object_new(GST_TYPE_COLOR_BALANCE_CHANNEL, nullptr));
        channel->label = g_strdup(label);
        channel->min_value = 0;
        channel->max_value = 255;
        self->channels = g_list_append(self->channels, channel);
    }
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

namespace lumora::gst {

bool RegisterTestCameraSource(GstPlugin* plugin) {
    return gst_element_register(plugin, "lumoratestcamerasrc", GST_RANK_NONE, lumora_test_camera_src_get_type());
}

void FailRunningTestCameras() { ++unplugCount; }

void SetTestCameraStartStalled(bool stalled) { startStalled.store(stalled); }

TestCameraUse TestCameraUseCounts() { return {openCount.load(), startCount.load()}; }

void SetTestCameraLatency(double seconds) {
    addedLatency.store(static_cast<GstClockTime>(seconds * GST_SECOND));
}

unsigned TestCameraLatencyEvents() { return latencyEvents.load(); }

void FreezeTestCamera() { ++freezeCount; }

void DamageTestCameraFrames(int count) { damagedLeft.store(count); }

int DamagedTestCameraFramesLeft() { return damagedLeft.load(); }

}  // namespace lumora::gst

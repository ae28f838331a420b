#include "capture/gst/LevelMeter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

#include "capture/gst/PlatformMessages.h"

namespace lumora::gst {

struct GstSoundMeter::Receiver {
    std::mutex mutex;
    Handler handler;  // empty once the meter stops

    void Deliver(const SoundLevel& level) {
        std::lock_guard lock(mutex);
        if (handler) handler(level);
    }
    void Close() {
        std::lock_guard lock(mutex);
        handler = nullptr;
    }
};

namespace {

constexpr auto kStartLimit = std::chrono::seconds(3);
constexpr auto kStopLimit = std::chrono::seconds(2);

double Decibels(double value) {
    return std::isfinite(value) ? std::max(value, kSilentDecibels) : kSilentDecibels;
}

// The loudest channel of one of the message's lists ("peak", "rms").
double Loudest(const GstStructure* structure, const char* field) {
    const GValue* list = gst_structure_get_value(structure, field);
    double loudest = kSilentDecibels;
    if (!list) return loudest;
    // The element still posts a GValueArray, which GLib calls deprecated.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (!G_VALUE_HOLDS(list, g_value_array_get_type())) return loudest;
    const auto* channels = static_cast<const GValueArray*>(g_value_get_boxed(list));
    for (guint i = 0; channels && i < channels->n_values; ++i) {
        const GValue* channel = g_value_array_get_nth(const_cast<GValueArray*>(channels), i);
        if (G_VALUE_HOLDS_DOUBLE(channel)) loudest = std::max(loudest, Decibels(g_value_get_double(channel)));
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    return loudest;
}

// The meter wants a reading every 100 ms, not the input's usual 10 ms
// buffers: a source that hands on a tenth of a second at a time wakes
// ten times less often. The recording's input keeps its own buffers.
void AskForLargeBuffers(GstElement* source) {
    GObjectClass* type = G_OBJECT_GET_CLASS(source);
    const auto microseconds = static_cast<gint64>(kLevelInterval / GST_USECOND);
    if (g_object_class_find_property(type, "latency-time") && g_object_class_find_property(type, "buffer-time")) {
        g_object_set(source, "buffer-time", 4 * microseconds, "latency-time", microseconds, nullptr);
    } else if (g_object_class_find_property(type, "samplesperbuffer")) {
        g_object_set(source, "samplesperbuffer", 4410, nullptr);  // at the test tone's 44.1 kHz
    }
}

GstBusSyncReply OnMeterMessage(GstBus*, GstMessage* message, gpointer data) {
    const MessagePtr dropped(message);
    SoundLevel level;
    if (ReadLevelMessage(message, level))
        (*static_cast<std::shared_ptr<GstSoundMeter::Receiver>*>(data))->Deliver(level);
    return GST_BUS_DROP;
}

}  // namespace

Result<GstElement*> AddLevelElement(GstBin* bin) {
    Result<GstElement*> level = AddElement(bin, "level");
    if (level.ok()) g_object_set(level.value(), "interval", kLevelInterval, "post-messages", TRUE, nullptr);
    return level;
}

bool ReadLevelMessage(GstMessage* message, SoundLevel& level) {
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ELEMENT) return false;
    const GstStructure* structure = gst_message_get_structure(message);
    if (!structure || !gst_structure_has_name(structure, "level")) return false;
    level.peakDb = Loudest(structure, "peak");
    level.rmsDb = Loudest(structure, "rms");
    return true;
}

GstSoundMeter::GstSoundMeter(Handler handler, std::function<void()> hook)
    : receiver(std::make_shared<Receiver>()), whileWaiting(std::move(hook)) {
    receiver->handler = std::move(handler);
}

// A pipeline that stopped goes with its worker; one whose input hangs is
// left to the worker (abandoned by its destructor), which takes it down
// whenever the device lets go.
GstSoundMeter::~GstSoundMeter() {
    receiver->Close();
    if (!pipeline) return;
    if (worker) {
        const auto stopped = worker->ChangeState(pipeline.get(), GST_STATE_NULL, kStopLimit, whileWaiting);
        if (stopped) worker->Finish();
    }
    const BusPtr bus(gst_element_get_bus(pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

// source -> convert -> level -> fakesink, on the system clock like the
// graph's own pipeline (a sound card's clock may stand still).
Status GstSoundMeter::Start(const GstFilter& source) {
    EnsureInitialised();
    pipeline = AdoptFloating(gst_pipeline_new("lumora-sound-meter"));
    const ObjectPtr<GstClock> systemClock(gst_system_clock_obtain());
    gst_pipeline_use_clock(GST_PIPELINE(pipeline.get()), systemClock.get());
    const BusPtr bus(gst_element_get_bus(pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), &OnMeterMessage, new std::shared_ptr<Receiver>(receiver),
                             [](gpointer data) { delete static_cast<std::shared_ptr<Receiver>*>(data); });
    GstBin* bin = GST_BIN(pipeline.get());
    Result<ElementChain> input = source.AddChain(bin);
    if (!input.ok()) return Fail(input.error());
    AskForLargeBuffers(input.value().first);
    Result<GstElement*> convert = AddElement(bin, "audioconvert");
    if (!convert.ok()) return Fail(convert.error());
    Result<GstElement*> level = AddLevelElement(bin);
    if (!level.ok()) return Fail(level.error());
    Result<GstElement*> sink = AddElement(bin, "fakesink");
    if (!sink.ok()) return Fail(sink.error());
    g_object_set(sink.value(), "sync", FALSE, "async", FALSE, nullptr);
    Status linked = LinkChain({input.value().last, convert.value(), level.value(), sink.value()});
    if (!linked.ok()) return linked;
    worker = std::make_unique<PipelineWorker>(Ref(pipeline.get()));
    // Named as the element, not the worker's pipeline: the tests' delayed
    // camera start is for the graph's own pipeline.
    const auto started = worker->ChangeState(pipeline.get(), GST_STATE_PLAYING, kStartLimit, whileWaiting);
    if (!started || *started == GST_STATE_CHANGE_FAILURE)
        return Fail(messages::SoundInputCannotOpen(source.Describe()));
    return Ok();
}

}  // namespace lumora::gst

#include "tests/support/gst/TestDevices.h"

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/VideoModes.h"
#include "capture/gst/GstHandles.h"
#include "tests/support/gst/GstTesting.h"
#include "tests/support/gst/TestCameraFrames.h"
#include "tests/support/gst/TestCameraSource.h"

namespace lumora::gst {

namespace {

// What a real webcam offers: raw frames slow at large sizes, JPEG fast.
const std::vector<std::string> kWebcamModes = {
    "640x480@30/1:YUY2",    "1280x720@10/1:YUY2",   "1920x1080@5/1:YUY2",
    "640x480@30/1:MJPEG",   "640x480@15/1:MJPEG",   "1280x720@30/1:MJPEG",
    "1280x720@15/1:MJPEG",  "1920x1080@30/1:MJPEG", "1920x1080@15/1:MJPEG",
};

std::atomic<bool> testToneStalled{false};
std::atomic<bool> testToneFails{false};
std::atomic<double> testToneRateError{0.0};

// What the provider publishes; providers running take their devices from it.
struct Published {
    std::mutex mutex;
    bool cameraPlugged = true;
    std::vector<VideoMode> cameraModes;
    // The camera each running provider has published (the provider owns it).
    std::map<GstDeviceProvider*, GstDevice*> cameras;
};

std::vector<VideoMode> WebcamModes() {
    std::vector<VideoMode> modes;
    for (const std::string& text : kWebcamModes) modes.push_back(*VideoModeFromText(text));
    return modes;
}

// LUMORA_TEST_CAMERA_MODES gives a run (a benchmark) other modes than the webcam's.
std::vector<VideoMode> StartingModes() {
    const char* wanted = std::getenv("LUMORA_TEST_CAMERA_MODES");
    std::vector<VideoMode> modes = wanted ? VideoModesFromList(wanted) : std::vector<VideoMode>{};
    return modes.empty() ? WebcamModes() : modes;
}

Published& published() {
    static Published* instance = [] {
        auto* p = new Published();
        p->cameraModes = StartingModes();
        return p;
    }();
    return *instance;
}

// A stalled tone hands on a buffer of 10 ms only every 400 ms, as a sound
// device that hangs does; it never blocks longer, so a stop still ends it.
GstPadProbeReturn SlowDownWhenStalled(GstPad* pad, GstPadProbeInfo*, gpointer failed) {
    if (testToneFails.load()) {
        auto* told = static_cast<std::atomic<bool>*>(failed);
        if (!told->exchange(true)) {
            const ElementPtr tone(gst_pad_get_parent_element(pad));
            GST_ELEMENT_ERROR(tone.get(), RESOURCE, READ, ("The sound device was disconnected."), (nullptr));
        }
        return GST_PAD_PROBE_DROP;
    }
    if (testToneStalled.load()) std::this_thread::sleep_for(std::chrono::milliseconds(400));
    return GST_PAD_PROBE_OK;
}

// A tone whose crystal runs fast delivers its samples in less time than its
// count says, a slow one in more: each buffer is retimed to when it was
// really captured, and a slow one's is handed on no sooner.
GstPadProbeReturn RetimeWhenDrifting(GstPad* pad, GstPadProbeInfo* info, gpointer firstTime) {
    const double error = testToneRateError.load();
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (error == 0.0 || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    auto* first = static_cast<GstClockTime*>(firstTime);
    if (!GST_CLOCK_TIME_IS_VALID(*first)) *first = GST_BUFFER_PTS(buffer);
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_PTS(buffer) = *first + static_cast<GstClockTime>((GST_BUFFER_PTS(buffer) - *first) / (1.0 + error));
    if (GST_BUFFER_DURATION_IS_VALID(buffer))
        GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(GST_BUFFER_DURATION(buffer) / (1.0 + error));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    const ElementPtr tone(gst_pad_get_parent_element(pad));
    const ObjectPtr<GstClock> clock(tone ? gst_element_get_clock(tone.get()) : nullptr);
    if (error < 0 && clock) {
        const GstClockTime ready = gst_element_get_base_time(tone.get()) + GST_BUFFER_PTS(buffer) +
                                   (GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0);
        GstClockID id = gst_clock_new_single_shot_id(clock.get(), ready);
        gst_clock_id_wait(id, nullptr);  // a buffer's length at most
        gst_clock_id_unref(id);
    }
    return GST_PAD_PROBE_OK;
}

// The sync signal's silences, to the sample (the tone's signed samples are
// silent at zero).
GstPadProbeReturn SilenceWhenFlashing(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const CapsPtr caps(gst_pad_get_current_caps(pad));
    GstAudioInfo format;
    if (!GST_BUFFER_PTS_IS_VALID(buffer) || !caps || !gst_audio_info_from_caps(&format, caps.get()) ||
        GST_AUDIO_INFO_RATE(&format) <= 0)
        return GST_PAD_PROBE_OK;
    const gsize bpf = GST_AUDIO_INFO_BPF(&format);
    const gsize frames = gst_buffer_get_size(buffer) / bpf;
    if (frames == 0) return GST_PAD_PROBE_OK;
    const auto timeOf = [&](gsize i) {
        return GST_BUFFER_PTS(buffer) + gst_util_uint64_scale(i, GST_SECOND, GST_AUDIO_INFO_RATE(&format));
    };
    if (!SyncSignalFlashing(timeOf(0)) && !SyncSignalFlashing(timeOf(frames - 1))) return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        for (gsize i = 0; i < frames; ++i)
            if (SyncSignalFlashing(timeOf(i))) std::memset(map.data + i * bpf, 0, bpf);
        gst_buffer_unmap(buffer, &map);
    }
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

GstCaps* CapsOfModes(const std::vector<VideoMode>& modes) {
    GstCaps* caps = gst_caps_new_empty();
    for (const VideoMode& mode : modes) {
        GstStructure* s = mode.IsMjpeg() ? gst_structure_new_empty("image/jpeg")
                                         : gst_structure_new("video/x-raw", "format", G_TYPE_STRING,
                                                             mode.format.c_str(), nullptr);
        gst_structure_set(s, "width", G_TYPE_INT, mode.width, "height", G_TYPE_INT, mode.height, "framerate",
                          GST_TYPE_FRACTION, mode.rateNumerator, mode.rateDenominator, nullptr);
        gst_caps_append_structure(caps, s);
    }
    return caps;
}

}  // namespace

}  // namespace lumora::gst

// ------------------------------------------------------------ the devices

struct LumoraTestDevice {
    GstDevice parent;
    gboolean camera;
};
struct LumoraTestDeviceClass {
    GstDeviceClass parent_class;
};
G_DEFINE_TYPE(LumoraTestDevice, lumora_test_device, GST_TYPE_DEVICE)

static GstElement* lumora_test_device_create_element(GstDevice* device, const gchar* name) {
    if (reinterpret_cast<LumoraTestDevice*>(device)->camera)
        return gst_element_factory_make("lumoratestcamerasrc", name);
    GstElement* source = gst_element_factory_make("audiotestsrc", name);
    if (!source) return nullptr;
    g_object_set(source, "is-live", TRUE, "freq", 440.0, "volume", 0.2, "samplesperbuffer", 441, nullptr);
    const lumora::gst::PadPtr output(gst_element_get_static_pad(source, "src"));
    gst_pad_add_probe(output.get(), GST_PAD_PROBE_TYPE_BUFFER, &lumora::gst::SlowDownWhenStalled,
                      new std::atomic<bool>(false), [](gpointer told) { delete static_cast<std::atomic<bool>*>(told); });
    gst_pad_add_probe(output.get(), GST_PAD_PROBE_TYPE_BUFFER, &lumora::gst::RetimeWhenDrifting,
                      new GstClockTime(GST_CLOCK_TIME_NONE), [](gpointer first) { delete static_cast<GstClockTime*>(first); });
    if (lumora::gst::SyncSignalPeriod() > 0)
        gst_pad_add_probe(output.get(), GST_PAD_PROBE_TYPE_BUFFER, &lumora::gst::SilenceWhenFlashing, nullptr, nullptr);
    return source;
}

static void lumora_test_device_class_init(LumoraTestDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = lumora_test_device_create_element;
}
static void lumora_test_device_init(LumoraTestDevice* self) { self->camera = FALSE; }

namespace lumora::gst {
namespace {

// A new (floating) device.
GstDevice* NewCamera(const std::vector<VideoMode>& modes) {
    const CapsPtr caps(CapsOfModes(modes));
    const StructurePtr properties(gst_structure_new("lumora-test-device", "lumora.simulated", G_TYPE_BOOLEAN, TRUE,
                                                    "device.path", G_TYPE_STRING, "lumora-test-camera", nullptr));
    auto* device = static_cast<LumoraTestDevice*>(
        g_object_new(lumora_test_device_get_type(), "display-name", "Lumora Test Pattern", "device-class",
                     "Video/Source", "caps", caps.get(), "properties", properties.get(), nullptr));
    device->camera = TRUE;
    return GST_DEVICE(device);
}

GstDevice* NewTone() {
    const CapsPtr caps(gst_caps_new_empty_simple("audio/x-raw"));
    const StructurePtr properties(gst_structure_new("lumora-test-device", "lumora.simulated", G_TYPE_BOOLEAN, TRUE,
                                                    "is-default", G_TYPE_BOOLEAN, TRUE, "node.name", G_TYPE_STRING,
                                                    "lumora-test-tone", nullptr));
    return GST_DEVICE(g_object_new(lumora_test_device_get_type(), "display-name", "Lumora Test Tone", "device-class",
                                   "Audio/Source", "caps", caps.get(), "properties", properties.get(), nullptr));
}

std::vector<ObjectPtr<GstDeviceProvider>> RunningProviders() {
    std::vector<ObjectPtr<GstDeviceProvider>> providers;
    for (const auto& [provider, camera] : published().cameras) providers.push_back(Ref(provider));
    return providers;
}

// Takes the camera off every running provider (under the lock), handing
// back what to announce as removed.
std::vector<std::pair<ObjectPtr<GstDeviceProvider>, DevicePtr>> TakeCameras() {
    std::vector<std::pair<ObjectPtr<GstDeviceProvider>, DevicePtr>> taken;
    for (auto& [provider, camera] : published().cameras) {
        if (camera) taken.emplace_back(Ref(provider), Ref(camera));
        camera = nullptr;
    }
    return taken;
}

// Messages are posted outside the lock: listeners may list devices.
void AnnounceRemoved(std::vector<std::pair<ObjectPtr<GstDeviceProvider>, DevicePtr>> taken) {
    for (auto& [provider, camera] : taken) gst_device_provider_device_remove(provider.get(), camera.get());
}

void PlugCamera() {
    std::vector<std::pair<ObjectPtr<GstDeviceProvider>, GstDevice*>> added;
    {
        std::lock_guard lock(published().mutex);
        for (const ObjectPtr<GstDeviceProvider>& provider : RunningProviders()) {
            GstDevice* camera = NewCamera(published().cameraModes);
            published().cameras[provider.get()] = camera;
            added.emplace_back(Ref(provider.get()), camera);
        }
    }
    for (auto& [provider, camera] : added) gst_device_provider_device_add(provider.get(), camera);
}

}  // namespace
}  // namespace lumora::gst

// ----------------------------------------------------------- the provider

struct LumoraTestDeviceProvider {
    GstDeviceProvider parent;
};
struct LumoraTestDeviceProviderClass {
    GstDeviceProviderClass parent_class;
};
G_DEFINE_TYPE(LumoraTestDeviceProvider, lumora_test_device_provider, GST_TYPE_DEVICE_PROVIDER)

static GList* lumora_test_device_provider_probe(GstDeviceProvider*) {
    using namespace lumora::gst;
    std::lock_guard lock(published().mutex);
    GList* devices = g_list_append(nullptr, NewTone());
    if (published().cameraPlugged) devices = g_list_append(devices, NewCamera(published().cameraModes));
    return devices;
}

static gboolean lumora_test_device_provider_start(GstDeviceProvider* provider) {
    using namespace lumora::gst;
    GstDevice* camera = nullptr;
    {
        std::lock_guard lock(published().mutex);
        if (published().cameraPlugged) camera = NewCamera(published().cameraModes);
        published().cameras[provider] = camera;
    }
    gst_device_provider_device_add(provider, NewTone());
    if (camera) gst_device_provider_device_add(provider, camera);
    return TRUE;
}

static void lumora_test_device_provider_stop(GstDeviceProvider* provider) {
    using namespace lumora::gst;
    std::lock_guard lock(published().mutex);
    published().cameras.erase(provider);
}

static void lumora_test_device_provider_class_init(LumoraTestDeviceProviderClass* klass) {
    GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = lumora_test_device_provider_probe;
    provider->start = lumora_test_device_provider_start;
    provider->stop = lumora_test_device_provider_stop;
    gst_device_provider_class_set_static_metadata(provider, "Lumora test devices", "Source/Audio/Video",
                                                  "The simulated camera and sound input of the tests", "Lumora");
}
static void lumora_test_device_provider_init(LumoraTestDeviceProvider*) {}

namespace lumora::gst {

namespace {

gboolean InitTestPlugin(GstPlugin* plugin) { return AddTestDevices(plugin); }

}  // namespace

bool AddTestDevices(GstPlugin* plugin) {
    return gst_device_provider_register(plugin, "lumoratestdeviceprovider", GST_RANK_PRIMARY,
                                        lumora_test_device_provider_get_type()) &&
           RegisterTestCameraSource(plugin);
}

void RegisterTestDevices() {
    gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "lumoratest",
                               "Simulated devices for tests and benchmarks", InitTestPlugin, "1.0", "LGPL",
                               "lumora", "Lumora", "https://example.org/lumora");
}

void StallTestTone(bool stalled) { testToneStalled.store(stalled); }
void FailTestTone(bool failed) { testToneFails.store(failed); }
void SetTestToneRateError(double error) { testToneRateError.store(error); }

void UnplugTestCamera() {
    std::vector<std::pair<ObjectPtr<GstDeviceProvider>, DevicePtr>> taken;
    {
        std::lock_guard lock(published().mutex);
        published().cameraPlugged = false;
        taken = TakeCameras();
    }
    FailRunningTestCameras();
    AnnounceRemoved(std::move(taken));
}

void ReplugTestCamera() {
    {
        std::lock_guard lock(published().mutex);
        if (published().cameraPlugged) return;
        published().cameraPlugged = true;
    }
    PlugCamera();
}

void StallTestCameraStart(bool stalled) { SetTestCameraStartStalled(stalled); }

namespace {

// The camera offers `modes` from now on: while plugged, it is replaced.
void OfferCameraModes(std::vector<VideoMode> modes) {
    std::vector<std::pair<ObjectPtr<GstDeviceProvider>, DevicePtr>> taken;
    {
        std::lock_guard lock(published().mutex);
        published().cameraModes = std::move(modes);
        if (!published().cameraPlugged) return;
        taken = TakeCameras();
    }
    AnnounceRemoved(std::move(taken));
    PlugCamera();
}

}  // namespace

void SetTestCameraModes(const std::vector<std::string>& modes) {
    std::vector<VideoMode> parsed;
    for (const std::string& text : modes)
        if (const std::optional<VideoMode> mode = VideoModeFromText(text)) parsed.push_back(*mode);
    OfferCameraModes(std::move(parsed));
}

void ResetTestCameraModes() { OfferCameraModes(WebcamModes()); }

}  // namespace lumora::gst

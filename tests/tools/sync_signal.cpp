// Publishes a sync signal, as one device with a camera and a microphone
// would: a PipeWire camera whose picture turns white, and a tone played to
// a PulseAudio sink that stops, at the same instants (every PERIOD seconds,
// for FLASH seconds). Both go by one clock, so a recording of the two can
// be checked for how far its sound strays from its picture.
//
//   lumora_sync_signal CAMERA-NAME PULSE-SINK [PERIOD [FLASH [WxH]]]
//
// WxH is the picture's size (640x480): a smaller one keeps a long raw
// recording of it small.
// Runs until it is ended by SIGTERM or SIGINT. Needs PIPEWIRE_RUNTIME_DIR
// (or XDG_RUNTIME_DIR) and PULSE_SERVER of the daemons to publish to.

#include <glib-unix.h>
#include <gst/gst.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/tools/PipeWireCameraNode.h"

namespace {

GstClockTime period = 5 * GST_SECOND;
GstClockTime flash = 500 * GST_MSECOND;
GMainLoop* loop = nullptr;

bool Flashing(GstClockTime time) { return time % period < flash; }

// When the tone's running time 0 is heard, on the system clock: the
// pipeline's base time plus its latency, once it plays.
std::atomic<GstClockTime> baseTime{GST_CLOCK_TIME_NONE};
GstClock* systemClock = nullptr;

// Black (Y 16), white (Y 235) while flashing; YUY2 keeps Y in the even
// bytes, U and V at 128. The camera ticks on the frames' own instants, so
// the picture is taken at the running time of its nearest frame.
void DrawPicture(uint8_t* pixels, int stride, int height, int fps) {
    const GstClockTime base = baseTime.load();
    const GstClockTime now = gst_clock_get_time(systemClock);
    const GstClockTime rounded = now + GST_SECOND / (2 * fps);  // to the nearest frame
    bool white = false;
    if (GST_CLOCK_TIME_IS_VALID(base) && rounded >= base) {
        const guint64 frame = gst_util_uint64_scale(rounded - base, fps, GST_SECOND);
        white = Flashing(gst_util_uint64_scale_int(frame, GST_SECOND, fps));
    }
    const std::size_t size = static_cast<std::size_t>(stride) * height;
    for (std::size_t i = 0; i < size; i += 2) {
        pixels[i] = white ? 235 : 16;
        pixels[i + 1] = 128;
    }
}

// The tone falls silent, to the sample, while the picture is white.
GstPadProbeReturn SilenceTone(GstPad*, GstPadProbeInfo* info, gpointer rateData) {
    const int rate = GPOINTER_TO_INT(rateData);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        auto* samples = reinterpret_cast<gint16*>(map.data);
        const gsize count = map.size / sizeof(gint16);
        for (gsize i = 0; i < count; ++i)
            if (Flashing(GST_BUFFER_PTS(buffer) + gst_util_uint64_scale(i, GST_SECOND, rate))) samples[i] = 0;
        gst_buffer_unmap(buffer, &map);
    }
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

void Probe(GstElement* pipeline, const char* name, GstPadProbeCallback callback, gpointer data) {
    GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), name);
    GstPad* pad = gst_element_get_static_pad(element, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, callback, data, nullptr);
    gst_object_unref(pad);
    gst_object_unref(element);
}

gboolean OnBus(GstBus*, GstMessage* message, gpointer) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        std::fprintf(stderr, "sync signal: %s\n", error->message);
        g_error_free(error);
        g_main_loop_quit(loop);
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CAMERA-NAME PULSE-SINK [PERIOD [FLASH [WxH]]]\n", argv[0]);
        return 2;
    }
    if (argc > 3) period = static_cast<GstClockTime>(std::atof(argv[3]) * GST_SECOND);
    if (argc > 4) flash = static_cast<GstClockTime>(std::atof(argv[4]) * GST_SECOND);
    int width = 640, height = 480;
    if (argc > 5 && !ParsePictureSize(argv[5], width, height)) {
        std::fprintf(stderr, "sync signal: %s is not a picture size (WxH, W even)\n", argv[5]);
        return 2;
    }
    constexpr int kRate = 48000;
    const std::string description =
        "audiotestsrc is-live=true freq=1000 volume=0.5 samplesperbuffer=480 name=tone"
        " ! audio/x-raw,format=S16LE,channels=1,rate=" +
        std::to_string(kRate) + " ! pulsesink drift-tolerance=2000 alignment-threshold=2000000 discont-wait=0 device=" + argv[2];
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        std::fprintf(stderr, "sync signal: %s\n", error ? error->message : "no pipeline");
        return 1;
    }
    Probe(pipeline, "tone", &SilenceTone, GINT_TO_POINTER(kRate));
    loop = g_main_loop_new(nullptr, FALSE);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_add_watch(bus, &OnBus, nullptr);
    gst_object_unref(bus);
    auto quit = [](gpointer) -> gboolean {
        g_main_loop_quit(loop);
        return G_SOURCE_REMOVE;
    };
    g_unix_signal_add(SIGTERM, quit, nullptr);
    g_unix_signal_add(SIGINT, quit, nullptr);
    // The system's clock, not the sound server's: a server that hangs
    // would hold up the picture too.
    systemClock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(pipeline), systemClock);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    if (gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND) == GST_STATE_CHANGE_FAILURE) {
        std::fprintf(stderr, "sync signal: the tone does not play\n");
        return 1;
    }
    GstClockTime latency = 0;
    GstQuery* query = gst_query_new_latency();
    if (gst_element_query(pipeline, query)) gst_query_parse_latency(query, nullptr, &latency, nullptr);
    gst_query_unref(query);
    std::fprintf(stderr, "sync signal: the tone is heard %.1f ms after its running time\n", latency / 1e6);
    baseTime = gst_element_get_base_time(pipeline) + latency;

    // The camera takes its pictures on PipeWire's thread, by the same clock.
    pw_init(nullptr, nullptr);
    pw_thread_loop* cameraLoop = pw_thread_loop_new("sync-camera", nullptr);
    pw_thread_loop_lock(cameraLoop);
    constexpr int kFps = 30;
    auto* camera = new PipeWireCameraNode(pw_thread_loop_get_loop(cameraLoop), argv[1], width, height, kFps,
                                          [height](uint8_t* pixels, int stride, uint64_t) {
                                              DrawPicture(pixels, stride, height, kFps);
                                          });
    camera->SetTickOrigin(baseTime.load());
    const bool published = camera->Published() && pw_thread_loop_start(cameraLoop) == 0;
    pw_thread_loop_unlock(cameraLoop);
    if (published)
        g_main_loop_run(loop);
    else
        std::fprintf(stderr, "sync signal: the camera could not be published\n");

    pw_thread_loop_lock(cameraLoop);
    delete camera;
    pw_thread_loop_unlock(cameraLoop);
    pw_thread_loop_stop(cameraLoop);
    pw_thread_loop_destroy(cameraLoop);
    pw_deinit();
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    gst_object_unref(systemClock);
    g_main_loop_unref(loop);
    return published ? 0 : 1;
}

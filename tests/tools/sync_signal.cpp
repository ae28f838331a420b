// Publishes a sync signal, as one device with a camera and a microphone
// would: a PipeWire camera whose picture turns white, and a tone played to
// a PulseAudio sink that stops, at the same instants (every PERIOD seconds,
// for FLASH seconds). Both run in one pipeline on one clock, so a recording
// of the two can be checked for how far its sound strays from its picture.
//
//   lumora_sync_signal CAMERA-NAME PULSE-SINK [PERIOD [FLASH [WxH]]]
//
// WxH is the picture's size (640x480): a smaller one keeps a long raw
// recording of it small.
// Runs until it is ended by SIGTERM or SIGINT. Needs PIPEWIRE_RUNTIME_DIR
// (or XDG_RUNTIME_DIR) and PULSE_SERVER of the daemons to publish to.

#include <glib-unix.h>
#include <gst/gst.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

GstClockTime period = 5 * GST_SECOND;
GstClockTime flash = 500 * GST_MSECOND;
GMainLoop* loop = nullptr;

bool Flashing(GstClockTime time) { return time % period < flash; }

// Black (Y 16) turned white (Y 235) while flashing; YUY2 keeps Y in the even bytes.
GstPadProbeReturn FlashPicture(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!GST_BUFFER_PTS_IS_VALID(buffer) || !Flashing(GST_BUFFER_PTS(buffer))) return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        for (gsize i = 0; i < map.size; i += 2) map.data[i] = 235;
        gst_buffer_unmap(buffer, &map);
    }
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
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
    // YUY2 packs two pixels in four bytes, so the width must be even.
    if (argc > 5 && (std::sscanf(argv[5], "%dx%d", &width, &height) != 2 || width < 2 || height < 1 || width % 2)) {
        std::fprintf(stderr, "sync signal: %s is not a picture size (WxH, W even)\n", argv[5]);
        return 2;
    }
    constexpr int kRate = 48000;
    const std::string description =
        "videotestsrc is-live=true pattern=black name=picture"
        " ! video/x-raw,format=YUY2,width=" +
        std::to_string(width) + ",height=" + std::to_string(height) +
        ",framerate=30/1"
        " ! pipewiresink mode=provide stream-properties=\"props,media.class=Video/Source,node.description=\\\"" +
        std::string(argv[1]) +
        "\\\"\""
        " audiotestsrc is-live=true freq=1000 volume=0.5 samplesperbuffer=480 name=tone"
        " ! audio/x-raw,format=S16LE,channels=1,rate=" +
        std::to_string(kRate) + " ! pulsesink drift-tolerance=2000 alignment-threshold=2000000 discont-wait=0 device=" + argv[2];
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        std::fprintf(stderr, "sync signal: %s\n", error ? error->message : "no pipeline");
        return 1;
    }
    Probe(pipeline, "picture", &FlashPicture, nullptr);
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
    GstClock* clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(pipeline), clock);
    gst_object_unref(clock);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    g_main_loop_run(loop);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    g_main_loop_unref(loop);
    return 0;
}

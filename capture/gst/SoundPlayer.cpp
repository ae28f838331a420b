// The shutter sound: one playbin per call, freed by its own bus watch when
// the sound ends or fails, so the caller never waits.
#include "capture/SoundPlayer.h"

#include <gst/gst.h>

#include <filesystem>
#include <system_error>

namespace {

gboolean OnPlaybinMessage(GstBus*, GstMessage* message, gpointer data)
{
    auto* playbin = static_cast<GstElement*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ERROR:
        gst_element_set_state(playbin, GST_STATE_NULL);
        gst_object_unref(playbin);
        return G_SOURCE_REMOVE;
    default:
        return G_SOURCE_CONTINUE;
    }
}

}  // namespace

bool PlaySoundFileAsync(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    if (!gst_is_initialized()) gst_init(nullptr, nullptr);

    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin) return false;
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    if (!uri) {
        gst_object_unref(playbin);
        return false;
    }
    g_object_set(playbin, "uri", uri, nullptr);
    g_free(uri);
    // No sound card on a headless machine: play into nothing rather than fail.
    if (GstElement* sink = gst_element_factory_make("autoaudiosink", nullptr))
        g_object_set(playbin, "audio-sink", sink, nullptr);
    // A video sink is never wanted for a wave file.
    if (GstElement* fakeVideo = gst_element_factory_make("fakesink", nullptr))
        g_object_set(playbin, "video-sink", fakeVideo, nullptr);

    if (gst_element_set_state(playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(playbin, GST_STATE_NULL);
        gst_object_unref(playbin);
        return false;
    }
    // The watch runs on the default main context, which Qt's event loop
    // dispatches (glib event dispatcher); it owns the playbin from here.
    GstBus* bus = gst_element_get_bus(playbin);
    gst_bus_add_watch(bus, OnPlaybinMessage, playbin);
    gst_object_unref(bus);
    return true;
}

// The shutter sound: one playbin per call, freed by its own bus watch when
// the sound ends or fails, so the caller never waits.
#include "capture/SoundPlayer.h"

#include <gst/gst.h>

#include <filesystem>
#include <system_error>

#include "capture/gst/GstHandles.h"

using lumora::gst::AdoptFloating;
using lumora::gst::BusPtr;
using lumora::gst::ElementPtr;
using lumora::gst::TextPtr;

namespace {

gboolean OnPlaybinMessage(GstBus*, GstMessage* message, gpointer data)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ERROR: {
        const ElementPtr playbin(static_cast<GstElement*>(data));  // the watch's reference
        gst_element_set_state(playbin.get(), GST_STATE_NULL);
        return G_SOURCE_REMOVE;
    }
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

    ElementPtr playbin = AdoptFloating(gst_element_factory_make("playbin", nullptr));
    if (!playbin) return false;
    const TextPtr uri(gst_filename_to_uri(path.c_str(), nullptr));
    if (!uri) return false;
    // Sound only: without the soft-volume flag playbin adds no volume
    // element, which GStreamer 1.22 leaks with every sound.
    constexpr int kPlayAudio = 1 << 1;
    g_object_set(playbin.get(), "uri", uri.get(), "flags", kPlayAudio, nullptr);
    // No sound card on a headless machine: play into nothing rather than fail.
    if (GstElement* sink = gst_element_factory_make("autoaudiosink", nullptr))
        g_object_set(playbin.get(), "audio-sink", sink, nullptr);
    // A video sink is never wanted for a wave file.
    if (GstElement* fakeVideo = gst_element_factory_make("fakesink", nullptr))
        g_object_set(playbin.get(), "video-sink", fakeVideo, nullptr);

    if (gst_element_set_state(playbin.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(playbin.get(), GST_STATE_NULL);
        return false;
    }
    // The watch runs on the default main context, which Qt's event loop
    // dispatches (glib event dispatcher); it owns the playbin from here.
    const BusPtr bus(gst_element_get_bus(playbin.get()));
    gst_bus_add_watch(bus.get(), OnPlaybinMessage, playbin.release());
    return true;
}

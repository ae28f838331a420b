#include "capture/gst/DamagedFrames.h"

#include <memory>
#include <mutex>
#include <utility>

#include "capture/gst/GstHandles.h"
#include "capture/gst/JpegHeader.h"

namespace lumora::gst {

namespace {

struct HeaderReader {
    tjhandle handle = tjInitDecompress();
    ~HeaderReader() {
        if (handle) tjDestroy(handle);
    }
};

// Reading the headers stops where the picture's data begins: it costs
// next to nothing beside decoding or storing the frame.
GstPadProbeReturn DropIfUnreadable(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& reader = *static_cast<HeaderReader*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo jpeg;
    if (!reader.handle || !buffer || !gst_buffer_map(buffer, &jpeg, GST_MAP_READ)) return GST_PAD_PROBE_OK;
    JpegHeader header;
    const bool readable = ReadJpegHeader(reader.handle, jpeg.data, jpeg.size, header);
    gst_buffer_unmap(buffer, &jpeg);
    return readable ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

// Frames in and pictures out of one decoder. Its two pads may be served by
// different threads.
struct DecodeRun {
    DecodeRun(std::chrono::milliseconds limit, std::string message)
        : limit(std::chrono::duration_cast<std::chrono::microseconds>(limit).count()), message(std::move(message)) {}

    // Whether the run of frames without a picture has just grown too long.
    bool FrameCame() {
        const gint64 now = g_get_monotonic_time();
        std::lock_guard lock(mutex);
        if (firstUnanswered < 0 || now - lastFrame > limit / 2) firstUnanswered = now;
        lastFrame = now;
        if (told || now - firstUnanswered < limit) return false;
        told = true;
        return true;
    }
    void PictureCame() {
        std::lock_guard lock(mutex);
        firstUnanswered = -1;
    }

    const gint64 limit;  // microseconds
    const std::string message;
    std::mutex mutex;
    gint64 firstUnanswered = -1, lastFrame = -1;  // monotonic microseconds; -1: none
    bool told = false;
};

using SharedRun = std::shared_ptr<DecodeRun>;

DecodeRun& RunOf(gpointer data) { return **static_cast<SharedRun*>(data); }

GstPadProbeReturn FrameIn(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    DecodeRun& run = RunOf(data);
    if (!run.FrameCame()) return GST_PAD_PROBE_OK;
    const ElementPtr decoder(gst_pad_get_parent_element(pad));
    if (decoder) GST_ELEMENT_ERROR(decoder.get(), STREAM, DECODE, ("%s", run.message.c_str()), (nullptr));
    return GST_PAD_PROBE_DROP;
}

GstPadProbeReturn PictureOut(GstPad*, GstPadProbeInfo*, gpointer data) {
    RunOf(data).PictureCame();
    return GST_PAD_PROBE_OK;
}

void AddRunProbe(GstElement* decoder, const char* padName, GstPadProbeCallback callback, const SharedRun& run) {
    const PadPtr pad(gst_element_get_static_pad(decoder, padName));
    if (pad)
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, callback, new SharedRun(run),
                          [](gpointer data) { delete static_cast<SharedRun*>(data); });
}

}  // namespace

void DropUnreadableJpeg(GstElement* element) {
    const PadPtr pad(element ? gst_element_get_static_pad(element, "sink") : nullptr);
    if (!pad) return;
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &DropIfUnreadable, new HeaderReader(),
                      [](gpointer data) { delete static_cast<HeaderReader*>(data); });
}

void WatchForUndecodableRun(GstElement* decoder, std::chrono::milliseconds limit, std::string message) {
    const auto run = std::make_shared<DecodeRun>(limit, std::move(message));
    AddRunProbe(decoder, "sink", &FrameIn, run);
    AddRunProbe(decoder, "src", &PictureOut, run);
}

}  // namespace lumora::gst

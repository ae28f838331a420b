// A camera whose pictures are smaller than the raw format it announced (as
// Debian 12's libcamera sends at some widths): the first such picture fails
// the stream with a message naming the format, and it is not shown.

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "capture/gst/GstHandles.h"
#include "capture/gst/PictureSizeCheck.h"

namespace {

using namespace lumora::gst;

void CountShown(GstElement*, GstBuffer*, GstPad*, gpointer shown) { ++*static_cast<std::atomic<int>*>(shown); }

TEST(PictureSizeCheck, APictureSmallerThanItsFormatIsAnErrorAndNotShown) {
    gst_init(nullptr, nullptr);
    const ElementPtr pipeline = AdoptFloating(gst_parse_launch("appsrc name=camera caps=video/x-raw,format=I420,"
        "width=64,height=48,framerate=30/1 ! fakesink name=screen sync=false signal-handoffs=true", nullptr));
    const ElementPtr camera(gst_bin_get_by_name(GST_BIN(pipeline.get()), "camera"));
    const ElementPtr screen(gst_bin_get_by_name(GST_BIN(pipeline.get()), "screen"));
    const PadPtr output(gst_element_get_static_pad(camera.get(), "src"));
    CheckPictureSizes(output.get(), camera.get());
    std::atomic<int> shown{0};
    g_signal_connect(screen.get(), "handoff", G_CALLBACK(&CountShown), &shown);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);

    const gsize whole = 64 * 48 * 3 / 2;
    for (const gsize size : {whole, whole - 64 * 3, whole})
        gst_app_src_push_buffer(GST_APP_SRC(camera.get()), gst_buffer_new_allocate(nullptr, size, nullptr));
    gst_app_src_end_of_stream(GST_APP_SRC(camera.get()));
    const BusPtr bus(gst_element_get_bus(pipeline.get()));
    const MessagePtr message(gst_bus_timed_pop_filtered(
        bus.get(), 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);

    ASSERT_TRUE(message);
    ASSERT_EQ(GST_MESSAGE_TYPE(message.get()), GST_MESSAGE_ERROR);
    EXPECT_EQ(GST_MESSAGE_SRC(message.get()), GST_OBJECT(camera.get()));
    GError* error = nullptr;
    gst_message_parse_error(message.get(), &error, nullptr);
    const ErrorPtr held(error);
    EXPECT_NE(std::string(error->message).find("64 x 48 I420"), std::string::npos) << error->message;
    EXPECT_EQ(shown.load(), 1) << "only the whole picture before it";
}

}  // namespace

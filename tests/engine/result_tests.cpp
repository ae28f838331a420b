// The platform layer's results: a value, or the reason it could not be had.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "capture/gst/Result.h"

using lumora::gst::Fail;
using lumora::gst::Ok;
using lumora::gst::Result;
using lumora::gst::Status;

TEST(PlatformResult, CarriesItsValueOrItsReason) {
    Result<std::unique_ptr<int>> made = Ok(std::make_unique<int>(7));
    ASSERT_TRUE(made.ok());
    EXPECT_TRUE(made.error().empty());
    EXPECT_EQ(*std::move(made).value(), 7);

    // A text as the value is not taken for a reason.
    const Result<std::string> name = std::string("摄像头");
    EXPECT_TRUE(name.ok());
    EXPECT_EQ(name.value(), "摄像头");

    const Result<int> failed = Fail("没有安装 GStreamer 元件“tee”");
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), "没有安装 GStreamer 元件“tee”");

    EXPECT_TRUE(Ok().ok());
    const Status silent = Fail("");  // failed, though the layer cannot tell why
    EXPECT_FALSE(silent.ok());
    EXPECT_TRUE(silent.error().empty());
}

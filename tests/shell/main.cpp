// Shell tests run under an offscreen QApplication unless a display is chosen.
#include <QApplication>
#include <gtest/gtest.h>

#include "capture/CaptureSession.h"
#include "capture/gst/GstCapturePlatform.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    TheCaptureSession().UsePlatform(CreateGstCapturePlatform());
    const int result = RUN_ALL_TESTS();
    TheCaptureSession().UsePlatform(nullptr);
    return result;
}

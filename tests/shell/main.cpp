// Shell tests run under an offscreen QApplication unless a display is chosen.
#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "app/ChineseLocale.h"

#include "capture/CaptureSession.h"
#include "capture/gst/GstCapturePlatform.h"

int main(int argc, char** argv)
{
    // Line by line, so that a test killed for hanging shows how far it got
    // (started, ran, or stuck in the media platform's start or stop).
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's profile goes to a scratch place, never the user's own.
    QStandardPaths::setTestModeEnabled(true);
    // Started as the program starts: Chinese dates and sizes.
    std::optional<CChineseStartLocale> chineseLocale(std::in_place);
    QApplication app(argc, argv);
    chineseLocale.reset();
    QTemporaryDir profileDir;
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, profileDir.path());
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time) starts no media platform.
    if (!::testing::GTEST_FLAG(list_tests)) TheCaptureSession().UsePlatform(CreateGstCapturePlatform());
    const int result = RUN_ALL_TESTS();
    TheCaptureSession().UsePlatform(nullptr);
    return result;
}

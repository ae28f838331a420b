// Shell tests run under an offscreen QApplication unless a display is chosen.
#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "app/ChineseLocale.h"

#include "capture/CaptureSession.h"
#include "capture/gst/GstCapturePlatform.h"

namespace {

// ctest kills a test that outlives its timeout (180 s) with nothing to show
// where it stood. Shortly before that, every thread's stack is written out
// (by gdb, where it is installed), so that a rare hang can be read.
void WatchForAHang(int seconds)
{
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
    std::thread([seconds] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        std::fprintf(stderr, "still running after %d s; every thread's stack:\n", seconds);
        const std::string command =
            "gdb -p " + std::to_string(::getpid()) + " -batch -ex 'thread apply all bt' 1>&2 2>/dev/null";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "(gdb could not read them)\n");
    }).detach();
}

}  // namespace

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
    const char* watch = std::getenv("LUMORA_HANG_WATCH_SECONDS");
    WatchForAHang(watch ? std::atoi(watch) : 150);
    // Listing the tests (at build time) starts no media platform.
    if (!::testing::GTEST_FLAG(list_tests)) TheCaptureSession().UsePlatform(CreateGstCapturePlatform());
    const int result = RUN_ALL_TESTS();
    TheCaptureSession().UsePlatform(nullptr);
    return result;
}

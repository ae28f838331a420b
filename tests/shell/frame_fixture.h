#pragma once
// A fresh program for each test: its own start directory, profile and
// settings; message boxes and the device dialog answered without blocking.

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "app/LumoraApp.h"
#include "app/LumoraDoc.h"
#include "res/CommandIds.h"
#include "view/VideoWidget.h"
#include "app/Messages.h"
#include "capture/CaptureSession.h"
#include "capture/ComboBox.h"
#include "frame/MainFrame.h"
#include "settings/SettingsFile.h"
#include "snapshot/GrabberCallback.h"
#include "view/LumoraView.h"
#include "tests/WaitFor.h"

// Runs the event loop until `done` holds or `ms` have passed.
template <typename Condition>
bool WaitFor(Condition done, int ms = 5000)
{
    return WaitUntil(done, ms / 1000.0, [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
}

// The span of the running recording's pictures by their timestamps (0
// without one).
inline double RecordedSeconds()
{
    RecordingProgress progress;
    return TheCaptureSession().GetRecordingProgress(progress) ? progress.seconds : 0.0;
}

class NameCollector : public IComboBox {
public:
    void AddString(const std::string& text) override { names.push_back(text); }
    std::vector<std::string> names;
};

// Position of "Lumora Test Pattern" among the video inputs, or -1.
inline int TestPatternIndex()
{
    NameCollector collector;
    TheCaptureSession().ListVideoDevices(&collector);
    for (size_t i = 0; i < collector.names.size(); ++i)
        if (collector.names[i] == "Lumora Test Pattern") return static_cast<int>(i);
    return -1;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(startDir.isValid());
        previousDir = QDir::currentPath();
        QDir::setCurrent(startDir.path());
        fullScreen = 0;
        videoWidth = 0;
        videoHeight = 0;
        snapshotArmed.store(0);
        SetMessageBoxHook([this](const QString& text) { messages.append(text); });
        CLumoraView::deviceDialogHook = [this] {
            ++deviceDialogShown;
            return nextDeviceChoice;
        };
        app = std::make_unique<CLumoraApp>(nullptr, startDir.filePath("profile.ini"));
        ASSERT_TRUE(app->InitInstance());
        frame = app->Frame();
        view = app->View();
        frame->soundHook = [this](const std::string&) { ++soundsPlayed; return true; };
        frame->openUrlHook = [this](const QUrl& url) {
            openedUrls.append(url);
            return urlsOpen;
        };
    }

    void TearDown() override
    {
        app.reset();
        CLumoraView::deviceDialogHook = nullptr;
        SetMessageBoxHook(nullptr);
        fullScreen = 0;
        QDir::setCurrent(previousDir);
    }

    // Chooses the test pattern in the device dialog (no compressors).
    // The camera's small raw mode keeps the shell tests light.
    void ChooseTestPattern()
    {
        nextDeviceChoice = DeviceChoice{TestPatternIndex(), -1, -1};
        nextDeviceChoice.captureChoice.videoMode = VideoMode{640, 480, 30, 1, "YUY2"};
    }

    void SetRecordingPath(const QString& path)
    {
        std::lock_guard lock(SettingsMutex());
        StorePath(settings.videoFilePath, path.toStdString());
    }

    void SetPhotoFolder(const QString& folder)
    {
        std::lock_guard lock(SettingsMutex());
        StorePath(settings.photoFolder, folder.toStdString());
    }

    QTemporaryDir startDir;
    QString previousDir;
    QStringList messages;
    QList<QUrl> openedUrls;
    bool urlsOpen = true;  // false: the desktop has nothing that opens them
    DeviceChoice nextDeviceChoice;
    int deviceDialogShown = 0;
    int soundsPlayed = 0;
    std::unique_ptr<CLumoraApp> app;
    CMainFrame* frame = nullptr;
    CLumoraView* view = nullptr;
};

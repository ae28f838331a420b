#include "app/RunLumora.h"

#include <QApplication>

#include <optional>

#include "app/ChineseLocale.h"
#include "app/LumoraApp.h"
#include "app/QtTranslations.h"
#include "app/QuitSignals.h"
#include "app/RepairCommand.h"
#include "capture/CaptureSession.h"
#include "capture/gst/GstCapturePlatform.h"
#include "frame/MainFrame.h"
#include "view/VideoWidget.h"

int RunLumora(int argc, char** argv, const FrameCompanion& besideFrame)
{
    // Before QApplication: a repair needs no display.
    if (const std::optional<int> repaired = RunRepairCommand(argc, argv)) return *repaired;
    PrepareGstEnvironment();  // no thread runs yet
    std::optional<CChineseStartLocale> chineseLocale(std::in_place);
    QApplication application(argc, argv);
    chineseLocale.reset();
    InstallQtChineseTranslations();
    // On X11 and Wayland the camera's own video sink draws the preview into the view.
    TheCaptureSession().UsePlatform(CreateGstCapturePlatform(CVideoWindow::NativeSystem()));
    CLumoraApp theApp;
    // The session stops (a recording is finished) before the windows go.
    QObject::connect(&application, &QApplication::aboutToQuit, &theApp, [&theApp] { theApp.ExitInstance(); });
    InstallQuitSignalHandlers(&theApp, [&theApp](int) { theApp.OnQuitSignal(); });
    if (!theApp.InitInstance()) return 1;
    const std::unique_ptr<QObject> companion = besideFrame ? besideFrame(theApp.Frame()) : nullptr;
    const int result = application.exec();
    // The device watch stops here, while GStreamer is still whole.
    TheCaptureSession().UsePlatform(nullptr);
    return result;
}

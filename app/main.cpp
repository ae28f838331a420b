#include <QApplication>

#include "app/LumoraApp.h"
#include "app/QtTranslations.h"
#include "app/QuitSignals.h"
#include "frame/MainFrame.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    InstallQtChineseTranslations();
    CLumoraApp theApp;
    // The session stops (a recording is finished) before the windows go.
    QObject::connect(&application, &QApplication::aboutToQuit, &theApp, [&theApp] { theApp.ExitInstance(); });
    InstallQuitSignalHandlers(&theApp, [&theApp](int) { theApp.OnQuitSignal(); });
    if (!theApp.InitInstance()) return 1;
    return application.exec();
}

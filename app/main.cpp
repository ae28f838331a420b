#include <QApplication>

#include "app/LumoraApp.h"
#include "frame/MainFrame.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    CLumoraApp theApp;
    // The session stops (a recording is finished) before the windows go.
    QObject::connect(&application, &QApplication::aboutToQuit, &theApp, [&theApp] { theApp.ExitInstance(); });
    if (!theApp.InitInstance()) return 1;
    return application.exec();
}

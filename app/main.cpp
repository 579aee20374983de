// moatgate: opens the store the settings live in and shows the main window.
#include <QApplication>
#include <cstdlib>
#include <string>

#include "app/Startup.h"
#include "main_window/FormX.h"
#include "platform/HelpViewer.h"
#include "platform/ReportPrinter.h"
#include "registry/store/LargePages.h"

int main(int argc, char** argv) {
    moatgate::UseLargePagesForHeap();
    // Start-up mode is judged on the program's own argument text, taken before Qt
    // removes the options it knows ("-reverse Startup" is not start-up mode).
    std::string arguments;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) arguments += ' ';
        arguments += argv[i];
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Moatgate"));
    // The store is read while the window is built; nothing uses it before Wait.
    moatgate::OpeningStore store([](const char* name) { return std::getenv(name); });
    moatgate::QtMessageBoxes boxes;
    moatgate::FormX form(store, boxes);
    if (!store.Wait(boxes)) return 1;
    // The login check stays quiet when protection is in place; a damaged store is
    // told whenever the window is wanted.
    if (arguments != "Startup") moatgate::TellIfReadOnly(store, boxes);
    moatgate::PlatformBrowsers browsers;
    moatgate::DesktopHelpViewer help;
    moatgate::QtReportPrinter printer;
    form.SetEnvironment({&browsers, &help, moatgate::RunningProgram(), QString::fromLocal8Bit(arguments), &printer});
    // Start-up mode with protection in place: nothing to show.
    if (!form.Form_Load()) return 0;
    boxes.SetParent(&form);
    printer.SetParent(&form);
    form.show();
    return QApplication::exec();
}

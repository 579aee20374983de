// moatgate: opens the store the settings live in and shows the main window.
#include <QApplication>
#include <cstdlib>

#include "FormX.h"
#include "HelpViewer.h"
#include "Startup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Moatgate"));
    moatgate::QtMessageBoxes boxes;
    auto store = moatgate::OpenStoreOrExplain([](const char* name) { return std::getenv(name); }, boxes);
    if (!store) return 1;
    moatgate::FormX form(*store, boxes);
    moatgate::PlatformBrowsers browsers;
    moatgate::DesktopHelpViewer help;
    form.SetEnvironment({&browsers, &help, moatgate::RunningProgram(),
                         QApplication::arguments().mid(1).join(QLatin1Char(' '))});
    // Start-up mode with protection in place: nothing to show.
    if (!form.Form_Load()) return 0;
    boxes.SetParent(&form);
    form.show();
    return QApplication::exec();
}

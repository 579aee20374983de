#include "platform/HelpViewer.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace moatgate {

QString HelpFile(const QString& programFolder) {
#ifdef Q_OS_WIN
    return programFolder + QStringLiteral("\\moatgate-help.chm");
#else
    return programFolder + QStringLiteral("/moatgate-help.html");
#endif
}

bool DesktopHelpViewer::Open(const QString& file) {
    if (!QFileInfo::exists(file)) return false;
#ifdef Q_OS_WIN
    // The HTML Help viewer; the path goes as one argument, so a folder with spaces
    // in its name still works.
    return QProcess::startDetached(QStringLiteral("hh.exe"), {file});
#else
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
#endif
}

}  // namespace moatgate

#include "app/Startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>

namespace moatgate {

std::unique_ptr<RegistryApi> OpenStoreOrExplain(const EnvLookup& env, MessageBoxes& boxes) {
    std::string error;
    auto store = OpenSettingsStore(env, error);
    if (!store)
        boxes.Tell(QStringLiteral("Moatgate cannot read the settings it manages:\n\n%1\n\n"
                                  "Nothing was changed. Mend or remove the file, then start Moatgate again.")
                       .arg(QString::fromStdString(error)),
                   QStringLiteral("Moatgate"), MessageBoxes::Icon::Critical);
    return store;
}

void TellIfReadOnly(const RegistryApi& store, MessageBoxes& boxes) {
    const std::string why = store.UnwritableReason();
    if (why.empty()) return;
    boxes.Tell(QStringLiteral("Moatgate could read the settings it manages only in part:\n\n%1\n\n"
                              "It shows what it could read, but changes nothing until that line is mended "
                              "(or the file is moved away to start afresh).")
                   .arg(QString::fromStdString(why)),
               QStringLiteral("Moatgate"), MessageBoxes::Icon::Exclamation);
}

ProgramLocation RunningProgram() {
    const QFileInfo file(QCoreApplication::applicationFilePath());
    return {QDir::toNativeSeparators(file.absolutePath()).toStdString(), file.completeBaseName().toStdString(),
            QDir::toNativeSeparators(file.absoluteFilePath()).toStdString()};
}

std::vector<std::string> PlatformBrowsers::Addresses() {
#ifdef _WIN32
    return ShellWindowAddresses();
#else
    return FirefoxTabs(FirefoxTabs::ProfileFolders([](const char* name) { return std::getenv(name); })).Addresses();
#endif
}

}  // namespace moatgate

#include "app/Startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>
#include <map>

namespace moatgate {

namespace {

void TellUnreadable(const std::string& error, MessageBoxes& boxes) {
    boxes.Tell(QStringLiteral("Moatgate cannot read the settings it manages:\n\n%1\n\n"
                              "Nothing was changed. Mend or remove the file, then start Moatgate again.")
                   .arg(QString::fromStdString(error)),
               QStringLiteral("Moatgate"), MessageBoxes::Icon::Critical);
}

}  // namespace

std::unique_ptr<RegistryApi> OpenStoreOrExplain(const EnvLookup& env, MessageBoxes& boxes) {
    std::string error;
    auto store = OpenSettingsStore(env, error);
    if (!store) TellUnreadable(error, boxes);
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

OpeningStore::OpeningStore(const EnvLookup& env) {
    // The thread reads its own copy of what it needs of the environment: the
    // toolkit may change the environment meanwhile.
    std::map<std::string, std::string> copied;
    for (const char* name : {"MOATGATE_REGISTRY", "WINEPREFIX", "XDG_DATA_HOME", "HOME"})
        if (const char* value = env(name)) copied[name] = value;
    opening_ = std::async(std::launch::async, [copied = std::move(copied)] {
        const EnvLookup lookup = [&copied](const char* name) -> const char* {
            const auto it = copied.find(name);
            return it == copied.end() ? nullptr : it->second.c_str();
        };
        Opened opened;
        opened.store = OpenSettingsStore(lookup, opened.error);
        return opened;
    });
}

OpeningStore::~OpeningStore() { Store(); }

RegistryApi* OpeningStore::Store() const {
    if (!opened_) opened_ = opening_.get();
    return opened_->store.get();
}

bool OpeningStore::Wait(MessageBoxes& boxes) {
    if (Store()) return true;
    TellUnreadable(opened_->error, boxes);
    return false;
}

// Before Wait said the store is there no call comes; after a failed opening
// every call fails as on a store that refuses it.
LONG OpeningStore::RegOpenKeyExA(HKEY root, std::string_view subKey, DWORD options, REGSAM sam, HKEY* result) {
    return Store() ? Store()->RegOpenKeyExA(root, subKey, options, sam, result) : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegOpenKeyA(HKEY root, std::string_view subKey, HKEY* result) {
    return Store() ? Store()->RegOpenKeyA(root, subKey, result) : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegCreateKeyExA(HKEY root, std::string_view subKey, DWORD reserved, std::string_view keyClass,
                                   DWORD options, REGSAM sam, const void* security, HKEY* result,
                                   DWORD* disposition) {
    return Store() ? Store()->RegCreateKeyExA(root, subKey, reserved, keyClass, options, sam, security, result,
                                              disposition)
                   : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegSetValueExA(HKEY key, std::string_view name, DWORD reserved, DWORD type,
                                  const unsigned char* data, DWORD cb) {
    return Store() ? Store()->RegSetValueExA(key, name, reserved, type, data, cb) : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegQueryValueExA(HKEY key, std::string_view name, DWORD* reserved, DWORD* type,
                                    unsigned char* data, DWORD* cb) {
    return Store() ? Store()->RegQueryValueExA(key, name, reserved, type, data, cb) : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved,
                                 char* keyClass, DWORD* cchClass, void* lastWriteTime) {
    return Store() ? Store()->RegEnumKeyExA(key, index, name, cchName, reserved, keyClass, cchClass, lastWriteTime)
                   : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type,
                                 unsigned char* data, DWORD* cbData) {
    return Store() ? Store()->RegEnumValueA(key, index, name, cchName, reserved, type, data, cbData)
                   : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegDeleteKeyA(HKEY root, std::string_view subKey) {
    return Store() ? Store()->RegDeleteKeyA(root, subKey) : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegDeleteValueA(HKEY key, std::string_view name) {
    return Store() ? Store()->RegDeleteValueA(key, name) : ERROR_ACCESS_DENIED;
}
LONG OpeningStore::RegCloseKey(HKEY key) { return Store() ? Store()->RegCloseKey(key) : ERROR_INVALID_HANDLE; }
void OpeningStore::BeginScope(bool forWriting) {
    if (Store()) Store()->BeginScope(forWriting);
}
LONG OpeningStore::EndScope(bool commit) { return Store() ? Store()->EndScope(commit) : ERROR_SUCCESS; }
std::string OpeningStore::LastErrorText() const { return Store() ? Store()->LastErrorText() : opened_->error; }
std::string OpeningStore::UnwritableReason() const { return Store() ? Store()->UnwritableReason() : std::string(); }
std::string OpeningStore::TakeRefusedWrite() { return Store() ? Store()->TakeRefusedWrite() : std::string(); }

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

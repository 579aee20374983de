// The program's start: which store to open, and what the user is told when it
// cannot be read.
#pragma once

#include <future>
#include <memory>
#include <optional>
#include <string>

#include "platform/Browsers.h"
#include "platform/MessageBoxes.h"
#include "registry/NewStore.h"
#include "registry/ToolbarButton.h"
#include "registry/store/RegistryApi.h"

namespace moatgate {

// The store, or null after telling the user which file could not be read (and
// where); nothing is written then.
std::unique_ptr<RegistryApi> OpenStoreOrExplain(const EnvLookup& env, MessageBoxes& boxes);

// Tells the user, before the window opens, when the store could be read only in
// part: what is shown is incomplete and no change can be made until the file is
// mended. Nothing is said when the store is whole.
void TellIfReadOnly(const RegistryApi& store, MessageBoxes& boxes);

// The store, opened on a thread of its own while the window is being built:
// reading a large store takes about as long as building the window. The window
// may be given this as its store; the store is used only once Wait says it is
// there, and every call waits for the opening to end.
class OpeningStore : public RegistryApi {
public:
    // Takes what it needs of the environment now, on the calling thread.
    explicit OpeningStore(const EnvLookup& env);
    ~OpeningStore() override;
    OpeningStore(const OpeningStore&) = delete;
    OpeningStore& operator=(const OpeningStore&) = delete;

    // Waits for the opening: true with the store there, else false after
    // telling the user which file could not be read, as OpenStoreOrExplain does.
    bool Wait(MessageBoxes& boxes);

    LONG RegOpenKeyExA(HKEY root, std::string_view subKey, DWORD options, REGSAM sam, HKEY* result) override;
    LONG RegOpenKeyA(HKEY root, std::string_view subKey, HKEY* result) override;
    LONG RegCreateKeyExA(HKEY root, std::string_view subKey, DWORD reserved, std::string_view keyClass,
                         DWORD options, REGSAM sam, const void* security, HKEY* result, DWORD* disposition) override;
    LONG RegSetValueExA(HKEY key, std::string_view name, DWORD reserved, DWORD type, const unsigned char* data,
                        DWORD cb) override;
    LONG RegQueryValueExA(HKEY key, std::string_view name, DWORD* reserved, DWORD* type, unsigned char* data,
                          DWORD* cb) override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, char* keyClass,
                       DWORD* cchClass, void* lastWriteTime) override;
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type,
                       unsigned char* data, DWORD* cbData) override;
    LONG RegDeleteKeyA(HKEY root, std::string_view subKey) override;
    LONG RegDeleteValueA(HKEY key, std::string_view name) override;
    LONG RegCloseKey(HKEY key) override;
    void BeginScope(bool forWriting) override;
    LONG EndScope(bool commit = true) override;
    std::string LastErrorText() const override;
    std::string UnwritableReason() const override;
    std::string TakeRefusedWrite() override;

private:
    // The store once opened; null when it could not be.
    RegistryApi* Store() const;

    struct Opened {
        std::unique_ptr<RegistryApi> store;
        std::string error;
    };
    mutable std::future<Opened> opening_;
    mutable std::optional<Opened> opened_;
};

// The folder and name of the running program file.
ProgramLocation RunningProgram();

// The open browsers as this platform has them: the shell's windows on Windows,
// Firefox's tabs elsewhere.
class PlatformBrowsers : public OpenBrowsers {
public:
    std::vector<std::string> Addresses() override;
};

}  // namespace moatgate

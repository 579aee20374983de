// The program's start: which store to open, and what the user is told when it
// cannot be read.
#pragma once

#include <memory>

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

// The folder and name of the running program file.
ProgramLocation RunningProgram();

// The open browsers as this platform has them: the shell's windows on Windows,
// Firefox's tabs elsewhere.
class PlatformBrowsers : public OpenBrowsers {
public:
    std::vector<std::string> Addresses() override;
};

}  // namespace moatgate

// Which file holds the store when the registry is not the platform's own.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "registry/store/RegistryApi.h"

namespace moatgate {

struct StoreLocation {
    std::string path;
    std::string winePrefix;  // set when the file is a Wine prefix's user.reg
};

using EnvLookup = std::function<const char*(const char*)>;

// MOATGATE_REGISTRY if set; else $WINEPREFIX/user.reg; else the program's own
// store under $XDG_DATA_HOME (default ~/.local/share)/moatgate/user.reg.
StoreLocation ChooseStoreLocation(const EnvLookup& env);

// What a store file holds when it is first created.
using NewStoreContents = std::function<void(RegistryApi&)>;

// Opens the store the program and moatgate-reg use; a store file that does not
// exist yet is created with `contents`. Null with `error` set when it cannot be
// opened or read.
std::unique_ptr<RegistryApi> OpenConfiguredStore(const EnvLookup& env, std::string& error,
                                                 const NewStoreContents& contents);

}  // namespace moatgate

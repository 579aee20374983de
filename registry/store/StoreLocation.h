// Which file holds the store when the registry is not the platform's own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

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

#ifndef _WIN32
// The Wine prefixes whose servers must not run while the store file is written:
// the prefix named for it, and the one the file really lies in (links resolved).
std::vector<std::string> GuardedPrefixes(const StoreLocation& loc);
#endif

}  // namespace moatgate

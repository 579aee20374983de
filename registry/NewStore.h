// What a new store holds: the current user's settings as a freshly installed
// browser leaves them, with Moatgate's toolbar button installed.
#pragma once

#include <memory>
#include <string>

#include "registry/store/RegistryApi.h"
#include "registry/store/StoreLocation.h"

namespace moatgate {

// Creates the zone map keys, the Internet zone key with the default set of action
// values, and the toolbar button key with the values the browser needs.
void SeedNewStore(RegistryApi& reg);

// The store of the user's settings (the registry itself on Windows), created
// with the contents above when it does not exist yet. Null with `error` set
// when it cannot be opened or read.
std::unique_ptr<RegistryApi> OpenSettingsStore(const EnvLookup& env, std::string& error);

}  // namespace moatgate

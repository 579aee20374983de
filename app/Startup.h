// The program's start: which store to open, and what the user is told when it
// cannot be read.
#pragma once

#include <memory>

#include "MessageBoxes.h"
#include "RegistryApi.h"
#include "StoreLocation.h"

namespace moatgate {

// The store, or null after telling the user which file could not be read (and
// where); nothing is written then.
std::unique_ptr<RegistryApi> OpenStoreOrExplain(const EnvLookup& env, MessageBoxes& boxes);

}  // namespace moatgate

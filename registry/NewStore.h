// What a new store holds: the current user's settings as a freshly installed
// browser leaves them, with Moatgate's toolbar button installed.
#pragma once

#include "RegistryApi.h"

namespace moatgate {

// Creates the zone map keys, the Internet zone key with the default set of action
// values, and the toolbar button key with the values the browser needs.
void SeedNewStore(RegistryApi& reg);

}  // namespace moatgate

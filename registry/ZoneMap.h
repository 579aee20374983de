// The zone map: which security zone the browser gives each site, and the map read
// into the rows of the site list.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "registry/SiteList.h"
#include "registry/store/RegistryApi.h"

namespace moatgate {

// Zone numbers as the platform numbers them, stored as REG_DWORD zone values.
// The program itself writes only Trusted, Internet and Restricted; a row's picture
// is its zone number.
enum ZoneNumber : std::uint32_t {
    kZoneLocalMachine = 0,
    kZoneIntranet = 1,
    kZoneTrusted = 2,
    kZoneInternet = 3,  // "Unclassified": the Moatgate settings apply
    kZoneRestricted = 4,
};

// The zone value that applies to every protocol of a site; shown as "Default".
inline constexpr std::string_view kAllProtocolsValue = "*";
inline constexpr std::string_view kAllProtocolsText = "Default";
// A value of that name is never shown.
inline constexpr std::string_view kHiddenValueName = "Default";

// The zone map key followed by its separator, as the list is filled from it.
std::string ZoneMapFillPath();

// Creates a site key below the zone map (and any keys missing above it), or
// opens it when it exists, and closes it again: class "REG_DWORD", every key
// right, lasting. Returns the store's status.
LONG CreateSiteKey(RegistryApi& reg, std::string_view path);

// Adds the rows of every zone assignment under `basePath` (which ends in "\") to
// `list`, which must be empty, and leaves it sorted on the domain column in its
// current order. `letEventsRun` is called before each further value of a key, so
// that a window stays responsive during a long fill.
void FillSiteList(RegistryApi& reg, HKEY root, std::string_view basePath, SiteList& list,
                  const std::function<void()>& letEventsRun = nullptr);

}  // namespace moatgate

// The site commands' edits of the zone map: the selected row mapped back to its
// key and value, a zone given to that value, the value deleted, and the keys left
// empty swept away.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "registry/SiteList.h"
#include "registry/ZoneMap.h"
#include "registry/store/RegistryApi.h"

namespace moatgate {

// The key that holds the first selected row's zone value, below the current
// user's root: the domain key for a "Default" row without subdomain, else the
// subdomain key (which, for an empty subdomain, ends in "\" and names the domain
// key itself). None when no row is selected.
std::optional<std::string> SelectedSiteKeyPath(const SiteList& list);
// The first selected row's value name: "*" for "Default", else the row's text
// (empty for a key without a shown value). None when no row is selected.
std::optional<std::string> SelectedSiteValueName(const SiteList& list);

// Gives the selected row's value the zone, in its existing key (a key removed
// meanwhile is not created again). Nothing is written when no row is selected.
void AssignZone(RegistryApi& reg, const SiteList& list, ZoneNumber zone);

// Deletes the selected row's value, when its key can be opened.
void DeleteSelectedValue(RegistryApi& reg, const SiteList& list);

// Removes the keys the rows show as holding no value: a subdomain key, then its
// domain key when that is left with neither values nor subkeys. A key is removed
// only when the store confirms it holds no value and no subkey, since a row can
// show an empty protocol for a key whose only value is one the list never shows.
// One change of the store: all of it is stored, or none. Returns the number of
// keys removed.
std::size_t SweepEmptyKeys(RegistryApi& reg, const SiteList& rows);

}  // namespace moatgate

// The zone map read into site rows.
#pragma once

#include <functional>
#include <string>

#include "RegistryApi.h"
#include "SiteList.h"

namespace moatgate {

// The base path the program fills the list from, as it spells it.
inline constexpr std::string_view kSiteListBasePath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\";

// Adds the rows of every zone assignment under `basePath` (which ends in "\") to
// `list`, which must be empty, and leaves it sorted on the domain column in its
// current order. `letEventsRun` is called before each further value of a key, so
// that a window stays responsive during a long fill.
void FillSiteList(RegistryApi& reg, HKEY root, std::string_view basePath, SiteList& list,
                  const std::function<void()>& letEventsRun = nullptr);

}  // namespace moatgate

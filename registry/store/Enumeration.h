// Walking a key's subkeys and values by index, whole names and data, ending at
// the first failure of any kind so that no loop can run forever.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "registry/store/RegistryApi.h"

namespace moatgate {

// The index-th subkey's name; false at the end or on any other failure.
bool SubkeyAt(RegistryApi& reg, HKEY key, DWORD index, std::string& name);
// The index-th value's name, data (and type); false at the end or on failure.
bool ValueAt(RegistryApi& reg, HKEY key, DWORD index, std::string& name, std::string& data, DWORD* type = nullptr);

std::vector<std::string> SubkeyNames(RegistryApi& reg, HKEY key);

// Visits every key below `key` (not `key` itself) in pre-order, siblings in the
// store's order, with an open handle and its path from `key` ("a\b"). No
// recursion, and no whole path kept per level: keys may nest as deep as a file
// says. Keys that cannot be opened are left out, with what is below them.
void ForEachKeyBelow(RegistryApi& reg, HKEY key, const std::function<void(HKEY, const std::string&)>& visit);
std::vector<std::string> ValueNames(RegistryApi& reg, HKEY key);

}  // namespace moatgate

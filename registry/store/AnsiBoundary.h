// What crosses the boundary of the A functions: names, paths and string data in
// UTF-8 outside, UTF-16 inside, converted the same way by every store.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry/store/RegistryTypes.h"

namespace moatgate {

inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;
// Levels of keys below the root, as on the platform.
inline constexpr std::size_t kMaxKeyDepth = 512;

// A key path's components; empty components (a trailing or doubled separator)
// name nothing. 87 for text that is not UTF-8.
LONG SplitKeyPath(std::string_view utf8, std::vector<std::u16string>& names);
// 87 for text that is not UTF-8: a name is never silently altered.
LONG ToWideName(std::string_view utf8, std::u16string& name);

// The bytes a store keeps for data given to RegSetValueExA: string types become
// UTF-16LE, and, as on the platform, a count that left out a terminating zero
// which follows the data takes it in. 87 for string data that is not UTF-8.
LONG StoredData(DWORD type, const unsigned char* data, DWORD cb, std::vector<unsigned char>& stored);
// The data as the A functions return it: string types in UTF-8.
std::string ExternalData(DWORD type, const unsigned char* stored, std::size_t size);
void ExternalData(DWORD type, const unsigned char* stored, std::size_t size, std::string& out);

// Copies a name into a caller's buffer, or answers 234 with the length needed.
LONG CopyNameOut(const std::string& name, char* buffer, DWORD* cch);
// Copies data into a caller's buffer (none: size only), or answers 234 with the size needed.
LONG CopyDataOut(const std::string& bytes, unsigned char* data, DWORD* cb);

}  // namespace moatgate

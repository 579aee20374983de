// Module Registry: the wrappers every part of the program reads and writes single
// values through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "registry/store/RegistryApi.h"

namespace moatgate {

// A loosely typed value: a number or a text; the writers convert it by value type.
using RegValue = std::variant<std::int64_t, std::string>;

// Writes one value into an open key. REG_SZ and REG_BINARY store the text's bytes
// without a terminating zero; REG_DWORD stores a 32-bit number, little-endian.
// Other types write nothing and give 0. A value that cannot be converted (a text
// that is no number, a number outside 32 bits) writes nothing and gives 87.
LONG WriteKeyValue(RegistryApi& reg, HKEY key, std::string_view name, std::int32_t type,
                   const RegValue& value);

// Opens an existing key, writes one value, closes it. Never creates a key, and
// reports nothing.
void WriteRegistryValue(RegistryApi& reg, HKEY root, std::string_view path, std::string_view name,
                        const RegValue& value, std::int32_t type);

// A value as text: REG_SZ up to its first zero, REG_DWORD as unsigned decimal,
// REG_BINARY as the signed 16-bit number of its first two bytes (one byte: that
// byte); the empty text for any other type and on any failure.
std::string ReadKeyValueText(RegistryApi& reg, HKEY key, std::string_view name);
std::string ReadRegistryValueText(RegistryApi& reg, HKEY root, std::string_view path,
                                  std::string_view name);

}  // namespace moatgate

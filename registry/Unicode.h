// UTF-8 / UTF-16 conversion and the registry's case-insensitive name order.
#pragma once

#include <string>
#include <string_view>

namespace moatgate {

// Strict: returns false for malformed UTF-8 (names must not be silently altered).
bool Utf8ToUtf16(std::string_view in, std::u16string& out);
// Lenient, as Wine reads files: malformed sequences are dropped.
std::u16string Utf8ToUtf16Lenient(std::string_view in);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view in);

// The lowercase mapping the registry compares names with (one UTF-16 unit at a
// time, like Wine's casemap table for the scripts that occur in practice).
char16_t FoldCase(char16_t c);
std::u16string Folded(std::u16string_view s);
// Sibling order of keys and values: compare the folded units; a prefix sorts first.
int CompareNames(std::u16string_view a, std::u16string_view b);

}  // namespace moatgate

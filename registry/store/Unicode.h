// UTF-8 / UTF-16 conversion and the registry's case-insensitive name order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace moatgate {

// Strict: returns false for malformed UTF-8 (names must not be silently altered).
bool Utf8ToUtf16(std::string_view in, std::u16string& out);
// Lenient, as Wine reads files: malformed sequences are dropped.
std::u16string Utf8ToUtf16Lenient(std::string_view in);
// Appends one code point (not a surrogate) in UTF-8.
void AppendUtf8(char32_t cp, std::string& out);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view in);
// The same into `out`, whose memory is reused.
void Utf16ToUtf8(std::u16string_view in, std::string& out);

// At most `maxChars` characters of `text` for a message, with control characters,
// bytes that are not UTF-8 and invisible or direction-changing characters shown
// as \x.. or \u.... escapes, never raw; "..." marks a cut.
std::string PrintableExcerpt(std::string_view text, std::size_t maxChars = 60);

// UTF-16 little-endian bytes, as the registry stores string data.
template <typename Bytes>
void AppendUtf16Le(std::u16string_view s, Bytes& out) {
    for (char16_t c : s) {
        out.push_back(static_cast<typename Bytes::value_type>(c & 0xFF));
        out.push_back(static_cast<typename Bytes::value_type>(c >> 8));
    }
}
// The units of UTF-16 little-endian bytes; an odd last byte is left out.
std::u16string FromUtf16Le(const void* bytes, std::size_t size);

// The lowercase mapping the registry compares names with: Wine's case table, one
// UTF-16 unit at a time, no locale. Letters that only look alike stay apart:
// U+0130, U+0131, U+017F and the Kelvin sign map to none of i, s, k.
char16_t FoldCase(char16_t c);
// Sibling order of keys and values: compare the folded units; a prefix sorts first.
// Inline: every lookup in the tree runs it once per level.
inline int CompareNames(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    std::size_t i = 0;
    // Siblings often share a long beginning: passed over four units at a time.
    while (i + 4 <= n && std::memcmp(a.data() + i, b.data() + i, 4 * sizeof(char16_t)) == 0) i += 4;
    for (; i < n; ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (x == y) continue;
        if ((x | y) < 0x80) {
            if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
            if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        } else {
            x = FoldCase(x);
            y = FoldCase(y);
        }
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// The first sixteen units of a name in two numbers, so that most comparisons
// among siblings need not read the names (many share their first eight, as
// "www." names do): a byte per unit, the first unit in the top byte of `first`,
// ASCII letters folded as above; zero bytes after the end (a NUL unit compares as
// the end does, which keeps the order); 0x80 bytes from the first unit that is
// not ASCII on, whose order only its folding tells.
struct NamePrefixWords {
    std::uint64_t first = 0;   // units 0 to 7
    std::uint64_t second = 0;  // units 8 to 15
};

// The word of the eight units from `from` on, as above; no unit before `from` is
// outside ASCII.
inline std::uint64_t NamePrefixWord(std::u16string_view name, std::size_t from) {
    if constexpr (std::endian::native == std::endian::little) {
        // Eight ASCII units, as most names have: four at a time in one number.
        if (name.size() >= from + 8) {
            std::uint64_t units[2];
            std::memcpy(units, name.data() + from, sizeof units);
            constexpr std::uint64_t kLanes = 0x0001000100010001ull;
            if (((units[0] | units[1]) & (0xFF80 * kLanes)) == 0) {
                std::uint64_t prefix = 0;
                for (std::uint64_t w : units) {
                    // 0x80 in a lane from 'A' on, and from past 'Z' on: letters get 0x20.
                    const std::uint64_t fromA = w + (0x80 - 'A') * kLanes;
                    const std::uint64_t pastZ = w + (0x80 - 'Z' - 1) * kLanes;
                    w += ((fromA & ~pastZ) & (0x80 * kLanes)) >> 2;
                    prefix = prefix << 32 | (w & 0xFF) << 24 | (w >> 16 & 0xFF) << 16 | (w >> 32 & 0xFF) << 8 | (w >> 48 & 0xFF);
                }
                return prefix;
            }
        }
    }
    std::uint64_t prefix = 0;
    std::size_t i = from;
    for (; i < from + 8 && i < name.size(); ++i) {
        char16_t c = name[i];
        if (c >= 0x80) break;
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        prefix = prefix << 8 | c;
    }
    const bool cut = i < from + 8 && i < name.size();
    for (; i < from + 8; ++i) prefix = prefix << 8 | (cut ? 0x80u : 0u);
    return prefix;
}

// The second word given the first: all 0x80 once the first met a unit outside
// ASCII (its last byte then is 0x80; an ASCII unit's never is).
inline std::uint64_t NamePrefixSecond(std::u16string_view name, std::uint64_t first) {
    return (first & 0xFF) == 0x80 ? 0x8080808080808080ull : NamePrefixWord(name, 8);
}

// The order of two names from their prefixes: -1 or 1 where the first byte that
// differs decides it (a unit each, or the end of one name), 0 where the names
// themselves must be compared.
inline int ComparePrefixWords(std::uint64_t a, std::uint64_t b) {
    if (a == b) return 0;
    const int shift = 56 - (std::countl_zero(a ^ b) & ~7);
    const unsigned x = static_cast<unsigned>(a >> shift) & 0xFF;
    const unsigned y = static_cast<unsigned>(b >> shift) & 0xFF;
    if (x == 0x80 || y == 0x80) return 0;
    return x < y ? -1 : 1;
}
inline int ComparePrefixes(const NamePrefixWords& a, const NamePrefixWords& b) {
    return a.first != b.first ? ComparePrefixWords(a.first, b.first) : ComparePrefixWords(a.second, b.second);
}

}  // namespace moatgate

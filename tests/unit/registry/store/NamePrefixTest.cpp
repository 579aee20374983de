// The prefixes that decide most comparisons among sibling keys: every ASCII unit
// at every place of both words, folded as the names compare, and the marks for
// the end of a name and for units outside ASCII.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/store/Unicode.h"

namespace moatgate {
namespace {

std::uint64_t Expected(const std::u16string& name, std::size_t from) {
    std::uint64_t word = 0;
    bool cut = false;
    for (std::size_t i = from; i < from + 8; ++i) {
        const char16_t c = i < name.size() ? name[i] : 0;
        cut = cut || c >= 0x80;
        word = word << 8 | (cut ? 0x80u : c >= u'A' && c <= u'Z' ? c + 32u : c);
    }
    return word;
}

TEST(NamePrefix, EveryAsciiUnitIsFoldedInItsPlaceAndTheRestMarked) {
    std::vector<std::u16string> names = {u"",          u"abc",        u"abcdefghijklmno", u"abc\u00e9defghijklmn",
                                         u"abcdefghij\u00e9k", u"abcdefg\u0100", u"abcdefgh\u00e9"};
    for (char16_t c = 1; c < 0x80; ++c)
        for (std::size_t at = 0; at < 16; ++at) names.emplace_back(17, u'q'), names.back()[at] = c;
    for (const std::u16string& name : names) {
        const std::uint64_t first = NamePrefixWord(name, 0), second = NamePrefixSecond(name, first);
        ASSERT_EQ(first, Expected(name, 0)) << Utf16ToUtf8(name);
        // A cut in the first word carries on through the second.
        ASSERT_EQ(second, (first & 0xFF) == 0x80 ? 0x8080808080808080ull : Expected(name, 8)) << Utf16ToUtf8(name);
    }
}

}  // namespace
}  // namespace moatgate

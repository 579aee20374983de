// The prefixes that decide most comparisons among sibling keys: every ASCII unit
// at every place of both words, folded as the names compare, and the marks for
// the end of a name and for units outside ASCII.
#include <gtest/gtest.h>

#include <string>

#include "registry/store/Unicode.h"

namespace moatgate {
namespace {

NamePrefixWords NamePrefix(const std::u16string& name) {
    const std::uint64_t first = NamePrefixWord(name, 0);
    return {first, NamePrefixSecond(name, first)};
}

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

TEST(NamePrefix, EveryAsciiUnitIsFoldedInItsPlace) {
    for (char16_t c = 1; c < 0x80; ++c) {
        for (std::size_t at = 0; at < 16; ++at) {
            std::u16string name(17, u'q');
            name[at] = c;
            const NamePrefixWords words = NamePrefix(name);
            ASSERT_EQ(words.first, Expected(name, 0)) << int(c) << " at " << at;
            ASSERT_EQ(words.second, Expected(name, 8)) << int(c) << " at " << at;
        }
    }
}

TEST(NamePrefix, EndsAndUnitsOutsideAsciiAreMarked) {
    const std::u16string rows[] = {u"", u"abc", u"ABCDEFGH", u"abcdefghijklmno", u"abcdefghijklmnopq",
                                   u"abc\u00e9defghijklmn", u"abcdefghij\u00e9klm", u"abcdefg\u0100", u"abcdefgh\u00e9"};
    for (const std::u16string& name : rows) {
        const NamePrefixWords words = NamePrefix(name);
        EXPECT_EQ(words.first, Expected(name, 0)) << name.size();
        // A cut in the first word carries on through the second.
        EXPECT_EQ(words.second, (words.first & 0xFF) == 0x80 ? 0x8080808080808080ull : Expected(name, 8));
    }
}

}  // namespace
}  // namespace moatgate

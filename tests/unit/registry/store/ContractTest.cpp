// The contract every store keeps: what the program relies on from the registry.
// Run against the memory store and the file store alike.
#include <gtest/gtest.h>

#include <memory>

#include "registry/store/HiveRegistry.h"
#include "registry/store/Unicode.h"
#ifdef _WIN32
#include "registry/store/WindowsStore.h"
#include "tools/moatgate-reg/RegFile.h"
#else
#include "registry/store/FileStore.h"
#endif
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

struct MemoryFactory {
    std::unique_ptr<RegistryApi> Make() { return std::make_unique<MemoryStore>(); }
};

#ifdef _WIN32
// The platform's registry (Wine's, in CI): the tests work below one key of their own.
struct PlatformFactory {
    WindowsStore store;
    PlatformFactory() { DeleteKeyTree(store, "Software\\MoatTest"); }
    ~PlatformFactory() { DeleteKeyTree(store, "Software\\MoatTest"); }
    std::unique_ptr<RegistryApi> Make() { return std::make_unique<WindowsStore>(); }
};
#else
struct PlatformFactory {
    TempDir dir;
    std::unique_ptr<RegistryApi> Make() {
        std::string error;
        auto store = FileStore::Open(dir.file("user.reg"), error);
        EXPECT_TRUE(store) << error;
        return store;
    }
};
#endif

template <typename Factory>
class StoreContract : public ::testing::Test {
protected:
    Factory factory;
    std::unique_ptr<RegistryApi> store = factory.Make();
};

using Stores = ::testing::Types<MemoryFactory, PlatformFactory>;
TYPED_TEST_SUITE(StoreContract, Stores);

TYPED_TEST(StoreContract, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\CaseKey");
    ASSERT_NE(k, 0u);
    ASSERT_EQ(SetDword(reg, k, "Http", 2), 0);
    ASSERT_EQ(SetDword(reg, k, "HTTP", 4), 0);  // the same value
    reg.RegCloseKey(k);

    HKEY again = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "SOFTWARE\\moattest\\casekey", &again), 0);
    EXPECT_EQ(ValueNames(reg, again), std::vector<std::string>{"Http"});
    EXPECT_EQ(Query(reg, again, "http"), std::string("\x04\0\0\0", 4));
    reg.RegCloseKey(again);

    HKEY parent = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "software\\MOATTEST", &parent), 0);
    EXPECT_EQ(SubkeyNames(reg, parent), std::vector<std::string>{"CaseKey"});
    reg.RegCloseKey(parent);
}

TYPED_TEST(StoreContract, TrailingSeparatorNamesTheSameKey) {
    RegistryApi& reg = *this->store;
    reg.RegCloseKey(Create(reg, "Software\\MoatTest\\Domains\\example.com"));
    HKEY withSep = 0;
    ASSERT_EQ(reg.RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\MoatTest\\Domains\\example.com\\", 0, 0x3F,
                                &withSep),
              0);
    ASSERT_EQ(SetDword(reg, withSep, "*", 2), 0);
    reg.RegCloseKey(withSep);
    HKEY plain = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Domains\\example.com", &plain), 0);
    EXPECT_EQ(Query(reg, plain, "*"), std::string("\x02\0\0\0", 4));
    EXPECT_TRUE(SubkeyNames(reg, plain).empty());  // no empty-named subkey appeared
    reg.RegCloseKey(plain);
}

TYPED_TEST(StoreContract, OpenNeverCreatesCreateMakesTheWholePath) {
    RegistryApi& reg = *this->store;
    HKEY k = 123;
    EXPECT_EQ(reg.RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\MoatTest\\Missing", 0, 0x3F, &k),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(k, 0u);
    EXPECT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Missing", &k), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest", &k), 0);

    DWORD disposition = 0;
    ASSERT_EQ(reg.RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\MoatTest\\A\\B\\C", 0, "REG_DWORD", 0, 0x3F,
                                  nullptr, &k, &disposition),
              0);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    reg.RegCloseKey(k);
    ASSERT_EQ(reg.RegCreateKeyExA(HKEY_CURRENT_USER, "software\\moattest\\a\\b\\c", 0, "REG_DWORD", 0, 0x3F,
                                  nullptr, &k, &disposition),
              0);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    reg.RegCloseKey(k);
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\A\\B", &k), 0);
    EXPECT_EQ(SubkeyNames(reg, k), std::vector<std::string>{"C"});
    reg.RegCloseKey(k);
}

TYPED_TEST(StoreContract, EnumerationEndsWith259AndVisitsEveryKeyInOrder) {
    RegistryApi& reg = *this->store;
    HKEY base = Create(reg, "Software\\MoatTest\\Many");
    std::vector<std::string> expected;
    {
        StoreScope scope(reg, true);
        // Enough keys, in scrambled order, that a key lists them in chunks.
        for (int i = 0; i < 1500; ++i) {
            const std::string name = "site" + std::to_string(1000 + (i * 7919) % 1500) + ".org";
            reg.RegCloseKey(Create(reg, name, base));
        }
        ASSERT_EQ(scope.End(), 0);
    }
    for (int i = 0; i < 1500; ++i) expected.push_back("site" + std::to_string(1000 + i) + ".org");
    EXPECT_EQ(SubkeyNames(reg, base), expected);

    char name[64];
    DWORD cch = sizeof name;
    EXPECT_EQ(reg.RegEnumKeyExA(base, 1500, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(SetDword(reg, base, "only", 1), 0);
    unsigned char data[8];
    DWORD cb = sizeof data;
    cch = sizeof name;
    EXPECT_EQ(reg.RegEnumValueA(base, 0, name, &cch, nullptr, nullptr, data, &cb), 0);
    cch = sizeof name;
    EXPECT_EQ(reg.RegEnumValueA(base, 1, name, &cch, nullptr, nullptr, data, &cb), ERROR_NO_MORE_ITEMS);
    // Walking backwards works as well as forwards.
    cch = sizeof name;
    ASSERT_EQ(reg.RegEnumKeyExA(base, 1499, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(name, cch), "site2499.org");
    cch = sizeof name;
    ASSERT_EQ(reg.RegEnumKeyExA(base, 5, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(name, cch), "site1005.org");
    reg.RegCloseKey(base);
}

TYPED_TEST(StoreContract, DeleteKeyRefusesSubkeysAndTakesItsValues) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\Del\\Child");
    ASSERT_EQ(SetDword(reg, k, "x", 1), 0);
    reg.RegCloseKey(k);
    HKEY parent = Create(reg, "Software\\MoatTest\\Del");
    ASSERT_EQ(SetDword(reg, parent, "kept", 1), 0);
    reg.RegCloseKey(parent);

    EXPECT_NE(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Del"), 0);
    EXPECT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Del\\Child"), 0);
    EXPECT_NE(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Del\\Child"), 0);  // gone
    EXPECT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "software\\moattest\\del\\"), 0);

    k = Create(reg, "Software\\MoatTest\\Del");
    EXPECT_TRUE(ValueNames(reg, k).empty());
    EXPECT_TRUE(SubkeyNames(reg, k).empty());
    reg.RegCloseKey(k);
    EXPECT_NE(reg.RegDeleteKeyA(HKEY_CURRENT_USER, ""), 0);  // never the root
}

TYPED_TEST(StoreContract, ClosedNeverOpenedAndDeletedHandlesFail) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\H");
    ASSERT_EQ(SetDword(reg, k, "x", 1), 0);
    EXPECT_EQ(reg.RegCloseKey(k), 0);
    EXPECT_NE(reg.RegCloseKey(k), 0);
    DWORD type = 0, cb = 0;
    EXPECT_NE(reg.RegQueryValueExA(k, "x", nullptr, &type, nullptr, &cb), 0);
    EXPECT_NE(SetDword(reg, k, "y", 1), 0);
    EXPECT_NE(SetDword(reg, 0, "y", 1), 0);
    EXPECT_NE(SetDword(reg, 0x4242, "y", 1), 0);
    char name[16];
    DWORD cch = sizeof name;
    EXPECT_NE(reg.RegEnumKeyExA(0, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_NE(reg.RegEnumKeyExA(0, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    // A handle whose key was deleted under it fails instead of writing elsewhere.
    HKEY doomed = Create(reg, "Software\\MoatTest\\Doomed");
    ASSERT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Doomed"), 0);
    EXPECT_NE(SetDword(reg, doomed, "z", 1), 0);
    reg.RegCloseKey(doomed);
    EXPECT_NE(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Doomed", &doomed), 0);
}

TYPED_TEST(StoreContract, DataIsKeptAsTheProgramReliesOnIt) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\Data");
    ASSERT_EQ(SetDword(reg, k, "dw", 0xFFFFFFFFu), 0);
    ASSERT_EQ(SetBytes(reg, k, "bin", REG_BINARY, std::string("\0\0\x01\0", 4)), 0);
    ASSERT_EQ(SetBytes(reg, k, "empty", REG_BINARY, ""), 0);
    ASSERT_EQ(SetBytes(reg, k, "emptysz", REG_SZ, ""), 0);
    ASSERT_EQ(SetBytes(reg, k, "sz", REG_SZ, "abc"), 0);  // no terminator counted
    ASSERT_EQ(reg.RegSetValueExA(k, "nul", 0, REG_SZ, reinterpret_cast<const unsigned char*>("ab\0cd"), 5), 0);
    ASSERT_EQ(SetBytes(reg, k, "utf8", REG_SZ, "b\xc3\xbc" "cher \xe4\xb8\xad"), 0);

    DWORD type = 0;
    EXPECT_EQ(Query(reg, k, "dw", &type), std::string("\xff\xff\xff\xff", 4));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(Query(reg, k, "bin", &type), std::string("\0\0\x01\0", 4));
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(Query(reg, k, "empty"), "");
    EXPECT_EQ(Query(reg, k, "emptysz", &type), "");
    EXPECT_EQ(type, REG_SZ);
    // Strings are read up to their first zero; a terminator may have been added.
    auto upToZero = [](const std::string& s) { return s.substr(0, s.find('\0')); };
    EXPECT_EQ(upToZero(Query(reg, k, "sz")), "abc");
    EXPECT_EQ(upToZero(Query(reg, k, "nul")), "ab");
    EXPECT_EQ(upToZero(Query(reg, k, "utf8")), "b\xc3\xbc" "cher \xe4\xb8\xad");

    // A buffer that is too small gets 234 and the size needed.
    unsigned char small[2];
    DWORD cb = sizeof small;
    EXPECT_EQ(reg.RegQueryValueExA(k, "bin", nullptr, &type, small, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 4u);
    EXPECT_EQ(reg.RegDeleteValueA(k, "bin"), 0);
    EXPECT_EQ(reg.RegDeleteValueA(k, "bin"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Query(reg, k, "bin"), "<status 2>");
    reg.RegCloseKey(k);
}

TYPED_TEST(StoreContract, LongNamesAreAnsweredWith234NotTruncated) {
    RegistryApi& reg = *this->store;
    const std::string longName(200, 'n');
    HKEY k = Create(reg, "Software\\MoatTest\\Long\\" + longName);
    ASSERT_EQ(SetDword(reg, k, longName, 7), 0);
    reg.RegCloseKey(k);
    HKEY parent = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Long", &parent), 0);
    char buf[64];
    DWORD cch = sizeof buf;
    EXPECT_EQ(reg.RegEnumKeyExA(parent, 0, buf, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 200u);
    cch = 200;  // no room for the terminator
    EXPECT_EQ(reg.RegEnumKeyExA(parent, 0, buf, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    std::string big(256, '\0');
    cch = 256;
    ASSERT_EQ(reg.RegEnumKeyExA(parent, 0, big.data(), &cch, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(big.substr(0, cch), longName);
    reg.RegCloseKey(parent);

    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Long\\" + longName, &k), 0);
    unsigned char data[8];
    DWORD cb = sizeof data;
    cch = sizeof buf;
    EXPECT_EQ(reg.RegEnumValueA(k, 0, buf, &cch, nullptr, nullptr, data, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 200u);
    reg.RegCloseKey(k);
}

// The sizes the A functions give are UTF-8 bytes: a name of 200 characters outside
// ASCII needs more than the 256 bytes any name of 255 ASCII characters fits in, and
// one of exactly 256 bytes needs one more for the terminator. The enumeration
// helpers grow their buffers and get every such name whole.
TYPED_TEST(StoreContract, NamesLongerInUtf8ThanTheFirstBufferAreEnumeratedWhole) {
    RegistryApi& reg = *this->store;
    auto repeat = [](const std::string& piece, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += piece;
        return s;
    };
    const std::string u200 = repeat("\xc3\xbc", 200), u128 = repeat("\xc3\xbc", 128);
    const std::string data(300, 'd');
    HKEY k = Create(reg, "Software\\MoatTest\\Wide");
    ASSERT_NE(k, 0u);
    for (const std::string& name : {u200, u128}) {
        reg.RegCloseKey(Create(reg, name, k));
        ASSERT_EQ(SetBytes(reg, k, name, REG_BINARY, data), 0);
    }
    EXPECT_EQ(SubkeyNames(reg, k), (std::vector<std::string>{u128, u200}));
    EXPECT_EQ(ValueNames(reg, k), (std::vector<std::string>{u128, u200}));
    std::string name, bytes;
    DWORD type = 0;
    ASSERT_TRUE(ValueAt(reg, k, 1, name, bytes, &type));
    EXPECT_EQ(name, u200);
    EXPECT_EQ(bytes, data);
    EXPECT_EQ(type, REG_BINARY);

    std::string buf(256, '\0');
    DWORD cch = 256;
    EXPECT_EQ(reg.RegEnumKeyExA(k, 0, buf.data(), &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 256u);
    cch = 256;
    EXPECT_EQ(reg.RegEnumKeyExA(k, 1, buf.data(), &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 400u);
    // Every key below is visited, by its whole path.
    std::vector<std::string> visited;
    ForEachKeyBelow(reg, k, [&](HKEY, const std::string& path) { visited.push_back(path); });
    EXPECT_EQ(visited, (std::vector<std::string>{u128, u200}));
    reg.RegCloseKey(k);
}

// A value written again with the same bytes but another type takes the new type.
TYPED_TEST(StoreContract, TheSameBytesWrittenWithAnotherTypeTakeThatType) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\Types");
    ASSERT_NE(k, 0u);
    const std::string four("\x02\0\0\0", 4);
    ASSERT_EQ(SetBytes(reg, k, "n", REG_BINARY, four), 0);
    ASSERT_EQ(SetBytes(reg, k, "n", REG_DWORD, four), 0);
    ASSERT_EQ(SetBytes(reg, k, "s", REG_SZ, "%TEMP%"), 0);
    ASSERT_EQ(SetBytes(reg, k, "s", REG_EXPAND_SZ, "%TEMP%"), 0);
    DWORD type = 0;
    EXPECT_EQ(Query(reg, k, "n", &type), four);
    EXPECT_EQ(type, REG_DWORD);
    const std::string text = Query(reg, k, "s", &type);
    EXPECT_EQ(text.substr(0, text.find('\0')), "%TEMP%");
    EXPECT_EQ(type, REG_EXPAND_SZ);
    reg.RegCloseKey(k);
}

// Letters of every script that have a case pair compare as one name: ASCII,
// Latin-1, Latin Extended-A, Greek with its accented letters, Cyrillic with its
// extensions. The pairs are written out from the scripts' alphabets, not from the
// case table.
TYPED_TEST(StoreContract, CasePairsOfEveryScriptAreOneName) {
    RegistryApi& reg = *this->store;
    std::vector<std::pair<char16_t, char16_t>> pairs;  // capital, small
    auto range = [&pairs](char16_t capital, char16_t last, int toSmall, int step = 1) {
        for (char16_t c = capital; c <= last; c = static_cast<char16_t>(c + step))
            pairs.emplace_back(c, static_cast<char16_t>(c + toSmall));
    };
    range(u'A', u'Z', 0x20);  // ASCII, the last letter too
    range(u'\u00c0', u'\u00d6', 0x20);  // Latin-1, around the multiplication sign
    range(u'\u00d8', u'\u00de', 0x20);
    pairs.emplace_back(u'\u0178', u'\u00ff');
    range(u'\u0100', u'\u012e', 1, 2);  // Latin Extended-A: capital, small, capital...
    range(u'\u0132', u'\u0136', 1, 2);
    range(u'\u0139', u'\u0147', 1, 2);
    range(u'\u014a', u'\u0176', 1, 2);
    range(u'\u0179', u'\u017d', 1, 2);
    range(u'\u0391', u'\u03a1', 0x20);  // Greek, around the missing capital final sigma
    range(u'\u03a3', u'\u03ab', 0x20);
    pairs.emplace_back(u'\u0386', u'\u03ac');
    range(u'\u0388', u'\u038a', 0x25);
    pairs.emplace_back(u'\u038c', u'\u03cc');
    range(u'\u038e', u'\u038f', 0x3f);
    range(u'\u0400', u'\u040f', 0x50);  // Cyrillic
    range(u'\u0410', u'\u042f', 0x20);
    range(u'\u0460', u'\u0480', 1, 2);
    range(u'\u048a', u'\u04be', 1, 2);
    range(u'\u04d0', u'\u04fe', 1, 2);
    auto utf8 = [](char16_t c) { return Utf16ToUtf8(std::u16string(1, c)); };

    // Written under one spelling, found under the other, in both directions.
    for (const bool capitalsFirst : {true, false}) {
        const std::string path = capitalsFirst ? "Software\\MoatTest\\Capitals" : "Software\\MoatTest\\Smalls";
        HKEY k = Create(reg, path);
        ASSERT_NE(k, 0u);
        {
            StoreScope scope(reg, true);
            for (std::uint32_t i = 0; i < pairs.size(); ++i) {
                const std::string written = utf8(capitalsFirst ? pairs[i].first : pairs[i].second);
                ASSERT_EQ(SetDword(reg, k, written, i), 0) << written;
                reg.RegCloseKey(Create(reg, written, k));
            }
            ASSERT_EQ(scope.End(), 0);
        }
        for (std::uint32_t i = 0; i < pairs.size(); ++i) {
            const std::string other = utf8(capitalsFirst ? pairs[i].second : pairs[i].first);
            const unsigned char b[4] = {static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 0, 0};
            EXPECT_EQ(Query(reg, k, other), std::string(reinterpret_cast<const char*>(b), 4)) << other;
            HKEY sub = 0;
            EXPECT_EQ(reg.RegOpenKeyA(k, other, &sub), 0) << other;
            reg.RegCloseKey(sub);
        }
        EXPECT_EQ(ValueNames(reg, k).size(), pairs.size());
        EXPECT_EQ(SubkeyNames(reg, k).size(), pairs.size());
        reg.RegCloseKey(k);
    }
}

TYPED_TEST(StoreContract, UnrepresentableNamesFailInsteadOfBeingAltered) {
    RegistryApi& reg = *this->store;
    HKEY k = 0;
    EXPECT_NE(reg.RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\bad\xff", 0, "", 0, 0x3F, nullptr, &k, nullptr), 0);
    EXPECT_NE(reg.RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\" + std::string(256, 'k'), 0, "", 0, 0x3F,
                                  nullptr, &k, nullptr),
              0);
    // One character less is the longest name the platform takes.
    k = Create(reg, "Software\\MoatTest\\" + std::string(255, 'k'));
    EXPECT_NE(k, 0u);
    reg.RegCloseKey(k);
    k = Create(reg, "Software\\MoatTest\\Names");
    EXPECT_NE(SetDword(reg, k, "bad\xc3", 1), 0);
    // UTF-8 for a surrogate half, either end of their range, is no character.
    EXPECT_NE(SetDword(reg, k, "bad\xed\xa0\x80", 1), 0);
    EXPECT_NE(SetDword(reg, k, "bad\xed\xbf\xbf", 1), 0);
    EXPECT_NE(SetBytes(reg, k, "badtext", REG_SZ, "\xff\xfe"), 0);
    EXPECT_TRUE(ValueNames(reg, k).empty());
    reg.RegCloseKey(k);
    EXPECT_NE(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\bad\xff", &k), 0);
}

TYPED_TEST(StoreContract, NamesOutsideTheAnsiCodePageSurvive) {
    RegistryApi& reg = *this->store;
    const std::string keyName = "b\xc3\xbc" "cher \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x8c\x8d";
    const std::string valueName = "\xd0\xb7\xd0\xbe\xd0\xbd\xd0\xb0 \xf0\x9f\x98\x80";
    // Greek, the euro sign, and the code points at each edge of UTF-8's lengths.
    const std::string text = "\xce\xb1\xce\xb2\xce\xb3 \xe2\x82\xac \x7f \xc2\x80 \xdf\xbf \xe0\xa0\x80 \xef\xbf\xbd "
                             "\xf0\x90\x80\x80 \xf4\x8f\xbf\xbf";
    HKEY k = Create(reg, "Software\\MoatTest\\Intl\\" + keyName);
    ASSERT_NE(k, 0u);
    ASSERT_EQ(SetBytes(reg, k, valueName, REG_SZ, text), 0);
    reg.RegCloseKey(k);
    HKEY parent = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Intl", &parent), 0);
    EXPECT_EQ(SubkeyNames(reg, parent), std::vector<std::string>{keyName});
    reg.RegCloseKey(parent);
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Intl\\" + keyName, &k), 0);
    EXPECT_EQ(ValueNames(reg, k), std::vector<std::string>{valueName});
    const std::string read = Query(reg, k, valueName);
    EXPECT_EQ(read.substr(0, read.find('\0')), text);
    reg.RegCloseKey(k);
}

// Names compare as Wine's registry compares them: its case table, one UTF-16 unit
// at a time. Letters whose Unicode case mappings lead into another letter (U+0130
// to i, the Kelvin sign to k, U+017F to S) stay apart; case pairs of one script
// are one name, which keeps its first spelling and the last data.
TYPED_TEST(StoreContract, NamesThatOnlyLookAlikeStayApart) {
    RegistryApi& reg = *this->store;
    const std::vector<std::string> created = {
        "i", "I", "\xc4\xb0", "\xc4\xb1", "s", "\xc5\xbf", "k", "\xe2\x84\xaa",          // I, dotless i, long s, Kelvin
        "\xcf\x83", "\xce\xa3", "\xcf\x82", "\xc3\xa9", "\xc3\x89", "\xd0\xb6", "\xd0\x96",  // sigmas, e acute, zhe
        "\xc3\x9f", "\xe1\xba\x9e", "\xcf\x89", "\xe2\x84\xa6", "\xc3\xa5", "\xe2\x84\xab",  // sharp s, Ohm, Angstrom
        "\xc7\x86", "\xc7\x85", "\xc7\x84", "\xc3\xbf", "\xc5\xb8"};                         // dz digraphs, y diaeresis
    // Wine's order: by the lower-case units, a prefix first.
    const std::vector<std::pair<std::string, std::uint32_t>> expected = {
        {"i", 1},           {"k", 6},           {"s", 4},           {"\xc3\x9f", 15},   {"\xc3\xa5", 19},
        {"\xc3\xa9", 12},   {"\xc3\xbf", 25},   {"\xc4\xb0", 2},    {"\xc4\xb1", 3},    {"\xc5\xbf", 5},
        {"\xc7\x85", 22},   {"\xc7\x86", 23},   {"\xcf\x82", 10},   {"\xcf\x83", 9},    {"\xcf\x89", 17},
        {"\xd0\xb6", 14},   {"\xe1\xba\x9e", 16}, {"\xe2\x84\xa6", 18}, {"\xe2\x84\xaa", 7}, {"\xe2\x84\xab", 20}};
    HKEY k = Create(reg, "Software\\MoatTest\\LookAlike");
    ASSERT_NE(k, 0u);
    {
        StoreScope scope(reg, true);
        for (std::uint32_t i = 0; i < created.size(); ++i) {
            ASSERT_EQ(SetDword(reg, k, created[i], i), 0) << created[i];
            reg.RegCloseKey(Create(reg, created[i], k));
        }
        ASSERT_EQ(scope.End(), 0);
    }
    std::vector<std::string> names;
    for (const auto& [name, data] : expected) {
        names.push_back(name);
        const unsigned char b[4] = {static_cast<unsigned char>(data), 0, 0, 0};
        EXPECT_EQ(Query(reg, k, name), std::string(reinterpret_cast<const char*>(b), 4)) << name;
    }
    EXPECT_EQ(ValueNames(reg, k), names);
    EXPECT_EQ(SubkeyNames(reg, k), names);
    reg.RegCloseKey(k);
}

// Siblings that share their first characters, differ in case or run past eight
// characters keep the registry's order and are found under any spelling: ASCII
// letters compare folded ("_" before "Z"), a name before its longer forms, and
// from the first letter outside ASCII on the letters themselves decide.
TYPED_TEST(StoreContract, SiblingsSharingTheirBeginningKeepTheirOrder) {
    RegistryApi& reg = *this->store;
    const std::vector<std::string> ordered = {
        "abc",       "abcd_", "abcdefg",          "abcdefgh",         "ABCDEFGHa",        "abcdefghi",
        "abcdZ",     "abcd\xc3\xa9", "abck", "abc\xc3\xa8z", "abc\xc3\xa9" "a", "abc\xe2\x84\xaa"};
    HKEY k = Create(reg, "Software\\MoatTest\\Shared");
    ASSERT_NE(k, 0u);
    for (const std::size_t i : {7, 2, 11, 0, 9, 4, 1, 10, 5, 8, 3, 6}) reg.RegCloseKey(Create(reg, ordered[i], k));
    EXPECT_EQ(SubkeyNames(reg, k), ordered);
    for (const std::string other : {"ABC", "ABCD_", "ABCDEFGHA", "ABCDEFGHI", "abcdz", "ABCD\xc3\x89", "ABCK",
                                    "ABC\xc3\x88Z", "ABC\xc3\x89" "A"}) {
        HKEY sub = 0;
        EXPECT_EQ(reg.RegOpenKeyA(k, other, &sub), 0) << other;
        reg.RegCloseKey(sub);
    }
    for (const std::string absent : {"abcdefgi", "abcdefghh", "abcd\xc3\xaa", "abcj"}) {
        HKEY sub = 0;
        EXPECT_NE(reg.RegOpenKeyA(k, absent, &sub), 0) << absent;
    }
    reg.RegCloseKey(k);
}

}  // namespace
}  // namespace moatgate

// What the program relies on from every store: the memory store and the platform's (the file store, or Wine's).
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "registry/store/HiveRegistry.h"
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
// The tests work below one key of their own.
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

std::string Dw(std::uint32_t v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    return std::string(b, 4);
}
std::string UpToZero(const std::string& s) { return s.substr(0, s.find('\0')); }
HKEY Open(RegistryApi& reg, const std::string& path, HKEY root = HKEY_CURRENT_USER) {
    HKEY k = 0;
    return reg.RegOpenKeyA(root, path, &k) == 0 ? k : 0;
}
// RegEnumKeyExA into a buffer of `cap` bytes; `cch` gets the size it reports.
LONG EnumKey(RegistryApi& reg, HKEY k, DWORD i, DWORD cap, DWORD& cch, std::string* name = nullptr) {
    std::string buf(cap, '\0');
    cch = cap;
    const LONG s = reg.RegEnumKeyExA(k, i, buf.data(), &cch, nullptr, nullptr, nullptr, nullptr);
    if (name) *name = buf.substr(0, cch);
    return s;
}

TYPED_TEST(StoreContract, NamesIgnoreCaseKeepTheirFirstSpellingAndMayEndInASeparator) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\CaseKey");
    ASSERT_EQ(SetDword(reg, k, "Http", 2), 0);
    ASSERT_EQ(SetDword(reg, k, "HTTP", 4), 0);  // the same value
    ASSERT_EQ(SetDword(reg, k, "*", 2), 0);
    reg.RegCloseKey(k);
    HKEY again = 0;
    ASSERT_EQ(reg.RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\moattest\\casekey\\", 0, 0x3F, &again), 0);
    EXPECT_EQ(ValueNames(reg, again), (std::vector<std::string>{"*", "Http"}));
    EXPECT_EQ(Query(reg, again, "http") + Query(reg, again, "*"), Dw(4) + Dw(2));
    EXPECT_TRUE(SubkeyNames(reg, again).empty());  // no empty-named subkey
    reg.RegCloseKey(again);
    HKEY parent = Open(reg, "software\\MOATTEST");
    EXPECT_EQ(SubkeyNames(reg, parent), std::vector<std::string>{"CaseKey"});
    reg.RegCloseKey(parent);
}

TYPED_TEST(StoreContract, OpenNeverCreatesCreateMakesTheWholePath) {
    RegistryApi& reg = *this->store;
    HKEY k = 123;
    EXPECT_EQ(reg.RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\MoatTest\\Missing", 0, 0x3F, &k), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(k, 0u);
    EXPECT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Missing", &k), ERROR_FILE_NOT_FOUND);
    for (const auto& [path, disposition] : {std::pair{"Software\\MoatTest\\A\\B\\C", REG_CREATED_NEW_KEY},
                                            std::pair{"software\\moattest\\a\\b\\c", REG_OPENED_EXISTING_KEY}}) {
        DWORD got = 0;
        ASSERT_EQ(reg.RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, "REG_DWORD", 0, 0x3F, nullptr, &k, &got), 0);
        EXPECT_EQ(got, static_cast<DWORD>(disposition)) << path;
        reg.RegCloseKey(k);
    }
}

TYPED_TEST(StoreContract, EnumerationEndsWith259AndVisitsEveryKeyInOrder) {
    RegistryApi& reg = *this->store;
    HKEY base = Create(reg, "Software\\MoatTest\\Many");
    std::vector<std::string> expected;
    {
        StoreScope scope(reg, true);
        // Enough keys, in scrambled order, that a key lists them in chunks.
        for (int i = 0; i < 1500; ++i)
            reg.RegCloseKey(Create(reg, "site" + std::to_string(1000 + (i * 7919) % 1500) + ".org", base));
        ASSERT_EQ(scope.End(), 0);
    }
    for (int i = 0; i < 1500; ++i) expected.push_back("site" + std::to_string(1000 + i) + ".org");
    EXPECT_EQ(SubkeyNames(reg, base), expected);
    DWORD cch = 0;
    std::string name;
    EXPECT_EQ(EnumKey(reg, base, 1500, 64, cch), ERROR_NO_MORE_ITEMS);
    for (const DWORD i : {1499u, 5u}) {  // backwards as well as forwards
        ASSERT_EQ(EnumKey(reg, base, i, 64, cch, &name), 0);
        EXPECT_EQ(name, expected[i]);
    }
    reg.RegCloseKey(base);
}

TYPED_TEST(StoreContract, DeleteKeyRefusesSubkeysAndTakesItsValues) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\Del\\Child");
    reg.RegCloseKey(k);
    k = Create(reg, "Software\\MoatTest\\Del");
    ASSERT_EQ(SetDword(reg, k, "kept", 1), 0);
    reg.RegCloseKey(k);
    EXPECT_NE(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Del"), 0);
    EXPECT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Del\\Child"), 0);
    EXPECT_NE(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Del\\Child"), 0);  // gone
    EXPECT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "software\\moattest\\del\\"), 0);
    k = Create(reg, "Software\\MoatTest\\Del");
    EXPECT_TRUE(ValueNames(reg, k).empty());
    reg.RegCloseKey(k);
    EXPECT_NE(reg.RegDeleteKeyA(HKEY_CURRENT_USER, ""), 0);  // never the root
}

TYPED_TEST(StoreContract, ClosedNeverOpenedAndDeletedHandlesFail) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\H");
    EXPECT_EQ(reg.RegCloseKey(k), 0);
    EXPECT_NE(reg.RegCloseKey(k), 0);
    for (const HKEY bad : {k, HKEY{0}, HKEY{0x4242}}) EXPECT_NE(SetDword(reg, bad, "y", 1), 0) << bad;
    // A handle whose key was deleted under it fails instead of writing elsewhere.
    HKEY doomed = Create(reg, "Software\\MoatTest\\Doomed");
    ASSERT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MoatTest\\Doomed"), 0);
    EXPECT_NE(SetDword(reg, doomed, "z", 1), 0);
    reg.RegCloseKey(doomed);
    EXPECT_EQ(Open(reg, "Software\\MoatTest\\Doomed"), 0u);
}

// Strings are read up to their first zero (a terminator may have been added); the same bytes written again with
// another type take that type.
TYPED_TEST(StoreContract, DataIsKeptAsTheProgramReliesOnIt) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\Data");
    const struct {
        const char* name;
        DWORD type;
        std::string written, read;
    } rows[] = {
        {"dw", REG_DWORD, Dw(0xFFFFFFFFu), Dw(0xFFFFFFFFu)}, {"bin", REG_BINARY, Dw(0x10000), Dw(0x10000)},
        {"empty", REG_BINARY, "", ""},  {"emptysz", REG_SZ, "", ""}, {"nul", REG_SZ, std::string("ab\0cd", 5), "ab"},
        {"utf8", REG_SZ, "b\xc3\xbc" "cher \xe4\xb8\xad", "b\xc3\xbc" "cher \xe4\xb8\xad"},
        {"dw", REG_BINARY, Dw(2), Dw(2)}, {"dw", REG_DWORD, Dw(2), Dw(2)},
        {"s", REG_SZ, "%TEMP%", "%TEMP%"}, {"s", REG_EXPAND_SZ, "%TEMP%", "%TEMP%"},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(SetBytes(reg, k, r.name, r.type, r.written), 0) << r.name;
        DWORD type = 0;
        const std::string got = Query(reg, k, r.name, &type);
        EXPECT_EQ(r.type == REG_DWORD || r.type == REG_BINARY ? got : UpToZero(got), r.read) << r.name;
        EXPECT_EQ(type, r.type) << r.name;
    }
    // A buffer that is too small gets 234 and the size needed.
    unsigned char small[2];
    DWORD type = 0, cb = sizeof small;
    EXPECT_EQ(reg.RegQueryValueExA(k, "bin", nullptr, &type, small, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 4u);
    EXPECT_EQ(reg.RegDeleteValueA(k, "bin"), 0);
    EXPECT_EQ(reg.RegDeleteValueA(k, "bin"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Query(reg, k, "bin"), "<status 2>");
    reg.RegCloseKey(k);
}

// Sizes are UTF-8 bytes: too small a buffer gets 234 and the size, never a cut name; the enumeration helpers
// grow their buffers (200 two-byte characters need more than 256 bytes; 256 bytes need one more).
TYPED_TEST(StoreContract, LongNamesAreAnsweredWith234AndEnumeratedWhole) {
    RegistryApi& reg = *this->store;
    std::string u128, u200;  // 128 and 200 two-byte letters
    for (int i = 0; i < 200; ++i) (i < 128 ? u128 : u200) += "\xc3\xbc";
    u200.insert(0, u128);
    const std::string n200(200, 'n');
    HKEY k = Create(reg, "Software\\MoatTest\\Long");
    for (const std::string& n : {u200, n200, u128}) {
        reg.RegCloseKey(Create(reg, n, k));
        ASSERT_EQ(SetBytes(reg, k, n, REG_SZ, n), 0);
    }
    const std::vector<std::string> all{n200, u128, u200};
    EXPECT_EQ(SubkeyNames(reg, k), all);
    EXPECT_EQ(ValueNames(reg, k), all);
    // {index, buffer, status, size reported (0: not looked at)}
    const std::tuple<DWORD, DWORD, LONG, DWORD> rows[] = {
        {0, 64, ERROR_MORE_DATA, 200}, {0, 200, ERROR_MORE_DATA, 0},  // no room for the terminator
        {0, 256, 0, 200}, {1, 256, ERROR_MORE_DATA, 256}, {2, 256, ERROR_MORE_DATA, 400}};
    DWORD cch = 0, cb = 1024;
    for (const auto& [index, cap, status, size] : rows) {
        EXPECT_EQ(EnumKey(reg, k, index, cap, cch), status) << index << " " << cap;
        EXPECT_EQ(size ? cch : 0u, size) << index << " " << cap;
    }
    char buf[64];
    unsigned char data[1024];
    cch = sizeof buf;
    EXPECT_EQ(reg.RegEnumValueA(k, 0, buf, &cch, nullptr, nullptr, data, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 200u);
    reg.RegCloseKey(k);
}

// A cut sequence, a surrogate half at either end of their range, too long a name.
TYPED_TEST(StoreContract, UnrepresentableNamesFailInsteadOfBeingAltered) {
    RegistryApi& reg = *this->store;
    HKEY k = Create(reg, "Software\\MoatTest\\" + std::string(255, 'k'));  // the longest name there is
    EXPECT_NE(k, 0u);
    reg.RegCloseKey(k);
    for (const std::string& bad : {std::string("Software\\bad\xff"), "Software\\" + std::string(256, 'k')})
        EXPECT_NE(reg.RegCreateKeyExA(HKEY_CURRENT_USER, bad, 0, "", 0, 0x3F, nullptr, &k, nullptr), 0);
    EXPECT_EQ(Open(reg, "Software\\bad\xff"), 0u);
    k = Create(reg, "Software\\MoatTest\\Names");
    for (const char* bad : {"bad\xc3", "bad\xed\xa0\x80", "bad\xed\xbf\xbf"}) EXPECT_NE(SetDword(reg, k, bad, 1), 0);
    EXPECT_NE(SetBytes(reg, k, "badtext", REG_SZ, "\xff\xfe"), 0);
    EXPECT_TRUE(ValueNames(reg, k).empty());
    reg.RegCloseKey(k);
}

// Greek, the euro sign, and the code points at each edge of UTF-8's lengths.
TYPED_TEST(StoreContract, NamesOutsideTheAnsiCodePageSurvive) {
    RegistryApi& reg = *this->store;
    const std::string keyName = "b\xc3\xbc" "cher \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x8c\x8d";
    const std::string text = "\xce\xb1\xce\xb2\xce\xb3 \xe2\x82\xac \x7f \xc2\x80 \xdf\xbf \xe0\xa0\x80 \xef\xbf\xbd "
                             "\xf0\x90\x80\x80 \xf4\x8f\xbf\xbf";
    reg.RegCloseKey(Create(reg, "Software\\MoatTest\\Intl\\" + keyName));
    HKEY k = Open(reg, "Software\\MoatTest\\Intl");
    ASSERT_EQ(SetBytes(reg, k, text, REG_SZ, text), 0);
    EXPECT_EQ(SubkeyNames(reg, k), std::vector<std::string>{keyName});
    EXPECT_EQ(ValueNames(reg, k), std::vector<std::string>{text});
    EXPECT_EQ(UpToZero(Query(reg, k, text)), text);
    reg.RegCloseKey(k);
}

// ASCII letters compare folded ("_" before "Z"), a name before its longer forms, past eight characters too;
// from the first letter outside ASCII the letters themselves decide.
TYPED_TEST(StoreContract, SiblingsSharingTheirBeginningKeepTheirOrder) {
    RegistryApi& reg = *this->store;
    // Edges of the first eight and sixteen characters: names ending there, a
    // difference just after, and characters outside ASCII before and after.
    const std::vector<std::string> ordered = {
        "abc", "abcd_", "abcdefg", "abcdefgh", "ABCDEFGHa", "abcdefghi", "abcdefghijklmnop", "abcdefghijklmnopa",
        "abcdefghij\xc3\xa8zzzzzz", "ABCDEFGHIJ\xc3\xa9" "aaaaaa", "abcdZ", "abcd\xc3\xa8zzzzzzzzzz", "abcd\xc3\xa9",
        "abcd\xc3\xa9" "aaaaaaaaaa", "abck", "abc\xc3\xa8z", "abc\xc3\xa9" "a", "abc\xe2\x84\xaa"};
    HKEY k = Create(reg, "Software\\MoatTest\\Shared");
    ASSERT_NE(k, 0u);
    for (const std::size_t i : {7, 2, 16, 11, 0, 13, 9, 4, 17, 1, 14, 10, 5, 8, 15, 3, 12, 6})
        reg.RegCloseKey(Create(reg, ordered[i], k));
    EXPECT_EQ(SubkeyNames(reg, k), ordered);
    const std::pair<std::string, bool> looked[] = {{"ABCD\xc3\x89", true}, {"ABCDEFGHIJKLMNOPA", true},
        {"abcdefghij\xc3\x88ZZZZZZ", true}, {"abcdefghh", false}, {"abcd\xc3\xaa", false}, {"abcdefghijklmnoq", false}};
    for (const auto& [name, there] : looked) {
        HKEY sub = Open(reg, name, k);
        EXPECT_EQ(sub != 0, there) << name;
        reg.RegCloseKey(sub);
    }
    reg.RegCloseKey(k);
}

}  // namespace
}  // namespace moatgate

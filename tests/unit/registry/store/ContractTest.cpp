// The contract every store keeps: what the program relies on from the registry.
// Run against the memory store and the file store alike.
#include <gtest/gtest.h>

#include <memory>

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
        for (int i = 0; i < 300; ++i) {
            const std::string name = "site" + std::to_string(1000 + (i * 7919) % 300) + ".org";
            reg.RegCloseKey(Create(reg, name, base));
        }
        ASSERT_EQ(scope.End(), 0);
    }
    for (int i = 0; i < 300; ++i) expected.push_back("site" + std::to_string(1000 + i) + ".org");
    EXPECT_EQ(SubkeyNames(reg, base), expected);

    char name[64];
    DWORD cch = sizeof name;
    EXPECT_EQ(reg.RegEnumKeyExA(base, 300, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(SetDword(reg, base, "only", 1), 0);
    unsigned char data[8];
    DWORD cb = sizeof data;
    cch = sizeof name;
    EXPECT_EQ(reg.RegEnumValueA(base, 0, name, &cch, nullptr, nullptr, data, &cb), 0);
    cch = sizeof name;
    EXPECT_EQ(reg.RegEnumValueA(base, 1, name, &cch, nullptr, nullptr, data, &cb), ERROR_NO_MORE_ITEMS);
    // Walking backwards works as well as forwards.
    cch = sizeof name;
    ASSERT_EQ(reg.RegEnumKeyExA(base, 299, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(name, cch), "site1299.org");
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

TYPED_TEST(StoreContract, UnrepresentableNamesFailInsteadOfBeingAltered) {
    RegistryApi& reg = *this->store;
    HKEY k = 0;
    EXPECT_NE(reg.RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\bad\xff", 0, "", 0, 0x3F, nullptr, &k, nullptr), 0);
    EXPECT_NE(reg.RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\" + std::string(256, 'k'), 0, "", 0, 0x3F,
                                  nullptr, &k, nullptr),
              0);
    k = Create(reg, "Software\\MoatTest\\Names");
    EXPECT_NE(SetDword(reg, k, "bad\xc3", 1), 0);
    EXPECT_NE(SetBytes(reg, k, "badtext", REG_SZ, "\xff\xfe"), 0);
    EXPECT_TRUE(ValueNames(reg, k).empty());
    reg.RegCloseKey(k);
    EXPECT_NE(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\bad\xff", &k), 0);
}

TYPED_TEST(StoreContract, NamesOutsideTheAnsiCodePageSurvive) {
    RegistryApi& reg = *this->store;
    const std::string keyName = "b\xc3\xbc" "cher \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x8c\x8d";
    const std::string valueName = "\xd0\xb7\xd0\xbe\xd0\xbd\xd0\xb0 \xf0\x9f\x98\x80";
    const std::string text = "\xce\xb1\xce\xb2\xce\xb3 \xe2\x82\xac";
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

}  // namespace
}  // namespace moatgate

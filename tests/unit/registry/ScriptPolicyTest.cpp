// The Internet zone's three value sets and the protection state read back.
#include <gtest/gtest.h>

#include "registry/Registry.h"
#include "registry/ScriptPolicy.h"
#include "registry/SettingsKeys.h"
#include "registry/store/HiveRegistry.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

// The sets as the browser must receive them, value by value and in the order
// they are written, written out here rather than taken from the program's table.
struct Expected {
    const char* code;
    DWORD type;
    std::uint32_t secured, prompting, byDefault;
};
const Expected kSets[] = {
    {"1001", REG_DWORD, 3, 1, 1},         {"1004", REG_DWORD, 3, 1, 3},
    {"1200", REG_DWORD, 3, 1, 0},         {"1201", REG_DWORD, 3, 1, 3},
    {"1206", REG_DWORD, 3, 1, 1},         {"1400", REG_DWORD, 3, 1, 0},
    {"1402", REG_DWORD, 3, 1, 0},         {"1405", REG_DWORD, 3, 1, 0},
    {"1406", REG_DWORD, 3, 1, 3},         {"1407", REG_DWORD, 3, 1, 0},
    {"1604", REG_DWORD, 1, 1, 0},         {"1605", REG_DWORD, 3, 1, 0},
    {"1606", REG_DWORD, 0, 0, 0},         {"1607", REG_DWORD, 0, 0, 0},
    {"1608", REG_DWORD, 0, 0, 0},         {"1609", REG_DWORD, 3, 1, 1},
    {"1800", REG_DWORD, 3, 1, 1},         {"1802", REG_DWORD, 3, 1, 0},
    {"1803", REG_DWORD, 0, 0, 0},         {"1804", REG_DWORD, 3, 1, 1},
    {"1805", REG_DWORD, 3, 1, 1},         {"1806", REG_DWORD, 3, 1, 1},
    {"2001", REG_DWORD, 3, 1, 0},         {"2004", REG_DWORD, 3, 1, 0},
    {"1A00", REG_DWORD, 0x10000, 0x10000, 0x20000},
    {"1C00", REG_BINARY, 0, 0, 0x10000},  {"1E05", REG_DWORD, 65536, 65536, 65536},
    {"CurrentLevel", REG_DWORD, 9, 9, 9},
};

std::string LittleEndian(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// Remembers the names of the values written, in order.
class RecordingStore : public MemoryStore {
public:
    std::vector<std::string> written;
    LONG RegSetValueExA(HKEY key, std::string_view name, DWORD reserved, DWORD type, const unsigned char* data,
                        DWORD cb) override {
        written.emplace_back(name);
        return MemoryStore::RegSetValueExA(key, name, reserved, type, data, cb);
    }
};

class ScriptPolicy : public ::testing::Test {
protected:
    void SetUp() override { reg.RegCloseKey(Create(reg, std::string(kInternetZoneKey))); }
    void Dword(const std::string& code, std::int64_t v) {
        WriteRegistryValue(reg, HKEY_CURRENT_USER, kInternetZoneKey, code, v, REG_DWORD);
    }
    // The zone as the secured set leaves it, but for one value.
    ProtectionState SecuredBut(const std::string& code, std::int64_t v) {
        WritePolicySet(reg, PolicySet::Secured);
        Dword(code, v);
        return ScriptPolicyState(reg);
    }
    RecordingStore reg;
};

TEST_F(ScriptPolicy, EachSetIsWrittenValueByValueInItsOrder) {
    for (const PolicySet set : {PolicySet::Secured, PolicySet::Prompting, PolicySet::Default}) {
        reg.written.clear();
        WritePolicySet(reg, set);
        std::vector<std::string> order;
        HKEY k = 0;
        ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k), 0);
        for (const Expected& e : kSets) {
            order.emplace_back(e.code);
            const std::uint32_t v = set == PolicySet::Secured     ? e.secured
                                    : set == PolicySet::Prompting ? e.prompting
                                                                  : e.byDefault;
            DWORD type = 0;
            EXPECT_EQ(Query(reg, k, e.code, &type), LittleEndian(v)) << e.code;
            EXPECT_EQ(type, e.type) << e.code;
        }
        reg.RegCloseKey(k);
        EXPECT_EQ(reg.written, order);
    }
}

TEST_F(ScriptPolicy, EachSetGivesItsState) {
    WritePolicySet(reg, PolicySet::Secured);
    EXPECT_EQ(ScriptPolicyState(reg), kSecured);
    WritePolicySet(reg, PolicySet::Prompting);
    EXPECT_EQ(ScriptPolicyState(reg), kPrompting);
    WritePolicySet(reg, PolicySet::Default);
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);
}

TEST_F(ScriptPolicy, OneValueDecides) {
    EXPECT_EQ(SecuredBut("1400", 1), kPrompting);
    EXPECT_EQ(SecuredBut("1400", 0), kNotSecured);
    for (const char* untested : {"1407", "1604", "1606", "1607", "1608", "1803", "CurrentLevel"})
        EXPECT_EQ(SecuredBut(untested, 0), kSecured) << untested;
    for (std::int64_t other : {0, 1, 3, 0x20000, 65537}) EXPECT_EQ(SecuredBut("1E05", other), kNotSecured) << other;
}

TEST_F(ScriptPolicy, APromptingValueNeverLowersNotSecured) {
    // The deciding value before the other, and after it.
    WritePolicySet(reg, PolicySet::Secured);
    Dword("1001", 0);
    Dword("2004", 1);
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);
    WritePolicySet(reg, PolicySet::Secured);
    Dword("1001", 1);
    Dword("2004", 0);
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);
    WritePolicySet(reg, PolicySet::Prompting);
    Dword("1406", 3);  // one disallowing value among prompting ones changes nothing
    EXPECT_EQ(ScriptPolicyState(reg), kPrompting);
}

TEST_F(ScriptPolicy, OnlyALogonThatAsksOrStaysAnonymousIsSecured) {
    // Automatic logon hands the user's name and password to a site.
    EXPECT_EQ(SecuredBut("1A00", 0), kNotSecured);
    EXPECT_EQ(SecuredBut("1A00", 0x10000), kSecured);
    EXPECT_EQ(SecuredBut("1A00", 0x20000), kNotSecured);
    EXPECT_EQ(SecuredBut("1A00", 0x30000), kSecured);
    WritePolicySet(reg, PolicySet::Prompting);
    Dword("1A00", 0);
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);
}

TEST_F(ScriptPolicy, JavaPermissionsAreReadByTheirType) {
    WritePolicySet(reg, PolicySet::Secured);
    WriteRegistryValue(reg, HKEY_CURRENT_USER, kInternetZoneKey, "1C00", std::string("\0\0\2\0", 4), REG_BINARY);
    EXPECT_EQ(ScriptPolicyState(reg), kSecured);  // binary: its first two bytes, 0
    Dword("1C00", 65536);
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);  // a DWORD reads whole
}

TEST_F(ScriptPolicy, WhatCannotBeShownSecuredIsNotSecured) {
    WritePolicySet(reg, PolicySet::Secured);
    HKEY k = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k), 0);
    reg.RegDeleteValueA(k, "1806");
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);  // missing
    SetBytes(reg, k, "1806", REG_SZ, "three");
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);  // no number
    SetBytes(reg, k, "1806", REG_SZ, "3 or 0");
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);  // more than a number
    SetBytes(reg, k, "1806", REG_SZ, "3");
    EXPECT_EQ(ScriptPolicyState(reg), kSecured);  // a number, whatever its type
    reg.RegCloseKey(k);

    MemoryStore bare;  // no Internet zone key at all
    WritePolicySet(bare, PolicySet::Secured);
    EXPECT_EQ(ScriptPolicyState(bare), kNotSecured);
    HKEY none = 0;
    EXPECT_NE(bare.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &none), 0);
}

}  // namespace
}  // namespace moatgate

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

class ScriptPolicy : public ::testing::Test {
protected:
    void SetUp() override { reg.RegCloseKey(Create(reg, std::string(kInternetZoneKey))); }
    void Dword(const std::string& code, std::int64_t v) {
        WriteRegistryValue(reg, HKEY_CURRENT_USER, kInternetZoneKey, code, v, REG_DWORD);
    }
    std::string Read(const std::string& code) {
        return ReadRegistryValueText(reg, HKEY_CURRENT_USER, kInternetZoneKey, code);
    }
    MemoryStore reg;
};

TEST_F(ScriptPolicy, EachSetGivesItsState) {
    WritePolicySet(reg, PolicySet::Secured);
    EXPECT_EQ(ScriptPolicyState(reg), 0);
    WritePolicySet(reg, PolicySet::Prompting);
    EXPECT_EQ(ScriptPolicyState(reg), 1);
    WritePolicySet(reg, PolicySet::Default);
    EXPECT_EQ(ScriptPolicyState(reg), 2);
    EXPECT_EQ(Read("1A00"), "131072");
    EXPECT_EQ(Read("1E05"), "65536");
    EXPECT_EQ(Read("CurrentLevel"), "9");
    HKEY k = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k), 0);
    DWORD type = 0;
    EXPECT_EQ(Query(reg, k, "1C00", &type), std::string("\0\0\1\0", 4));
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(Query(reg, k, "1E05", &type), std::string("\0\0\1\0", 4));
    EXPECT_EQ(type, REG_DWORD);
    reg.RegCloseKey(k);
}

TEST_F(ScriptPolicy, OneValueDecides) {
    WritePolicySet(reg, PolicySet::Secured);
    Dword("1400", 1);
    EXPECT_EQ(ScriptPolicyState(reg), 1);
    Dword("1400", 0);
    EXPECT_EQ(ScriptPolicyState(reg), 2);
    Dword("1201", 1);  // a prompting value never lowers "not secured"
    EXPECT_EQ(ScriptPolicyState(reg), 2);

    WritePolicySet(reg, PolicySet::Secured);
    for (const char* untested : {"1407", "1604", "1606", "1607", "1608", "1803", "CurrentLevel"}) {
        Dword(untested, 0);
        EXPECT_EQ(ScriptPolicyState(reg), 0) << untested;
    }
    for (std::int64_t other : {0, 1, 3, 0x20000, 65537}) {
        WritePolicySet(reg, PolicySet::Secured);
        Dword("1E05", other);
        EXPECT_EQ(ScriptPolicyState(reg), 2) << other;
    }
    WritePolicySet(reg, PolicySet::Secured);
    Dword("1A00", 0x20000);
    EXPECT_EQ(ScriptPolicyState(reg), 2);
}

TEST_F(ScriptPolicy, JavaPermissionsAreReadByTheirType) {
    WritePolicySet(reg, PolicySet::Secured);
    WriteRegistryValue(reg, HKEY_CURRENT_USER, kInternetZoneKey, "1C00", std::string("\0\0\2\0", 4), REG_BINARY);
    EXPECT_EQ(ScriptPolicyState(reg), 0);  // binary: its first two bytes, 0
    Dword("1C00", 65536);
    EXPECT_EQ(ScriptPolicyState(reg), 2);  // a DWORD reads whole
}

TEST_F(ScriptPolicy, WhatCannotBeShownSecuredIsNotSecured) {
    WritePolicySet(reg, PolicySet::Secured);
    HKEY k = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k), 0);
    reg.RegDeleteValueA(k, "1806");
    EXPECT_EQ(ScriptPolicyState(reg), 2);  // missing
    SetBytes(reg, k, "1806", REG_SZ, "three");
    EXPECT_EQ(ScriptPolicyState(reg), 2);  // no number
    SetBytes(reg, k, "1806", REG_SZ, "3");
    EXPECT_EQ(ScriptPolicyState(reg), 0);  // a number, whatever its type
    reg.RegCloseKey(k);

    MemoryStore bare;  // no Internet zone key at all
    WritePolicySet(bare, PolicySet::Secured);
    EXPECT_EQ(ScriptPolicyState(bare), 2);
    HKEY none = 0;
    EXPECT_NE(bare.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &none), 0);
}

}  // namespace
}  // namespace moatgate

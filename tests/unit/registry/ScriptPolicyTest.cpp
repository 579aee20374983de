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

// The sets as the browser must receive them, value by value, written out here
// rather than taken from the program's table.
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

struct Change {
    const char* code;
    RegValue value;
    DWORD type = REG_DWORD;
};

class ScriptPolicy : public ::testing::Test {
protected:
    void SetUp() override { reg.RegCloseKey(Create(reg, std::string(kInternetZoneKey))); }
    ProtectionState StateAfter(PolicySet set, const std::vector<Change>& changes = {}) {
        WritePolicySet(reg, set);
        for (const Change& c : changes)
            WriteRegistryValue(reg, HKEY_CURRENT_USER, kInternetZoneKey, c.code, c.value, c.type);
        return ScriptPolicyState(reg);
    }
    MemoryStore reg;
};

TEST_F(ScriptPolicy, EachSetIsWrittenValueByValue) {
    for (const PolicySet set : {PolicySet::Secured, PolicySet::Prompting, PolicySet::Default}) {
        WritePolicySet(reg, set);
        HKEY k = 0;
        ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k), 0);
        for (const Expected& e : kSets) {
            const std::uint32_t v = set == PolicySet::Secured     ? e.secured
                                    : set == PolicySet::Prompting ? e.prompting
                                                                  : e.byDefault;
            DWORD type = 0;
            EXPECT_EQ(Query(reg, k, e.code, &type), LittleEndian(v)) << e.code;
            EXPECT_EQ(type, e.type) << e.code;
        }
        reg.RegCloseKey(k);
    }
}

TEST_F(ScriptPolicy, TheStateIsTheWeakestOfTheDecidingValues) {
    using enum PolicySet;
    const struct {
        PolicySet set;
        std::vector<Change> changes;
        ProtectionState state;
        const char* why;
    } rows[] = {
        {Secured, {}, kSecured, "the secured set"},
        {Prompting, {}, kPrompting, "the prompting set"},
        {Default, {}, kNotSecured, "the default set"},
        {Secured, {{"1400", std::int64_t{1}}}, kPrompting, "one value decides"},
        {Secured, {{"1001", std::int64_t{0}}, {"2004", std::int64_t{1}}}, kNotSecured, "prompting never lowers"},
        {Prompting, {{"1406", std::int64_t{3}}}, kPrompting, "one disallowing value among prompting ones"},
        // Automatic logon hands the user's name and password to a site.
        {Prompting, {{"1A00", std::int64_t{0}}}, kNotSecured, "automatic logon"},
        {Secured, {{"1A00", std::int64_t{0x20000}}}, kNotSecured, "logon in the intranet zone only"},
        {Secured, {{"1A00", std::int64_t{0x30000}}}, kSecured, "anonymous logon"},
        {Secured, {{"1C00", std::string("\0\0\2\0", 4), REG_BINARY}}, kSecured, "binary Java: its first two bytes"},
        {Secured, {{"1C00", std::int64_t{65536}}}, kNotSecured, "a DWORD Java reads whole"},
        {Secured, {{"1806", std::string("3 or 0"), REG_SZ}}, kNotSecured, "more than a number"},
        {Secured, {{"1806", std::string("3"), REG_SZ}}, kSecured, "a number, whatever its type"},
    };
    for (const auto& row : rows) EXPECT_EQ(StateAfter(row.set, row.changes), row.state) << row.why;
    for (const char* untested : {"1604", "1606", "1803", "CurrentLevel"})
        EXPECT_EQ(StateAfter(Secured, {{untested, std::int64_t{0}}}), kSecured) << untested;
    for (std::int64_t other : {3, 65537})
        EXPECT_EQ(StateAfter(Secured, {{"1E05", other}}), kNotSecured) << other;
}

// A value missing, or no Internet zone key at all (which is not made): not secured.
TEST_F(ScriptPolicy, WhatCannotBeShownSecuredIsNotSecured) {
    WritePolicySet(reg, PolicySet::Secured);
    HKEY k = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k), 0);
    reg.RegDeleteValueA(k, "1806");
    reg.RegCloseKey(k);
    EXPECT_EQ(ScriptPolicyState(reg), kNotSecured);
    MemoryStore bare;
    WritePolicySet(bare, PolicySet::Secured);
    EXPECT_EQ(ScriptPolicyState(bare), kNotSecured);
    EXPECT_TRUE(SubkeyNames(bare, HKEY_CURRENT_USER).empty());
}

}  // namespace
}  // namespace moatgate

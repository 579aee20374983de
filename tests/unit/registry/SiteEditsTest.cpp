// The selected row mapped back to its key and value, and the empty-key sweep.
#include <gtest/gtest.h>

#include <cerrno>

#include "registry/Registry.h"
#include "registry/SettingsKeys.h"
#include "registry/SiteEdits.h"
#include "registry/store/FileStore.h"
#include "registry/store/HiveRegistry.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

const std::string B = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";

SiteList OneSelected(const std::string& text, const std::string& subdomain, const std::string& domain) {
    SiteList list;
    list.Add({"http", "", "first.example", 2, 0, false});
    list.Add({text, subdomain, domain, 2, 0, true});
    return list;
}

TEST(SelectedSite, KeyAndValueOfTheFirstSelectedRow) {
    EXPECT_EQ(SelectedSiteKeyPath(OneSelected("Default", "", "bb.cc")), B + "\\bb.cc");
    EXPECT_EQ(SelectedSiteValueName(OneSelected("Default", "", "bb.cc")), "*");
    EXPECT_EQ(SelectedSiteKeyPath(OneSelected("http", "", "bb.cc")), B + "\\bb.cc\\");  // the domain key itself
    EXPECT_EQ(SelectedSiteValueName(OneSelected("http", "", "bb.cc")), "http");
    EXPECT_EQ(SelectedSiteKeyPath(OneSelected("https", "www", "bb.cc")), B + "\\bb.cc\\www");
    EXPECT_EQ(SelectedSiteKeyPath(OneSelected("Default", "www", "bb.cc")), B + "\\bb.cc\\www");
    EXPECT_EQ(SelectedSiteValueName(OneSelected("Default", "www", "bb.cc")), "*");
    EXPECT_EQ(SelectedSiteValueName(OneSelected("", "www", "bb.cc")), "");

    SiteList two = OneSelected("ftp", "a", "x.example");
    two.Item(1).selected = true;  // the first selected one counts
    EXPECT_EQ(SelectedSiteValueName(two), "http");
    two.SelectOnly(0);
    EXPECT_FALSE(SelectedSiteKeyPath(two));
    EXPECT_FALSE(SelectedSiteValueName(two));
}

class Sweep : public ::testing::Test {
protected:
    void Key(const std::string& path) { reg.RegCloseKey(Create(reg, B + "\\" + path)); }
    void Zone(const std::string& path, const std::string& name, std::uint32_t zone) {
        HKEY k = Create(reg, B + "\\" + path);
        SetDword(reg, k, name, zone);
        reg.RegCloseKey(k);
    }
    bool Exists(const std::string& path) {
        HKEY k = 0;
        const bool found = reg.RegOpenKeyA(HKEY_CURRENT_USER, B + "\\" + path, &k) == 0;
        reg.RegCloseKey(k);
        return found;
    }
    SiteList Rows() {
        SiteList list;
        FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list);
        return list;
    }
    MemoryStore reg;
};

TEST_F(Sweep, RemovesEveryKeyTheListShowsEmpty) {
    Key("bare.example");                // no values, no subkeys
    Key("parent.example\\www");         // an empty subdomain key, its domain key empty too
    Zone("keeps.example", "*", 2);      // its own value keeps the domain key
    Key("keeps.example\\www");
    Zone("full.example\\www", "http", 4);
    EXPECT_EQ(SweepEmptyKeys(reg, Rows()), 4u);
    EXPECT_FALSE(Exists("bare.example"));
    EXPECT_FALSE(Exists("parent.example"));
    EXPECT_TRUE(Exists("keeps.example"));
    EXPECT_FALSE(Exists("keeps.example\\www"));
    EXPECT_TRUE(Exists("full.example\\www"));
}

// A sweep the store cannot save removed nothing, and says so.
TEST(SweepSave, ASweepTheStoreCannotSaveCountsNothing) {
    TempDir dir;
    std::string error;
    auto reg = FileStore::Open(dir.file("user.reg"), error);
    ASSERT_TRUE(reg) << error;
    reg->RegCloseKey(Create(*reg, B + "\\bare.example"));
    SiteList rows;
    FillSiteList(*reg, HKEY_CURRENT_USER, ZoneMapFillPath(), rows);
    FileStore::WriteCalls full;
    full.rename = [](const char*, const char*) {
        errno = ENOSPC;
        return -1;
    };
    reg->SetWriteCalls(full);
    EXPECT_EQ(SweepEmptyKeys(*reg, rows), 0u);
    EXPECT_FALSE(reg->TakeRefusedWrite().empty());
    HKEY k = 0;
    EXPECT_EQ(reg->RegOpenKeyA(HKEY_CURRENT_USER, B + "\\bare.example", &k), 0);
    reg->RegCloseKey(k);
}

TEST_F(Sweep, AKeyWithAValueTheListDoesNotShowIsKept) {
    Zone("hidden.example", "Default", 2);  // never shown, so the row reads empty
    HKEY k = Create(reg, B + "\\zero.example\\www");
    SetBytes(reg, k, "http", REG_DWORD, "");  // a 0-byte value shows no protocol either
    reg.RegCloseKey(k);
    const SiteList rows = Rows();
    ASSERT_EQ(rows.Count(), 2u);
    EXPECT_TRUE(rows.Item(1).text.empty() && rows.Item(2).text.empty());
    EXPECT_EQ(SweepEmptyKeys(reg, rows), 0u);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\hidden.example", "Default"), "2");
    EXPECT_TRUE(Exists("zero.example\\www"));
}

TEST_F(Sweep, RowsOfKeysGoneMeanwhileAreSkipped) {
    Key("gone.example\\www");
    const SiteList rows = Rows();
    ASSERT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, B + "\\gone.example\\www"), 0);
    Zone("gone.example", "*", 3);  // another program gave the domain a value meanwhile
    EXPECT_EQ(SweepEmptyKeys(reg, rows), 0u);
    EXPECT_TRUE(Exists("gone.example"));
}

TEST_F(Sweep, DeletingAndAssigningActOnTheSelectedRowOnly) {
    Zone("bb.cc\\www", "http", 4);
    Zone("bb.cc\\www", "https", 4);
    SiteList rows = Rows();
    ASSERT_EQ(rows.Count(), 2u);
    AssignZone(reg, rows, kZoneTrusted);  // nothing selected: nothing written
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\bb.cc\\www", "http"), "4");
    rows.SelectOnly(2);
    AssignZone(reg, rows, kZoneTrusted);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\bb.cc\\www", "https"), "2");
    DeleteSelectedValue(reg, rows);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\bb.cc\\www", "https"), "");
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\bb.cc\\www", "http"), "4");
}

TEST_F(Sweep, TheOnlyRowOfAListIsAssignedAndDeletedToo) {
    Zone("only.example", "*", 4);
    SiteList rows = Rows();
    ASSERT_EQ(rows.Count(), 1u);
    rows.SelectOnly(1);
    AssignZone(reg, rows, kZoneTrusted);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\only.example", "*"), "2");
    DeleteSelectedValue(reg, rows);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\only.example", "*"), "");
}

}  // namespace
}  // namespace moatgate

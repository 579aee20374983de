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

const std::string B(kZoneMapKey);

TEST(SelectedSite, KeyAndValueOfTheFirstSelectedRow) {
    const struct {
        const char *text, *subdomain;
        std::string key;
        const char* value;
    } rows[] = {
        {"Default", "", B + "\\bb.cc", "*"},       {"http", "", B + "\\bb.cc\\", "http"},  // the domain key itself
        {"https", "www", B + "\\bb.cc\\www", "https"}, {"Default", "www", B + "\\bb.cc\\www", "*"},
        {"", "www", B + "\\bb.cc\\www", ""},
    };
    for (const auto& row : rows) {
        SiteList list;
        list.Add({"http", "", "first.example", 2, 0, false});
        list.Add({row.text, row.subdomain, "bb.cc", 2, 0, true});
        EXPECT_EQ(SelectedSiteKeyPath(list), row.key) << row.text << "|" << row.subdomain;
        EXPECT_EQ(SelectedSiteValueName(list), row.value) << row.text << "|" << row.subdomain;
        list.Item(1).selected = true;  // the first selected one counts
        EXPECT_EQ(SelectedSiteValueName(list), "http");
        list.SelectOnly(0);
        EXPECT_FALSE(SelectedSiteKeyPath(list));
        EXPECT_FALSE(SelectedSiteValueName(list));
    }
}

class Sweep : public ::testing::Test {
protected:
    void Key(const std::string& path) { reg.RegCloseKey(Create(reg, B + "\\" + path)); }
    bool Exists(const std::string& path) {
        HKEY k = 0;
        const bool found = reg.RegOpenKeyA(HKEY_CURRENT_USER, B + "\\" + path, &k) == 0;
        reg.RegCloseKey(k);
        return found;
    }
    std::string Value(const std::string& path, const std::string& name) {
        return ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\" + path, name);
    }
    SiteList Rows() {
        SiteList list;
        FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list);
        return list;
    }
    MemoryStore reg;
};

TEST_F(Sweep, RemovesEveryKeyTheListShowsEmptyAndOnlyThose) {
    Key("bare.example");                    // no values, no subkeys
    Key("parent.example\\www");             // an empty subdomain key, its domain key empty too
    Zone(reg, "keeps.example", "*", 2);     // its own value keeps the domain key
    Key("keeps.example\\www");
    Zone(reg, "full.example\\www", "http", 4);
    Zone(reg, "hidden.example", "Default", 2);  // never shown, so the row reads empty
    HKEY k = Create(reg, B + "\\zero.example\\www");
    SetBytes(reg, k, "http", REG_DWORD, "");  // a 0-byte value shows no protocol either
    reg.RegCloseKey(k);
    const SiteList rows = Rows();
    std::size_t empty = 0;
    for (const SiteRow& row : rows.Rows()) empty += row.text.empty();
    ASSERT_EQ(empty, 5u);
    EXPECT_EQ(SweepEmptyKeys(reg, rows), 4u);
    for (const char* gone : {"bare.example", "parent.example", "keeps.example\\www"}) EXPECT_FALSE(Exists(gone)) << gone;
    for (const char* kept : {"keeps.example", "full.example\\www", "zero.example\\www"}) EXPECT_TRUE(Exists(kept)) << kept;
    EXPECT_EQ(Value("hidden.example", "Default"), "2");
}

TEST_F(Sweep, RowsOfKeysGoneMeanwhileAreSkipped) {
    Key("gone.example\\www");
    const SiteList rows = Rows();
    ASSERT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, B + "\\gone.example\\www"), 0);
    Zone(reg, "gone.example", "*", 3);  // another program gave the domain a value meanwhile
    EXPECT_EQ(SweepEmptyKeys(reg, rows), 0u);
    EXPECT_TRUE(Exists("gone.example"));
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

// (Lists of several rows: the site commands' tests.)
TEST_F(Sweep, TheOnlyRowOfAListIsAssignedAndDeletedToo) {
    Zone(reg, "only.example", "*", 4);
    SiteList rows = Rows();
    ASSERT_EQ(rows.Count(), 1u);
    rows.SelectOnly(1);
    AssignZone(reg, rows, kZoneTrusted);
    EXPECT_EQ(Value("only.example", "*"), "2");
    DeleteSelectedValue(reg, rows);
    EXPECT_EQ(Value("only.example", "*"), "");
}

}  // namespace
}  // namespace moatgate

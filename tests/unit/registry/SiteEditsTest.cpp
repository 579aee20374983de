// The selected row mapped back to its key and value (rows of other kinds: the site
// commands' tests), and the empty-key sweep.
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
    SiteList list;
    list.Add({"http", "", "bb.cc", 2, 0, false});
    list.Add({"Default", "www", "bb.cc", 2, 0, true});
    list.Add({"", "www", "bb.cc", 2, 0, true});
    EXPECT_EQ(SelectedSiteKeyPath(list), B + "\\bb.cc\\www");  // the first selected one counts
    EXPECT_EQ(SelectedSiteValueName(list), "*");
    list.SelectOnly(3);
    EXPECT_EQ(SelectedSiteValueName(list), "");
    list.SelectOnly(1);
    EXPECT_EQ(SelectedSiteKeyPath(list), B + "\\bb.cc\\");  // the domain key itself
    EXPECT_EQ(SelectedSiteValueName(list), "http");
    list.SelectOnly(0);
    EXPECT_FALSE(SelectedSiteKeyPath(list));
    EXPECT_FALSE(SelectedSiteValueName(list));
}

SiteList Rows(RegistryApi& reg) {
    SiteList list;
    FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list);
    return list;
}

bool Exists(RegistryApi& reg, const std::string& path) {
    HKEY k = 0;
    const bool found = reg.RegOpenKeyA(HKEY_CURRENT_USER, B + "\\" + path, &k) == 0;
    reg.RegCloseKey(k);
    return found;
}

// The sweep removes every key the list shows empty and only those; the rows of
// keys gone meanwhile are skipped.
TEST(Sweep, RemovesEveryKeyTheListShowsEmptyAndOnlyThose) {
    MemoryStore reg;
    for (const char* empty : {"bare.example", "parent.example\\www", "keeps.example\\www", "gone.example\\www"})
        reg.RegCloseKey(Create(reg, B + "\\" + empty));
    Zone(reg, "keeps.example", "*", 2);  // its own value keeps the domain key
    Zone(reg, "full.example\\www", "http", 4);
    Zone(reg, "hidden.example", "Default", 2);  // never shown, so the row reads empty
    HKEY k = Create(reg, B + "\\zero.example\\www");
    SetBytes(reg, k, "http", REG_DWORD, "");  // a 0-byte value shows no protocol either
    reg.RegCloseKey(k);
    const SiteList rows = Rows(reg);
    std::size_t empty = 0;
    for (const SiteRow& row : rows.Rows()) empty += row.text.empty();
    ASSERT_EQ(empty, 6u);
    ASSERT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, B + "\\gone.example\\www"), 0);
    Zone(reg, "gone.example", "*", 3);  // another program gave the domain a value meanwhile
    EXPECT_EQ(SweepEmptyKeys(reg, rows), 4u);
    for (const char* gone : {"bare.example", "parent.example", "keeps.example\\www"})
        EXPECT_FALSE(Exists(reg, gone)) << gone;
    for (const char* s : {"keeps.example", "full.example\\www", "zero.example\\www", "hidden.example", "gone.example"})
        EXPECT_TRUE(Exists(reg, s)) << s;
}

// A sweep the store cannot save removed nothing, and says so.
TEST(Sweep, ASweepTheStoreCannotSaveCountsNothing) {
    TempDir dir;
    std::string error;
    auto reg = FileStore::Open(dir.file("user.reg"), error);
    ASSERT_TRUE(reg) << error;
    reg->RegCloseKey(Create(*reg, B + "\\bare.example"));
    const SiteList rows = Rows(*reg);
    FileStore::WriteCalls full;
    full.rename = [](const char*, const char*) {
        errno = ENOSPC;
        return -1;
    };
    reg->SetWriteCalls(full);
    EXPECT_EQ(SweepEmptyKeys(*reg, rows), 0u);
    EXPECT_FALSE(reg->TakeRefusedWrite().empty());
    EXPECT_TRUE(Exists(*reg, "bare.example"));
}

// (Lists of several rows: the site commands' tests.)
TEST(SiteCommand, TheOnlyRowOfAListIsAssignedAndDeletedToo) {
    MemoryStore reg;
    Zone(reg, "only.example", "*", 4);
    SiteList rows = Rows(reg);
    rows.SelectOnly(1);
    AssignZone(reg, rows, kZoneTrusted);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\only.example", "*"), "2");
    DeleteSelectedValue(reg, rows);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, B + "\\only.example", "*"), "");
}

}  // namespace
}  // namespace moatgate

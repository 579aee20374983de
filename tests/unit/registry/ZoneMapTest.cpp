// The zone map read into site rows, and the list's sort and selection.
#include <gtest/gtest.h>

#include "registry/SettingsKeys.h"
#include "registry/SiteList.h"
#include "registry/ZoneMap.h"
#include "registry/store/HiveRegistry.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

// A store whose enumerations can fail partway, or list values in reverse order.
class QuirkyStore : public MemoryStore {
public:
    DWORD failKeyAt = ~0u;
    DWORD failValueAt = ~0u;
    bool reverseValues = false;
    int valueCalls = 0;

    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cch, DWORD* r, char* c, DWORD* cc,
                       void* t) override {
        if (index >= failKeyAt) return ERROR_ACCESS_DENIED;
        return MemoryStore::RegEnumKeyExA(key, index, name, cch, r, c, cc, t);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cch, DWORD* r, DWORD* type, unsigned char* data,
                       DWORD* cb) override {
        ++valueCalls;
        if (index >= failValueAt) return ERROR_ACCESS_DENIED;
        if (reverseValues) {
            DWORD count = 0;
            char scratch[512];
            for (;; ++count) {
                DWORD n = sizeof scratch;
                if (MemoryStore::RegEnumValueA(key, count, scratch, &n, nullptr, nullptr, nullptr, nullptr)) break;
            }
            if (index >= count) return ERROR_NO_MORE_ITEMS;
            index = count - 1 - index;
        }
        return MemoryStore::RegEnumValueA(key, index, name, cch, r, type, data, cb);
    }
};

class ZoneMapFill : public ::testing::Test {
protected:
    // Sets a zone value on a site key below the zone map, creating the keys.
    void Zone(const std::string& site, const std::string& name, std::uint32_t zone) {
        HKEY k = Create(reg, std::string(kZoneMapKey) + "\\" + site);
        SetDword(reg, k, name, zone);
        reg.RegCloseKey(k);
    }
    void Key(const std::string& site) { reg.RegCloseKey(Create(reg, std::string(kZoneMapKey) + "\\" + site)); }
    SiteList Fill() {
        SiteList list;
        FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list);
        return list;
    }
    static std::vector<std::string> Show(const SiteList& list) {
        std::vector<std::string> rows;
        for (const SiteRow& r : list.Rows())
            rows.push_back(r.text + "|" + r.subdomain + "|" + r.domain + "|" + std::to_string(r.icon));
        return rows;
    }

    QuirkyStore reg;
};

TEST_F(ZoneMapFill, RowsFollowTheFillsPassesInOrder) {
    Zone("d.example", "*", 2);
    Zone("d.example\\mail", "http", 4);
    Zone("d.example\\mail", "https", 4);
    Zone("d.example\\www", "http", 2);
    const SiteList list = Fill();
    EXPECT_EQ(Show(list), (std::vector<std::string>{"http|mail|d.example|4", "http|www|d.example|2",
                                                    "https|mail|d.example|4", "Default||d.example|2"}));
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(list.SortKey(), SiteColumn::Domain);
}

// The pass for a domain's all-protocol value reaches the last domain too: here
// the only one, whose own row its subdomain key took.
TEST_F(ZoneMapFill, TheLastDomainsAllProtocolValueIsListed) {
    Zone("d.example", "*", 2);
    Zone("d.example\\www", "http", 4);
    EXPECT_EQ(Show(Fill()), (std::vector<std::string>{"http|www|d.example|4", "Default||d.example|2"}));
}

TEST_F(ZoneMapFill, RowsForEveryKindOfKey) {
    Zone("only-star.example", "*", 2);
    Key("bare.example");                        // neither values nor subkeys
    Zone("zero.example", "http", 0);            // zone 0: no picture
    Zone("odd.example", "ftp", 77);             // no picture of that number: still listed
    Zone("mixed.example", "*", 4);              // subkeys, "*" and "http": "http" is not shown
    Zone("mixed.example", "http", 2);
    Zone("mixed.example\\www", "https", 3);
    Zone("defaults.example", "Default", 2);     // never a row, whatever its position
    Zone("defaults.example", "ftp", 3);
    Zone("defaults.example", "http", 4);
    EXPECT_EQ(Show(Fill()), (std::vector<std::string>{
                                "||bare.example|0",
                                "||defaults.example|0",  // its first value was "Default": the row stays empty
                                "ftp||defaults.example|3",
                                "http||defaults.example|4",
                                "https|www|mixed.example|3",
                                "Default||mixed.example|4",
                                "ftp||odd.example|77",
                                "Default||only-star.example|2",
                                "http||zero.example|0",
                            }));
}

TEST_F(ZoneMapFill, AnEmptyOrMissingZoneMapGivesAnEmptySortedList) {
    SiteList list = Fill();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_TRUE(list.Sorted());
    Key("");  // the zone map key itself, still empty
    list = Fill();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.SortKey(), SiteColumn::Domain);
}

TEST_F(ZoneMapFill, TheUnnamedValueIsShownOnlyAsAKeysFirstValue) {
    HKEY k = Create(reg, std::string(kZoneMapKey) + "\\first.example");
    SetDword(reg, k, "", 2);
    SetDword(reg, k, "http", 4);
    reg.RegCloseKey(k);
    EXPECT_EQ(Show(Fill()), (std::vector<std::string>{"||first.example|2", "http||first.example|4"}));
    reg.reverseValues = true;  // now the unnamed value comes last
    EXPECT_EQ(Show(Fill()), (std::vector<std::string>{"http||first.example|4"}));
}

TEST_F(ZoneMapFill, AFailingEnumerationEndsItsLoop) {
    for (int i = 0; i < 6; ++i) Zone("site" + std::to_string(i) + ".example", "*", 2);
    Zone("site0.example", "http", 3);
    reg.failKeyAt = 3;
    EXPECT_EQ(Show(Fill()), (std::vector<std::string>{"Default||site0.example|2", "http||site0.example|3",
                                                    "Default||site1.example|2", "Default||site2.example|2"}));
    reg.failKeyAt = ~0u;
    reg.failValueAt = 1;
    const SiteList list = Fill();
    EXPECT_EQ(list.Count(), 6u);
    EXPECT_EQ(list.Item(1).text, "Default");  // site0's "http" never came
}

TEST_F(ZoneMapFill, LongNamesAreNeverTruncated) {
    const std::string domain(255, 'd');
    const std::string value(300, 'v');
    Zone(domain, value, 2);
    const SiteList list = Fill();
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Item(1).domain, domain);
    EXPECT_EQ(list.Item(1).text, value);
}

TEST_F(ZoneMapFill, EventsRunBeforeEveryFurtherValue) {
    Zone("a.example", "ftp", 2);
    Zone("a.example", "http", 2);
    Zone("a.example", "https", 2);
    int calls = 0;
    SiteList list;
    FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list, [&] { ++calls; });
    EXPECT_EQ(calls, 3);  // before values 1 and 2, and before the call that finds no more
    EXPECT_EQ(list.Count(), 3u);
}

TEST(SiteList, SortsStablyWithoutRegardToCaseOnAnyColumn) {
    SiteList list;
    for (const char* domain : {"b.example", "A.example", "a.example", "C.example"}) {
        SiteRow row;
        row.domain = domain;
        row.text = std::string(domain) == "a.example" ? "http" : "Default";
        list.Add(row);
    }
    list.SetSortKey(SiteColumn::Domain);
    list.SetSorted(true);
    auto domains = [&] {
        std::vector<std::string> out;
        for (const auto& r : list.Rows()) out.push_back(r.domain);
        return out;
    };
    EXPECT_EQ(domains(), (std::vector<std::string>{"A.example", "a.example", "b.example", "C.example"}));
    list.SetSortOrder(SortOrder::Descending);
    EXPECT_EQ(domains(), (std::vector<std::string>{"C.example", "b.example", "A.example", "a.example"}));
    list.SetSortOrder(SortOrder::Ascending);
    list.SetSortKey(SiteColumn::Protocol);
    EXPECT_EQ(list.Item(1).text, "Default");
    EXPECT_EQ(list.Item(4).text, "http");

    SiteRow late;
    late.text = "Aaa";
    list.Add(late);  // a sorted list takes a new row into its place
    EXPECT_EQ(list.Item(1).text, "Aaa");
}

TEST(SiteList, FirstSelectedRowCountsFromOne) {
    SiteList list;
    EXPECT_EQ(FirstSelectedRow(list), 1u);
    for (int i = 0; i < 3; ++i) list.Add(SiteRow{});
    EXPECT_EQ(FirstSelectedRow(list), 4u);
    list.Item(2).selected = true;
    list.Item(3).selected = true;
    EXPECT_EQ(FirstSelectedRow(list), 2u);
    list.SelectOnly(0);
    EXPECT_EQ(FirstSelectedRow(list), 4u);
}

}  // namespace
}  // namespace moatgate

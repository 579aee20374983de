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

    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cch, DWORD* r, char* c, DWORD* cc,
                       void* t) override {
        if (index >= failKeyAt) return ERROR_ACCESS_DENIED;
        return MemoryStore::RegEnumKeyExA(key, index, name, cch, r, c, cc, t);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cch, DWORD* r, DWORD* type, unsigned char* data,
                       DWORD* cb) override {
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

SiteList Fill(RegistryApi& reg) {
    SiteList list;
    FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list);
    return list;
}

std::vector<std::string> Show(const SiteList& list) {
    std::vector<std::string> rows;
    for (const SiteRow& r : list.Rows())
        rows.push_back(r.text + "|" + r.subdomain + "|" + r.domain + "|" + std::to_string(r.icon));
    return rows;
}

TEST(ZoneMapFill, RowsForEveryKindOfKeyInTheFillsOrder) {
    const std::string longDomain(255, 'd'), longName(300, 'v');
    const struct {
        std::vector<std::tuple<std::string, std::string, int>> values;  // site, name, zone (< 0: the key alone)
        std::vector<std::string> rows;
        const char* why;
    } cases[] = {
        {{}, {}, "no zone map"},
        {{{"", "", -1}}, {}, "an empty zone map"},
        {{{"d.example", "*", 2}, {"d.example\\mail", "http", 4}, {"d.example\\mail", "https", 4},
          {"d.example\\www", "http", 2}},
         {"http|mail|d.example|4", "http|www|d.example|2", "https|mail|d.example|4", "Default||d.example|2"},
         "the fill's passes in order"},
        {{{"d.example", "*", 2}, {"d.example\\www", "http", 4}}, {"http|www|d.example|4", "Default||d.example|2"},
         "the last domain's all-protocol value, its own row taken by its subdomain key"},
        {{{"only-star.example", "*", 2},
          {"bare.example", "", -1},          // neither values nor subkeys
          {"zero.example", "http", 0},       // zone 0: no picture
          {"odd.example", "ftp", 77},        // no picture of that number: still listed
          {"mixed.example", "*", 4},         // subkeys, "*" and "http": "http" is not shown
          {"mixed.example", "http", 2},
          {"mixed.example\\www", "https", 3},
          {"defaults.example", "Default", 2},  // never a row, whatever its position
          {"defaults.example", "ftp", 3},
          {"defaults.example", "http", 4}},
         {"||bare.example|0", "||defaults.example|0", "ftp||defaults.example|3", "http||defaults.example|4",
          "https|www|mixed.example|3", "Default||mixed.example|4", "ftp||odd.example|77", "Default||only-star.example|2",
          "http||zero.example|0"},
         "every kind of key"},
        {{{longDomain, longName, 2}}, {longName + "||" + longDomain + "|2"}, "long names, never truncated"},
    };
    for (const auto& c : cases) {
        MemoryStore reg;
        for (const auto& [site, name, zone] : c.values) {
            if (zone < 0) reg.RegCloseKey(Create(reg, std::string(kZoneMapKey) + "\\" + site));
            else Zone(reg, site, name, static_cast<std::uint32_t>(zone));
        }
        const SiteList list = Fill(reg);
        EXPECT_EQ(Show(list), c.rows) << c.why;
        EXPECT_TRUE(list.Sorted()) << c.why;
        EXPECT_EQ(list.SortKey(), SiteColumn::Domain) << c.why;
    }
}

TEST(ZoneMapFill, TheUnnamedValueIsShownOnlyAsAKeysFirstValue) {
    QuirkyStore reg;
    HKEY k = Create(reg, std::string(kZoneMapKey) + "\\first.example");
    SetDword(reg, k, "", 2);
    SetDword(reg, k, "http", 4);
    reg.RegCloseKey(k);
    EXPECT_EQ(Show(Fill(reg)), (std::vector<std::string>{"||first.example|2", "http||first.example|4"}));
    reg.reverseValues = true;  // now the unnamed value comes last
    EXPECT_EQ(Show(Fill(reg)), (std::vector<std::string>{"http||first.example|4"}));
}

TEST(ZoneMapFill, AFailingEnumerationEndsItsLoop) {
    QuirkyStore reg;
    for (int i = 0; i < 6; ++i) Zone(reg, "site" + std::to_string(i) + ".example", "*", 2);
    Zone(reg, "site0.example", "http", 3);
    reg.failKeyAt = 3;
    EXPECT_EQ(Show(Fill(reg)), (std::vector<std::string>{"Default||site0.example|2", "http||site0.example|3",
                                                         "Default||site1.example|2", "Default||site2.example|2"}));
    reg.failKeyAt = ~0u;
    reg.failValueAt = 1;
    const SiteList list = Fill(reg);
    EXPECT_EQ(list.Count(), 6u);
    EXPECT_EQ(list.Item(1).text, "Default");  // site0's "http" never came
}

TEST(ZoneMapFill, EventsRunBeforeEveryFurtherValue) {
    MemoryStore reg;
    for (const char* name : {"ftp", "http", "https"}) Zone(reg, "a.example", name, 2);
    int calls = 0;
    SiteList list;
    FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list, [&] { ++calls; });
    EXPECT_EQ(calls, 3);  // before values 1 and 2, and before the call that finds no more
    EXPECT_EQ(list.Count(), 3u);
}

// A sorted list sorts again when its key or order changes, and places new rows.
// (The sort itself: SiteListSortTest.)
TEST(SiteList, ASortedListStaysSorted) {
    SiteList list;
    for (const char* domain : {"b.example", "A.example", "a.example", "C.example"})
        list.Add({std::string(domain) == "a.example" ? "http" : "Default", "", domain});
    list.SetSortKey(SiteColumn::Domain);
    list.SetSorted(true);
    auto domains = [&] {
        std::string out;
        for (const auto& r : list.Rows()) out += r.domain + " ";
        return out;
    };
    EXPECT_EQ(domains(), "A.example a.example b.example C.example ");
    list.SetSortOrder(SortOrder::Descending);
    EXPECT_EQ(domains(), "C.example b.example A.example a.example ");
    list.SetSortOrder(SortOrder::Ascending);
    list.SetSortKey(SiteColumn::Protocol);
    EXPECT_EQ(list.Item(1).text, "Default");
    EXPECT_EQ(list.Item(4).text, "http");
    list.Add({"Aaa", "", ""});
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

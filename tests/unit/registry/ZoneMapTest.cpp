// The zone map read into site rows, and the list's sort: stable, ignoring case,
// on any column and in either order, as a plain stable sort of the rows has it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "registry/SettingsKeys.h"
#include "registry/SiteList.h"
#include "registry/ZoneMap.h"
#include "registry/store/HiveRegistry.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

// Values listed last first, as a store that keeps them in the order they were made (Windows) may list them.
struct ReversedValuesStore : MemoryStore {
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cch, DWORD* r, DWORD* type, unsigned char* data,
                       DWORD* cb) override {
        DWORD count = 0;
        for (char scratch[512]; ; ++count) {
            DWORD n = sizeof scratch;
            if (MemoryStore::RegEnumValueA(key, count, scratch, &n, nullptr, nullptr, nullptr, nullptr)) break;
        }
        if (index >= count) return ERROR_NO_MORE_ITEMS;
        return MemoryStore::RegEnumValueA(key, count - 1 - index, name, cch, r, type, data, cb);
    }
};

TEST(ZoneMapFill, AnUnnamedValueAfterTheFirstIsNoRow) {
    ReversedValuesStore reg;
    HKEY k = Create(reg, std::string(kZoneMapKey) + "\\first.example");
    SetDword(reg, k, "", 2);
    SetDword(reg, k, "http", 4);
    reg.RegCloseKey(k);
    SiteList list;
    FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Item(1).text + "|" + std::to_string(list.Item(1).icon), "http|4");
}

std::string Lowered(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// Keys with "locked" in their path cannot be opened.
struct LockedKeysStore : MemoryStore {
    LONG RegOpenKeyA(HKEY key, std::string_view path, HKEY* result) override {
        if (path.find("locked") != std::string_view::npos) return ERROR_ACCESS_DENIED;
        return MemoryStore::RegOpenKeyA(key, path, result);
    }
};

// Every key's subkeys listed twice over, as two keys whose names read the same
// through the narrow interface are (the second one's name opens the first).
struct TwiceListedStore : MemoryStore {
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cch, DWORD* r, char* keyClass, DWORD* cchClass,
                       void* time) override {
        DWORD count = 0;
        for (char scratch[512];; ++count) {
            DWORD n = sizeof scratch;
            if (MemoryStore::RegEnumKeyExA(key, count, scratch, &n, nullptr, nullptr, nullptr, nullptr)) break;
        }
        if (index >= 2 * count) return ERROR_NO_MORE_ITEMS;
        return MemoryStore::RegEnumKeyExA(key, index % count, name, cch, r, keyClass, cchClass, time);
    }
};

// Fills the list in both orders; checks the rows ("text|subdomain|domain|icon", ascending as given), that
// every key opened was closed, and how often events were let run.
template <typename Store>
void ExpectFill(Store& reg, const std::vector<std::string>& ascending, int events, const std::string& why) {
    for (SortOrder order : {SortOrder::Ascending, SortOrder::Descending}) {
        std::vector<std::string> expected = ascending;
        const auto domainOf = [](const std::string& row) {
            const std::size_t from = row.find('|', row.find('|') + 1) + 1;
            return Lowered(row.substr(from, row.rfind('|') - from));
        };
        if (order == SortOrder::Descending)
            std::stable_sort(expected.begin(), expected.end(),
                             [&](const std::string& a, const std::string& b) { return domainOf(b) < domainOf(a); });
        SiteList list;
        list.SetSortOrder(order);
        int ran = 0;
        FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list, [&] { ++ran; });
        std::vector<std::string> rows;
        for (const SiteRow& r : list.Rows())
            rows.push_back(r.text + "|" + r.subdomain + "|" + r.domain + "|" + std::to_string(r.icon));
        EXPECT_EQ(rows, expected) << why;
        EXPECT_TRUE(list.Sorted()) << why;
        EXPECT_EQ(list.SortKey(), SiteColumn::Domain) << why;
        EXPECT_EQ(list.SortOrder(), order) << why;
        EXPECT_EQ(reg.OpenHandleCount(), 0u) << why;
        EXPECT_EQ(ran, events) << why;
    }
}

TEST(ZoneMapFill, RowsForEveryKindOfKeyInTheFillsOrder) {
    const std::string longDomain(255, 'd'), longName(300, 'v');
    const struct {
        std::vector<std::tuple<std::string, std::string, int>> values;  // site, name, zone (< 0: the key alone)
        std::vector<std::string> rows;
        int events;  // before each further value of a key read
        const char* why;
    } cases[] = {
        {{}, {}, 0, "no zone map"},
        {{{"", "", -1}}, {}, 0, "an empty zone map"},
        {{{"d.example", "*", 2}, {"d.example\\mail", "http", 4}, {"d.example\\mail", "https", 4},
          {"d.example\\www", "http", 2}},
         {"http|mail|d.example|4", "http|www|d.example|2", "https|mail|d.example|4", "Default||d.example|2"},
         3,
         "the fill's passes in order"},
        {{{"only-star.example", "*", 2},
          {"bare.example", "", -1},          // neither values nor subkeys
          {"zero.example", "http", 0},       // zone 0: no picture
          {"odd.example", "ftp", 77},        // no picture of that number: still listed
          {"mixed.example", "*", 4},         // subkeys, "*" and "http": "http" is not shown
          {"mixed.example", "http", 2},
          {"mixed.example\\www", "https", 3},
          {"unnamed.example", "", 2},  // the unnamed value, shown as its key's first value
          {"unnamed.example", "http", 4},
          {"defaults.example", "Default", 2},  // never a row, whatever its position
          {"defaults.example", "ftp", 3},
          {"defaults.example", "http", 4},
          {"star-first.example", "*", 2},  // "*" shown on the domain's own row: no second "Default" row
          {"star-first.example", "ftp", 3}},
         {"||bare.example|0", "||defaults.example|0", "ftp||defaults.example|3", "http||defaults.example|4",
          "https|www|mixed.example|3", "Default||mixed.example|4", "ftp||odd.example|77",
          "Default||only-star.example|2", "Default||star-first.example|2", "ftp||star-first.example|3",
          "||unnamed.example|2", "http||unnamed.example|4", "http||zero.example|0"},
         12,
         "every kind of key"},
        {{{longDomain, longName, 2}}, {longName + "||" + longDomain + "|2"}, 1, "long names, never truncated"},
        {{{"many.example", "a", 2}, {"many.example", "b", 3}, {"many.example", "c", 4}, {"many.example", "d", 1}},
         {"a||many.example|2", "b||many.example|3", "c||many.example|4", "d||many.example|1"},
         4,
         "more rows from one key than room was taken for"},
        {{{"\xc3\xa9" "a.example", "*", 2}, {"\xc3\xa9" "a.example\\www", "http", 4}, {"\xc3\x89" "b.example", "http", 3},
          {"\xc3\x89" "b.example\\mail", "https", 2}},
         {"https|mail|\xc3\x89" "b.example|2", "http|www|\xc3\xa9" "a.example|4", "Default||\xc3\xa9" "a.example|2"},
         2,
         "letters outside ASCII: the store lists \"\xc3\xa9" "a\" first, the list \"\xc3\x89" "b\""},
    };
    for (const auto& c : cases) {
        MemoryStore reg;
        for (const auto& [site, name, zone] : c.values) {
            if (zone < 0) reg.RegCloseKey(Create(reg, std::string(kZoneMapKey) + "\\" + site));
            else Zone(reg, site, name, static_cast<std::uint32_t>(zone));
        }
        ExpectFill(reg, c.rows, c.events, c.why);
    }
}

TEST(ZoneMapFill, KeysThatCannotBeOpenedGiveOnlyTheRowsMadeBefore) {
    LockedKeysStore reg;
    Zone(reg, "a.example\\locked", "http", 4);  // the domain's first subkey: its row gets no value
    Zone(reg, "a.example\\www", "http", 2);
    Zone(reg, "locked.example", "*", 2);  // no step can open it
    Zone(reg, "z.example", "http", 3);
    ExpectFill(reg, {"|locked|a.example|0", "http|www|a.example|2", "||locked.example|0", "http||z.example|3"}, 2,
               "keys that cannot be opened");
}

TEST(ZoneMapFill, DomainsThatReadTheSameAreTakenTogetherStepByStep) {
    TwiceListedStore reg;
    Zone(reg, "d.example", "*", 2);
    Zone(reg, "d.example\\www", "http", 4);
    Zone(reg, "e.example", "http", 3);
    // Each step over both d.example rows and both of their subkeys before the next step.
    ExpectFill(reg,
               {"http|www|d.example|4", "http|www|d.example|4", "http|www|d.example|4", "http|www|d.example|4",
                "Default||d.example|2", "Default||d.example|2", "http||e.example|3", "http||e.example|3"},
               6, "domains listed twice over");
}

TEST(SiteListSort, RowsSortAsAStableSortIgnoringCaseWould) {
    std::mt19937 random(7);
    // Lengths about the 8-byte steps the sort compares first, "_" between the cases' letters.
    const std::vector<std::string> words = {
        "", "a", "A", "aB", "abcdefgh", "ABCDEFGH", "abcdefgh0", "\xc3\xa9t\xc3\xa9", "Zeta2", "abcdefghijklmnop",
        "abcdefghijklmnoZ", "abcdefghijklmno_", "www.site123456.example.", "www.site123456.example.com",
        "WWW.SITE123456.EXAMPLE.co", "www.site123456.example.c_", "www.site123456.example.B"};
    for (int round = 0; round < 20; ++round) {
        std::vector<SiteRow> rows;
        const int n = 1 + static_cast<int>(random() % 300);
        // Domains in runs, as a fill adds them, or anywhere; each row known by its place (icon).
        for (int i = 0; i < n; ++i) {
            const std::string& domain = words[(round % 2 ? random() : static_cast<unsigned>(i / 9)) % words.size()];
            rows.push_back({words[random() % words.size()], words[random() % words.size()], domain, i});
        }
        for (SiteColumn column : {SiteColumn::Protocol, SiteColumn::Subdomain, SiteColumn::Domain}) {
            for (SortOrder order : {SortOrder::Ascending, SortOrder::Descending}) {
                SiteList list;
                for (const SiteRow& row : rows) list.Add(row);
                list.SetSortKey(column);
                list.SetSortOrder(order);
                list.SetSorted(true);
                // Then the other way round, from the list in order: stable against its order then.
                std::vector<SiteRow> expected = rows;
                for (SortOrder now : {order, order == SortOrder::Ascending ? SortOrder::Descending : SortOrder::Ascending}) {
                    list.SetSortOrder(now);
                    std::stable_sort(expected.begin(), expected.end(), [&](const SiteRow& a, const SiteRow& b) {
                        const std::string x = Lowered(a.Column(column)), y = Lowered(b.Column(column));
                        return now == SortOrder::Ascending ? x < y : y < x;
                    });
                    ASSERT_EQ(list.Count(), expected.size());
                    for (std::size_t i = 0; i < expected.size(); ++i)
                        ASSERT_EQ(list.Rows()[i].icon, expected[i].icon) << "round " << round << " row " << i;
                }
            }
        }
    }
    // In order either way but for one pair at an end: not a list in order.
    for (const std::string domains : {"bacde", "abced", "edcab", "decba"}) {
        SiteList list;
        for (char d : domains) list.Add({"", "", std::string(1, d)});
        list.SetSortKey(SiteColumn::Domain);
        list.SetSorted(true);
        std::string sorted;
        for (const SiteRow& row : list.Rows()) sorted += row.domain;
        EXPECT_EQ(sorted, "abcde") << domains;
    }
}

}  // namespace
}  // namespace moatgate

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
          {"unnamed.example", "", 2},  // the unnamed value, shown as its key's first value
          {"unnamed.example", "http", 4},
          {"defaults.example", "Default", 2},  // never a row, whatever its position
          {"defaults.example", "ftp", 3},
          {"defaults.example", "http", 4}},
         {"||bare.example|0", "||defaults.example|0", "ftp||defaults.example|3", "http||defaults.example|4",
          "https|www|mixed.example|3", "Default||mixed.example|4", "ftp||odd.example|77", "Default||only-star.example|2",
          "||unnamed.example|2", "http||unnamed.example|4", "http||zero.example|0"},
         "every kind of key"},
        {{{longDomain, longName, 2}}, {longName + "||" + longDomain + "|2"}, "long names, never truncated"},
    };
    for (const auto& c : cases) {
        MemoryStore reg;
        for (const auto& [site, name, zone] : c.values) {
            if (zone < 0) reg.RegCloseKey(Create(reg, std::string(kZoneMapKey) + "\\" + site));
            else Zone(reg, site, name, static_cast<std::uint32_t>(zone));
        }
        SiteList list;
        FillSiteList(reg, HKEY_CURRENT_USER, ZoneMapFillPath(), list);
        std::vector<std::string> rows;
        for (const SiteRow& r : list.Rows())
            rows.push_back(r.text + "|" + r.subdomain + "|" + r.domain + "|" + std::to_string(r.icon));
        EXPECT_EQ(rows, c.rows) << c.why;
        EXPECT_TRUE(list.Sorted()) << c.why;
        EXPECT_EQ(list.SortKey(), SiteColumn::Domain) << c.why;
    }
}

}  // namespace
}  // namespace moatgate

// The site list's sort: stable, ignoring case, on any column and in either order,
// whatever the order the rows came in; as a plain stable sort of the rows has it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "registry/SiteList.h"

namespace moatgate {
namespace {

std::string Lowered(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
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
                std::vector<SiteRow> expected = rows;
                std::stable_sort(expected.begin(), expected.end(), [&](const SiteRow& a, const SiteRow& b) {
                    const std::string x = Lowered(a.Column(column)), y = Lowered(b.Column(column));
                    return order == SortOrder::Ascending ? x < y : y < x;
                });
                ASSERT_EQ(list.Count(), expected.size());
                for (std::size_t i = 0; i < expected.size(); ++i)
                    ASSERT_EQ(list.Rows()[i].icon, expected[i].icon) << "round " << round << " row " << i;
            }
        }
    }
}

}  // namespace
}  // namespace moatgate

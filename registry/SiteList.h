// The rows of the site list and the list's sort and selection state, kept apart
// from any window so that the zone store fills and reads them without a display.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace moatgate {

struct SiteRow {
    std::string text;       // "Protocol": the value's name, "Default" for "*"
    std::string subdomain;  // "Subdomain"
    std::string domain;     // "Trusted Website Domains"
    int icon = 0;           // picture index into ImageList11; 0: none
    int tag = 0;            // 9 on rows made for a domain key
    bool selected = false;

    const std::string& Column(int column) const { return column == 0 ? text : column == 1 ? subdomain : domain; }
};

class SiteList {
public:
    std::size_t Count() const { return rows_.size(); }
    // 1-based, as the list control counts.
    SiteRow& Item(std::size_t index) { return rows_[index - 1]; }
    const SiteRow& Item(std::size_t index) const { return rows_[index - 1]; }
    const std::vector<SiteRow>& Rows() const { return rows_; }
    // Adds a row at the end (sorting it in at once when the list is sorted).
    SiteRow& Add(SiteRow row);
    void Clear() { rows_.clear(); }

    bool Sorted() const { return sorted_; }
    int SortKey() const { return sortKey_; }
    int SortOrder() const { return sortOrder_; }
    // A sorted list sorts itself again whenever one of these changes.
    void SetSorted(bool sorted);
    void SetSortKey(int column);
    void SetSortOrder(int order);

    void SelectOnly(std::size_t index);  // 1-based; 0 selects nothing

private:
    void Sort();

    std::vector<SiteRow> rows_;
    bool sorted_ = false;
    int sortKey_ = 0;
    int sortOrder_ = 0;  // 0 ascending, 1 descending
};

// The 1-based index of the first selected row, or the number of rows plus 1.
std::size_t FirstSelectedRow(const SiteList& list);

}  // namespace moatgate

// The rows of the site list and the list's sort and selection state, kept apart
// from any window so that the zone store fills and reads them without a display.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace moatgate {

// The list's columns by their 0-based position, which is also the list's sort key.
enum class SiteColumn : int { Protocol = 0, Subdomain = 1, Domain = 2 };
inline constexpr int kSiteColumnCount = 3;
enum class SortOrder : int { Ascending = 0, Descending = 1 };

// The tag of a row the fill made for a domain key.
inline constexpr int kDomainRowTag = 9;

struct SiteRow {
    std::string text;       // "Protocol": the value's name, "Default" for "*"
    std::string subdomain;  // "Subdomain"
    std::string domain;     // "Trusted Website Domains"
    int icon = 0;           // picture index into ImageList11; 0: none
    int tag = 0;            // kDomainRowTag on rows made for a domain key
    bool selected = false;

    const std::string& Column(SiteColumn column) const {
        return column == SiteColumn::Protocol ? text : column == SiteColumn::Subdomain ? subdomain : domain;
    }
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
    // Room for `count` rows at once, so that adding them does not move the rows
    // already there.
    void Reserve(std::size_t count);

    bool Sorted() const { return sorted_; }
    SiteColumn SortKey() const { return sortKey_; }
    moatgate::SortOrder SortOrder() const { return sortOrder_; }
    // A sorted list sorts itself again whenever one of these changes.
    void SetSorted(bool sorted);
    void SetSortKey(SiteColumn column);
    void SetSortOrder(moatgate::SortOrder order);

    void SelectOnly(std::size_t index);  // 1-based; 0 selects nothing

private:
    void Sort();
    // Sorts a list already in order on the key, either way round; false, changing
    // nothing, for any other.
    bool SortInOnePass();

    std::vector<SiteRow> rows_;
    bool sorted_ = false;
    SiteColumn sortKey_ = SiteColumn::Protocol;
    moatgate::SortOrder sortOrder_ = SortOrder::Ascending;
};

// The order of the list's texts: ASCII letters regardless of case, any other
// byte (of UTF-8) by its value; negative, 0 or positive as for strcmp.
int CompareSiteText(const std::string& a, const std::string& b);

// The 1-based index of the first selected row, or the number of rows plus 1.
std::size_t FirstSelectedRow(const SiteList& list);

}  // namespace moatgate

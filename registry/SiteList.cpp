#include "registry/SiteList.h"

#include <algorithm>

namespace moatgate {

namespace {

// Case-insensitive order of column texts (UTF-8; letters outside ASCII compare
// by code point).
int CompareText(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

SiteRow& SiteList::Add(SiteRow row) {
    if (!sorted_) {
        rows_.push_back(std::move(row));
        return rows_.back();
    }
    const SiteColumn key = sortKey_;
    const bool descending = sortOrder_ == SortOrder::Descending;
    const auto at = std::upper_bound(rows_.begin(), rows_.end(), row, [&](const SiteRow& a, const SiteRow& b) {
        const int c = CompareText(a.Column(key), b.Column(key));
        return descending ? c > 0 : c < 0;
    });
    return *rows_.insert(at, std::move(row));
}

void SiteList::SetSorted(bool sorted) {
    sorted_ = sorted;
    if (sorted_) Sort();
}

void SiteList::SetSortKey(SiteColumn column) {
    sortKey_ = column;
    if (sorted_) Sort();
}

void SiteList::SetSortOrder(moatgate::SortOrder order) {
    sortOrder_ = order;
    if (sorted_) Sort();
}

void SiteList::Sort() {
    const SiteColumn key = sortKey_;
    const bool descending = sortOrder_ == SortOrder::Descending;
    std::stable_sort(rows_.begin(), rows_.end(), [&](const SiteRow& a, const SiteRow& b) {
        const int c = CompareText(a.Column(key), b.Column(key));
        return descending ? c > 0 : c < 0;
    });
}

void SiteList::SelectOnly(std::size_t index) {
    for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i].selected = i + 1 == index;
}

std::size_t FirstSelectedRow(const SiteList& list) {
    for (std::size_t i = 1; i <= list.Count(); ++i)
        if (list.Item(i).selected) return i;
    return list.Count() + 1;
}

}  // namespace moatgate

#include "registry/SiteList.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "registry/store/LargePages.h"

namespace moatgate {

int CompareSiteText(const std::string& a, const std::string& b) {
    // The same bytes are the same text: the rows of one domain, compared as a
    // list in order is checked.
    if (a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0) return 0;
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

namespace {

// Eight bytes of a text from `from` on, in CompareSiteText's order, as one number:
// texts whose numbers differ (and whose bytes before `from` are the same) compare
// as their numbers do.
std::uint64_t SortPrefix(const std::string& text, std::size_t from) {
    std::uint64_t prefix = 0;
    for (std::size_t i = from; i < from + 8; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        prefix = (prefix << 8) | c;
    }
    return prefix;
}

}  // namespace

void SiteList::Reserve(std::size_t count) {
    if (count <= rows_.capacity()) return;
    rows_.reserve(count);
    AdviseLargePages(rows_.data(), rows_.capacity() * sizeof(SiteRow));
}

SiteRow& SiteList::Add(SiteRow row) {
    if (!sorted_) {
        rows_.push_back(std::move(row));
        return rows_.back();
    }
    const SiteColumn key = sortKey_;
    const bool descending = sortOrder_ == SortOrder::Descending;
    const auto at = std::upper_bound(rows_.begin(), rows_.end(), row, [&](const SiteRow& a, const SiteRow& b) {
        const int c = CompareSiteText(a.Column(key), b.Column(key));
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

bool SiteList::SortInOnePass() {
    const SiteColumn key = sortKey_;
    bool rising = true, falling = true;  // no row before a smaller one, or before a larger one
    for (std::size_t i = 1; i < rows_.size() && (rising || falling); ++i) {
        const int c = CompareSiteText(rows_[i - 1].Column(key), rows_[i].Column(key));
        rising = rising && c <= 0;
        falling = falling && c >= 0;
    }
    if (!rising && !falling) return false;
    if (rising == (sortOrder_ == SortOrder::Ascending)) return true;
    // In the opposite order: turned round, after which each run of equal texts is
    // turned back, as a stable sort keeps them.
    std::reverse(rows_.begin(), rows_.end());
    for (std::size_t begin = 0, end = 1; begin < rows_.size(); begin = end++) {
        while (end < rows_.size() && CompareSiteText(rows_[begin].Column(key), rows_[end].Column(key)) == 0) ++end;
        std::reverse(rows_.begin() + static_cast<std::ptrdiff_t>(begin), rows_.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return true;
}

void SiteList::Sort() {
    // A fill leaves its rows in order on the domain column, and a list may be
    // sorted on the column already: either way round, such a list is put in order
    // in one pass.
    if (SortInOnePass()) return;
    const SiteColumn key = sortKey_;
    const bool descending = sortOrder_ == SortOrder::Descending;
    // Sorted as (first bytes, place) entries, the texts compared only where their
    // first 24 bytes are the same: a sort then stays within a small array instead
    // of visiting the rows' texts all over memory. Most domain names are whole in
    // their entries, so even the rows of one domain are told equal without them.
    constexpr std::size_t kWords = 3, kBytes = 8 * kWords;
    struct Entry {
        std::uint64_t words[kWords];  // bytes 0 to 23
        std::uint32_t row;
        std::uint32_t size;  // of the text, up to 25: beyond 24 the text itself decides
    };
    const auto n = static_cast<std::uint32_t>(rows_.size());
    // Fresh memory of some megabytes in a new process: in large pages it costs a
    // fault per 2 MB instead of one per 4 KB.
    LargeVector<Entry> order(n);
    constexpr std::uint32_t kAhead = 8;
    for (std::uint32_t i = 0; i < n; ++i) {
        // The texts are elsewhere in memory: asked for a few rows early.
        if (i + kAhead < n) __builtin_prefetch(rows_[i + kAhead].Column(key).data());
        const std::string& text = rows_[i].Column(key);
        Entry& entry = order[i];
        for (std::size_t w = 0; w < kWords; ++w) entry.words[w] = SortPrefix(text, 8 * w);
        entry.row = i;
        entry.size = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), kBytes + 1));
    }
    auto before = [&](const Entry& a, const Entry& b) {
        for (std::size_t w = 0; w < kWords; ++w)
            if (a.words[w] != b.words[w]) return descending ? a.words[w] > b.words[w] : a.words[w] < b.words[w];
        // Texts of at most 24 bytes are whole in their entries (the shorter padded
        // with zeros), so the length decides, as in CompareSiteText.
        if (a.size <= kBytes || b.size <= kBytes) return descending ? a.size > b.size : a.size < b.size;
        const int c = CompareSiteText(rows_[a.row].Column(key), rows_[b.row].Column(key));
        return descending ? c > 0 : c < 0;
    };
    // Runs of rows already in order are kept as they are: the runs are merged,
    // stably, and then each row is moved once (rows are large).
    std::vector<std::uint32_t> runs{0};
    for (std::uint32_t i = 1; i < n; ++i)
        if (before(order[i], order[i - 1])) runs.push_back(i);
    if (runs.size() == 1) return;
    runs.push_back(n);
    LargeVector<Entry> merged(n);
    while (runs.size() > 2) {
        std::vector<std::uint32_t> next{0};
        std::size_t k = 0;
        for (; k + 2 < runs.size(); k += 2) {
            std::merge(order.begin() + runs[k], order.begin() + runs[k + 1], order.begin() + runs[k + 1],
                       order.begin() + runs[k + 2], merged.begin() + runs[k], before);
            next.push_back(runs[k + 2]);
        }
        if (k + 1 < runs.size()) {
            std::copy(order.begin() + runs[k], order.begin() + runs[k + 1], merged.begin() + runs[k]);
            next.push_back(runs[k + 1]);
        }
        order.swap(merged);
        runs = std::move(next);
    }
    // The rows are put in their new order where they are, one cycle of the
    // permutation at a time, each moved once (a cycle's first twice): a second
    // list of rows would be fresh memory as large as the list, which a new
    // process pays for page by page. Where each place takes its row from is kept
    // compact, so that a cycle is followed a few rows ahead and those rows are
    // asked for early.
    LargeVector<Entry>().swap(merged);
    std::vector<std::uint32_t> source(n);
    for (std::uint32_t i = 0; i < n; ++i) source[i] = order[i].row;
    LargeVector<Entry>().swap(order);
    for (std::uint32_t start = 0; start < n; ++start) {
        if (source[start] == start) continue;
        std::uint32_t ahead = start;
        for (std::uint32_t k = 0; k < kAhead; ++k) ahead = source[ahead];
        SiteRow held = std::move(rows_[start]);
        for (std::uint32_t at = start;;) {
            // Ahead of a short cycle's end this lands on placed rows: only a hint.
            __builtin_prefetch(&rows_[ahead]);
            __builtin_prefetch(reinterpret_cast<const char*>(&rows_[ahead]) + sizeof(SiteRow) - 1);
            ahead = source[ahead];
            const std::uint32_t from = source[at];
            source[at] = at;  // placed
            if (from == start) {
                rows_[at] = std::move(held);
                break;
            }
            rows_[at] = std::move(rows_[from]);
            at = from;
        }
    }
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

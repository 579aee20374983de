// The sorted sequence a key keeps its subkeys or its values in. It costs one
// pointer while empty and stays cheap at any size: one item on its own, a vector
// while small, a list of chunks once large, so that an insertion moves at most one chunk's worth of
// items, a lookup is a binary search, and a walk by index costs O(1) per step.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <utility>
#include <vector>

namespace moatgate {

template <typename T, std::size_t kChunk>
class SortedList {
    static_assert(kChunk >= 4, "chunks hold at least four items");

public:
    using value_type = T;

    // By index: valid until the list changes.
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;

        const_iterator() = default;
        const_iterator(const SortedList* list, std::size_t index) : list_(list), index_(index) {}
        reference operator*() const { return (*list_)[index_]; }
        pointer operator->() const { return &(*list_)[index_]; }
        reference operator[](difference_type n) const { return (*list_)[Offset(n)]; }
        const_iterator& operator++() { return ++index_, *this; }
        const_iterator& operator--() { return --index_, *this; }
        const_iterator operator++(int) { return {list_, index_++}; }
        const_iterator operator--(int) { return {list_, index_--}; }
        const_iterator& operator+=(difference_type n) { return index_ = Offset(n), *this; }
        const_iterator& operator-=(difference_type n) { return index_ = Offset(-n), *this; }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.index_ == b.index_; }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.index_ <=> b.index_; }
        std::size_t Index() const { return index_; }

    private:
        std::size_t Offset(difference_type n) const {
            return static_cast<std::size_t>(static_cast<difference_type>(index_) + n);
        }
        const SortedList* list_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = const_iterator;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;

    SortedList() = default;
    ~SortedList() { Clear(); }
    SortedList(SortedList&& other) noexcept : rep_(std::exchange(other.rep_, 0)) {}
    SortedList& operator=(SortedList&& other) noexcept {
        if (this != &other) {
            Clear();
            rep_ = std::exchange(other.rep_, 0);
        }
        return *this;
    }
    SortedList(const SortedList&) = delete;
    SortedList& operator=(const SortedList&) = delete;

    std::size_t size() const {
        if (rep_ == 0) return 0;
        if (AsSingle()) return 1;
        if (Flat* f = AsFlat()) return f->size();
        return AsBig()->size;
    }
    bool empty() const { return rep_ == 0; }

    const T& operator[](std::size_t index) const { return At(index); }
    // The item at `index`, to change in a way that keeps its place in the order.
    T& Mutable(std::size_t index) {
        if (Big* b = AsBig()) b->lastsStale = true;
        return At(index);
    }
    const T& back() const { return (*this)[size() - 1]; }
    // Asks the processor for the list's own memory (a lone item: the item), for a
    // walk over many lists scattered in memory.
    void Prefetch() const {
        if (rep_) __builtin_prefetch(reinterpret_cast<const void*>(rep_ & ~kTags));
    }

    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }
    const_reverse_iterator rbegin() const { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const { return const_reverse_iterator(begin()); }

    // The index of the first item not less than `key` (size() if none).
    template <typename K, typename Less>
    std::size_t LowerBound(const K& key, const Less& less) const {
        if (T* one = AsSingle()) return less(*one, key) ? 1 : 0;
        if (Flat* f = AsFlat())
            return static_cast<std::size_t>(std::lower_bound(f->begin(), f->end(), key, less) - f->begin());
        Big* b = AsBig();
        if (!b) return 0;
        std::size_t c = 0;
        if constexpr (kKeepsLasts) {
            if (b->lastsStale) b->CopyLasts();
            c = static_cast<std::size_t>(
                std::partition_point(b->lasts.begin(), b->lasts.end(), [&](const T& last) { return less(last, key); }) -
                b->lasts.begin());
        } else {
            c = static_cast<std::size_t>(std::partition_point(b->chunks.begin(), b->chunks.end(),
                                                              [&](const std::vector<T>& k) { return less(k.back(), key); }) -
                                         b->chunks.begin());
        }
        if (c == b->chunks.size()) return b->size;
        const std::vector<T>& chunk = b->chunks[c];
        return b->firsts[c] +
               static_cast<std::size_t>(std::lower_bound(chunk.begin(), chunk.end(), key, less) - chunk.begin());
    }

    // Inserts before `index` (size(): at the end); the caller keeps the order.
    void Insert(std::size_t index, T value) {
        if (rep_ == 0) {
            rep_ = reinterpret_cast<std::uintptr_t>(new T(std::move(value))) | kSingle;
            return;
        }
        if (T* one = AsSingle()) {
            auto* f = new Flat;
            f->reserve(2);
            f->push_back(std::move(*one));
            f->insert(f->begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
            delete one;
            rep_ = reinterpret_cast<std::uintptr_t>(f);
            return;
        }
        if (Flat* f = AsFlat()) {
            if (f->size() < kChunk) {
                f->insert(f->begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
                return;
            }
            ToBig();
        }
        AsBig()->Insert(index, std::move(value));
    }
    void PushBack(T value) { Insert(size(), std::move(value)); }

    void Erase(std::size_t index) {
        if (AsSingle()) {
            Clear();
            return;
        }
        if (Flat* f = AsFlat()) {
            f->erase(f->begin() + static_cast<std::ptrdiff_t>(index));
            if (f->empty()) Clear();
            return;
        }
        Big* b = AsBig();
        b->Erase(index);
        if (b->size == 0) Clear();
    }

    // Takes items already in order.
    void Assign(std::vector<T>&& sorted) {
        Clear();
        if (sorted.empty()) return;
        if (sorted.size() == 1) {
            rep_ = reinterpret_cast<std::uintptr_t>(new T(std::move(sorted.front()))) | kSingle;
            sorted.clear();
            return;
        }
        if (sorted.size() <= kChunk) {
            auto* f = new Flat(std::move(sorted));
            f->shrink_to_fit();
            rep_ = reinterpret_cast<std::uintptr_t>(f);
            return;
        }
        auto* b = new Big;
        rep_ = reinterpret_cast<std::uintptr_t>(b) | kBig;
        for (std::size_t i = 0; i < sorted.size(); i += kChunk / 2) {
            const std::size_t n = std::min(kChunk / 2, sorted.size() - i);
            b->firsts.push_back(i);
            b->chunks.emplace_back(std::make_move_iterator(sorted.begin() + static_cast<std::ptrdiff_t>(i)),
                                   std::make_move_iterator(sorted.begin() + static_cast<std::ptrdiff_t>(i + n)));
        }
        b->size = sorted.size();
        b->CopyLasts();
        sorted.clear();
    }

    void Clear() {
        if (T* one = AsSingle()) delete one;
        if (Flat* f = AsFlat()) delete f;
        if (Big* b = AsBig()) delete b;
        rep_ = 0;
    }

private:
    // Items cheap to copy keep a copy of each chunk's last item side by side, so
    // that a search finds its chunk without reading every chunk it passes.
    static constexpr bool kKeepsLasts = std::is_trivially_copyable_v<T>;
    using Flat = std::vector<T>;
    struct Big {
        std::vector<std::vector<T>> chunks;  // none empty
        std::vector<std::size_t> firsts;     // the index of each chunk's first item
        std::vector<T> lasts;                // each chunk's last item, where kept
        bool lastsStale = false;             // an item was changed in place since
        std::size_t size = 0;
        std::size_t cursor = 0;              // the chunk last looked at

        void CopyLasts() {
            lastsStale = false;
            if constexpr (kKeepsLasts) {
                lasts.clear();
                lasts.reserve(chunks.size());
                for (const std::vector<T>& chunk : chunks) lasts.push_back(chunk.back());
            }
        }
        void CopyLast(std::size_t c) {
            if constexpr (kKeepsLasts) lasts[c] = chunks[c].back();
        }

        std::size_t Locate(std::size_t index) {
            const std::size_t c = cursor;
            if (c < chunks.size() && index >= firsts[c] && index - firsts[c] < chunks[c].size()) return c;
            // The next chunk, for a walk in order; else a binary search.
            if (c + 1 < chunks.size() && index >= firsts[c + 1] && index - firsts[c + 1] < chunks[c + 1].size())
                return cursor = c + 1;
            const auto it = std::upper_bound(firsts.begin(), firsts.end(), index);
            return cursor = static_cast<std::size_t>(it - firsts.begin()) - 1;
        }
        void Insert(std::size_t index, T value) {
            std::size_t c = index == size ? chunks.size() - 1 : Locate(index);
            if (index == size && chunks[c].size() >= kChunk) {
                // Appending in order fills chunks whole.
                chunks.emplace_back();
                chunks.back().reserve(kChunk);
                firsts.push_back(size);
                if constexpr (kKeepsLasts) lasts.push_back(value);
                ++c;
            }
            std::vector<T>& chunk = chunks[c];
            chunk.insert(chunk.begin() + static_cast<std::ptrdiff_t>(index - firsts[c]), std::move(value));
            CopyLast(c);
            ++size;
            for (std::size_t i = c + 1; i < firsts.size(); ++i) ++firsts[i];
            if (chunk.size() > kChunk) Split(c);
        }
        void Split(std::size_t c) {
            std::vector<T>& chunk = chunks[c];
            const std::size_t half = chunk.size() / 2;
            std::vector<T> upper(std::make_move_iterator(chunk.begin() + static_cast<std::ptrdiff_t>(half)),
                                 std::make_move_iterator(chunk.end()));
            chunk.erase(chunk.begin() + static_cast<std::ptrdiff_t>(half), chunk.end());
            const std::size_t first = firsts[c] + half;
            chunks.insert(chunks.begin() + static_cast<std::ptrdiff_t>(c + 1), std::move(upper));
            firsts.insert(firsts.begin() + static_cast<std::ptrdiff_t>(c + 1), first);
            if constexpr (kKeepsLasts) {
                lasts.insert(lasts.begin() + static_cast<std::ptrdiff_t>(c + 1), chunks[c + 1].back());
                CopyLast(c);
            }
        }
        void Erase(std::size_t index) {
            const std::size_t c = Locate(index);
            std::vector<T>& chunk = chunks[c];
            chunk.erase(chunk.begin() + static_cast<std::ptrdiff_t>(index - firsts[c]));
            --size;
            for (std::size_t i = c + 1; i < firsts.size(); ++i) --firsts[i];
            if (chunk.empty()) {
                chunks.erase(chunks.begin() + static_cast<std::ptrdiff_t>(c));
                firsts.erase(firsts.begin() + static_cast<std::ptrdiff_t>(c));
                if constexpr (kKeepsLasts) lasts.erase(lasts.begin() + static_cast<std::ptrdiff_t>(c));
                cursor = 0;
            } else {
                CopyLast(c);
            }
        }
    };

    T& At(std::size_t index) const {
        if (T* one = AsSingle()) return *one;
        if (Flat* f = AsFlat()) return (*f)[index];
        Big* b = AsBig();
        const std::size_t c = b->Locate(index);
        return b->chunks[c][index - b->firsts[c]];
    }

    static constexpr std::uintptr_t kBig = 1, kSingle = 2, kTags = 3;
    Flat* AsFlat() const { return (rep_ & kTags) ? nullptr : reinterpret_cast<Flat*>(rep_); }
    Big* AsBig() const { return (rep_ & kTags) == kBig ? reinterpret_cast<Big*>(rep_ & ~kTags) : nullptr; }
    T* AsSingle() const { return (rep_ & kTags) == kSingle ? reinterpret_cast<T*>(rep_ & ~kTags) : nullptr; }

    void ToBig() {
        Flat* f = AsFlat();
        auto* b = new Big;
        for (std::size_t i = 0; i < f->size(); i += kChunk / 2) {
            const std::size_t n = std::min(kChunk / 2, f->size() - i);
            b->firsts.push_back(i);
            b->chunks.emplace_back(std::make_move_iterator(f->begin() + static_cast<std::ptrdiff_t>(i)),
                                   std::make_move_iterator(f->begin() + static_cast<std::ptrdiff_t>(i + n)));
        }
        b->size = f->size();
        b->CopyLasts();
        delete f;
        rep_ = reinterpret_cast<std::uintptr_t>(b) | kBig;
    }

    // 0: empty; a vector's address; a Big's address tagged kBig; or, for a single
    // item, that item's own address tagged kSingle.
    std::uintptr_t rep_ = 0;
};

}  // namespace moatgate

// Memory that a large store fills at once (its file's text, its keys) may be
// backed by large pages: touched 4 KB at a time, a 20 MB store otherwise costs
// thousands of page faults, more than reading the file itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace moatgate {

namespace detail {

// The whole units of `unit` bytes inside [start, start + bytes), as a start and a
// length; the length is 0 when none fits.
inline std::size_t WholeUnits(void* start, std::size_t bytes, std::uintptr_t unit, void*& first) {
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t begin = (at + unit - 1) & ~(unit - 1);
    const std::uintptr_t end = (at + bytes) & ~(unit - 1);
    first = reinterpret_cast<void*>(begin);
    return end > begin ? end - begin : 0;
}

}  // namespace detail

// Asks for large pages over the part of [start, start + bytes) that whole large
// pages cover; a hint only, so nothing changes where the system cannot.
inline void AdviseLargePages(void* start, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    void* first = nullptr;
    if (const std::size_t length = detail::WholeUnits(start, bytes, std::uintptr_t{2} << 20, first))
        ::madvise(first, length, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

// Gives [start, start + bytes) its memory in one call, for a buffer about to be
// written whole: cheaper than a fault per page. A hint only, as above.
inline void PrefaultPages(void* start, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    void* first = nullptr;
    if (const std::size_t length = detail::WholeUnits(start, bytes, 4096, first))
        ::madvise(first, length, MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)bytes;
#endif
}

// For a program's start: the heap grows in large steps from here on, over large
// pages where the system has them. A store keeps a few small blocks for each of
// its keys (the lists of most keys' subkeys), and taken 4 KB at a time those
// cost more page faults than the rest of its load. A hint only.
inline void UseLargePagesForHeap() {
#if defined(__linux__) && defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kStep = std::size_t{64} << 20;
    ::mallopt(M_TOP_PAD, static_cast<int>(kStep));
    // Grow it once by the new step: blocks below the size that the heap maps on
    // their own, until its end moves. They are volatile, or a compiler that sees
    // them only freed may leave them out.
    auto* const before = static_cast<unsigned char*>(::sbrk(0));
    void* volatile taken[8] = {};
    int count = 0;
    auto* after = before;
    while (after == before && count < 8) {
        taken[count++] = ::malloc(std::size_t{100} << 10);
        after = static_cast<unsigned char*>(::sbrk(0));
    }
    while (count > 0) ::free(taken[--count]);
    if (after > before) AdviseLargePages(before, static_cast<std::size_t>(after - before));
#endif
}

// A block of memory that a large store fills as it grows. From one large page up it
// starts on a large page and takes whole ones, so that all of it can have them
// (an ordinary allocation of 4 MB covers only one whole large page); smaller
// blocks come from the heap as usual. Not cleared: the caller builds in it.
class LargeBlock {
public:
    static constexpr std::size_t kLargePage = std::size_t{2} << 20;

    LargeBlock() = default;
    explicit LargeBlock(std::size_t bytes)
        : size_(bytes >= kLargePage ? (bytes + kLargePage - 1) & ~(kLargePage - 1) : bytes),
          align_(bytes >= kLargePage ? kLargePage : __STDCPP_DEFAULT_NEW_ALIGNMENT__),
          memory_(static_cast<unsigned char*>(::operator new(size_, std::align_val_t{align_}))) {
        AdviseLargePages(memory_, size_);
    }
    LargeBlock(LargeBlock&& other) noexcept
        : size_(std::exchange(other.size_, 0)), align_(other.align_), memory_(std::exchange(other.memory_, nullptr)) {}
    LargeBlock& operator=(LargeBlock&& other) noexcept {
        if (this != &other) {
            Free();
            size_ = std::exchange(other.size_, 0);
            align_ = other.align_;
            memory_ = std::exchange(other.memory_, nullptr);
        }
        return *this;
    }
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;
    ~LargeBlock() { Free(); }

    unsigned char* get() const { return memory_; }
    // What may be used: at least what was asked for.
    std::size_t size() const { return size_; }

private:
    void Free() {
        if (memory_) ::operator delete(memory_, std::align_val_t{align_});
        memory_ = nullptr;
    }
    std::size_t size_ = 0;
    std::size_t align_ = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
    unsigned char* memory_ = nullptr;
};

// For a vector that a large store fills at once (one entry a key): from one large
// page up, its memory starts on a large page, as a LargeBlock's does.
template <typename T>
struct LargePageAllocator {
    using value_type = T;
    LargePageAllocator() = default;
    template <typename U>
    LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

    static std::size_t Bytes(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        return bytes >= LargeBlock::kLargePage ? (bytes + LargeBlock::kLargePage - 1) & ~(LargeBlock::kLargePage - 1)
                                               : bytes;
    }
    static std::align_val_t Align(std::size_t n) {
        return std::align_val_t{n * sizeof(T) >= LargeBlock::kLargePage ? LargeBlock::kLargePage : alignof(T)};
    }
    T* allocate(std::size_t n) {
        void* p = ::operator new(Bytes(n), Align(n));
        AdviseLargePages(p, Bytes(n));
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept { ::operator delete(p, Align(n)); }
    template <typename U>
    bool operator==(const LargePageAllocator<U>&) const noexcept { return true; }
};

template <typename T>
using LargeVector = std::vector<T, LargePageAllocator<T>>;

}  // namespace moatgate

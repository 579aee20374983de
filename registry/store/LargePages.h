// Memory that a large store fills at once (its file's text, its keys) may be
// backed by large pages: touched 4 KB at a time, a 20 MB store otherwise costs
// thousands of page faults, more than reading the file itself.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
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

}  // namespace moatgate

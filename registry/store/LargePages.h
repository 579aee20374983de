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

// Asks for large pages over the part of [start, start + bytes) that whole large
// pages cover; a hint only, so nothing changes where the system cannot.
inline void AdviseLargePages(void* start, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t begin = (at + kLarge - 1) & ~(kLarge - 1);
    const std::uintptr_t end = (at + bytes) & ~(kLarge - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

// Gives [start, start + bytes) its memory in one call, for a buffer about to be
// written whole: cheaper than a fault per page. A hint only, as above.
inline void PrefaultPages(void* start, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr std::uintptr_t kPage = 4096;
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t begin = (at + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t end = (at + bytes) & ~(kPage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)bytes;
#endif
}

}  // namespace moatgate

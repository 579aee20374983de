// Memory for what a large store fills at once: from one large page up it starts
// on a large page and takes whole ones, so that all of it can have them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "registry/store/LargePages.h"

namespace moatgate {
namespace {

constexpr std::size_t kPage = LargeBlock::kLargePage;

bool OnLargePage(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % kPage == 0; }

TEST(LargePages, BlocksFromOneLargePageUpTakeWholeAlignedPages) {
    const struct {
        std::size_t asked, usable;
    } rows[] = {{100, 100}, {kPage - 1, kPage - 1}, {kPage, kPage}, {kPage + 1, 2 * kPage}, {3 * kPage - 5, 3 * kPage}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.asked);
        LargeBlock block(row.asked);
        EXPECT_EQ(block.size(), row.usable);
        EXPECT_TRUE(row.asked < kPage || OnLargePage(block.get()));
        std::memset(block.get(), 0x5A, block.size());  // all of it is ours (the sanitizer checks)
        LargeBlock moved(std::move(block));
        EXPECT_EQ(block.get(), nullptr);  // NOLINT(bugprone-use-after-move): moved-from blocks are empty
        EXPECT_EQ(moved.get()[row.usable - 1], 0x5A);
    }
    LargeVector<std::uint32_t> large(kPage / sizeof(std::uint32_t) + 1, 7u);
    EXPECT_TRUE(OnLargePage(large.data()));
    LargeVector<std::uint32_t> small(10, 3u);
    small = std::move(large);  // freed with the alignment it was given (the sanitizer checks)
    EXPECT_EQ(small.back(), 7u);
}

}  // namespace
}  // namespace moatgate

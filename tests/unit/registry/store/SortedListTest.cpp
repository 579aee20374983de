// The sorted list a key keeps its subkeys and values in, against a sorted vector, in every shape: empty, one
// item, a vector, chunks.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <vector>

#include "registry/store/SortedList.h"

namespace moatgate {
namespace {

using List = SortedList<int, 8>;  // small chunks: every shape is reached quickly

void ExpectSame(const List& list, const std::vector<int>& model) {
    ASSERT_EQ(list.size(), model.size());
    EXPECT_TRUE(std::equal(list.begin(), list.end(), model.begin(), model.end()));
    // By index backwards, and jumping about.
    for (std::size_t i = model.size(); i-- > 0;) ASSERT_EQ(list[i], model[i]) << i;
    for (std::size_t i = 0; i < model.size(); i += 7) ASSERT_EQ(list[model.size() - 1 - i], model[model.size() - 1 - i]);
    for (int probe : {-1, 0, 17, 500, 999, 1001}) {
        const auto at = static_cast<std::size_t>(std::lower_bound(model.begin(), model.end(), probe) - model.begin());
        ASSERT_EQ(list.LowerBound(probe, std::less<>{}), at) << probe;
    }
}

// Grows past many chunks with items put anywhere, then shrinks to nothing.
TEST(SortedList, InsertionsAndRemovalsAnywhereKeepTheOrderInEveryShape) {
    std::mt19937 random(15);
    List list;
    std::vector<int> model;
    auto erase = [&](std::size_t gone) {
        list.Erase(gone);
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(gone));
    };
    for (int step = 0; step < 600; ++step) {
        const int value = static_cast<int>(random() % 1000);
        const auto at = static_cast<std::size_t>(std::lower_bound(model.begin(), model.end(), value) - model.begin());
        list.Insert(at, value);
        model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), value);
        if (step % 3 == 2) erase(random() % model.size());
        if (step % 50 == 0) ExpectSame(list, model);
    }
    while (!model.empty()) {
        erase(random() % model.size());
        if (model.size() % 40 == 0 || model.size() < 3) ExpectSame(list, model);
    }
}

TEST(SortedList, ItemsAddedInOrderTakenWholeOrMovedReadBackTheSame) {
    for (int n : {0, 1, 9, 100}) {
        std::vector<int> model(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) model[static_cast<std::size_t>(i)] = 3 * i;
        List appended, taken;
        for (int v : model) appended.PushBack(v);
        ExpectSame(appended, model);
        taken.Assign(std::vector<int>(model));
        List moved(std::move(taken));
        ExpectSame(moved, model);
        EXPECT_TRUE(taken.empty());  // NOLINT(bugprone-use-after-move): moved-from lists are empty
    }
    // An item changed in place (still between its neighbours) is found there, also as the last of its chunk.
    List list;
    for (int i = 0; i < 40; ++i) list.PushBack(i * 2);
    list.Mutable(11) = 23;
    EXPECT_EQ(list.LowerBound(23, std::less<>{}), 11u);
    EXPECT_EQ(list.back(), 78);
}

}  // namespace
}  // namespace moatgate

// A handle stays its key's through other keys' deletion and the store being read again; a closed handle stays
// closed when its slot serves another.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/store/FileStore.h"
#include "registry/store/HiveRegistry.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

std::string Dw(char v) { return std::string{v, 0, 0, 0}; }

TEST(Handles, AHandleStaysItsKeysWhateverHappensAroundIt) {
    MemoryStore reg;
    HKEY kept = Create(reg, "Software\\H\\kept");
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 50; ++i) reg.RegCloseKey(Create(reg, "Software\\H\\other" + std::to_string(i)));
        for (int i = 0; i < 50; ++i)
            ASSERT_EQ(reg.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\H\\other" + std::to_string(i)), 0);
    }
    ASSERT_EQ(SetDword(reg, kept, "x", 7), 0);
    HKEY again = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\H\\kept", &again), 0);
    EXPECT_EQ(Query(reg, again, "x"), Dw(7));
    reg.RegCloseKey(again);
    // A closed handle's number does not come to mean another key.
    std::vector<HKEY> closed, open;
    for (int i = 0; i < 20; ++i) closed.push_back(Create(reg, "Software\\H\\t" + std::to_string(i)));
    for (HKEY h : closed) reg.RegCloseKey(h);
    for (int i = 0; i < 20; ++i) open.push_back(Create(reg, "Software\\H\\u" + std::to_string(i)));
    for (HKEY h : closed) EXPECT_EQ(SetDword(reg, h, "y", 1), ERROR_INVALID_HANDLE);
    for (HKEY h : open) reg.RegCloseKey(h);
    EXPECT_EQ(reg.OpenHandleCount(), 1u);
}

TEST(Handles, AHandleFindsItsKeyInTheStoreAsAnotherProgramLeftIt) {
    TempDir dir;
    std::string error;
    auto mine = FileStore::Open(dir.file("user.reg"), error), other = FileStore::Open(dir.file("user.reg"), error);
    ASSERT_TRUE(mine && other) << error;
    HKEY k = Create(*mine, "Software\\Shared\\Key");
    ASSERT_EQ(SetDword(*mine, k, "v", 1), 0);
    HKEY o = Create(*other, "Software\\Shared\\Key");
    ASSERT_EQ(SetDword(*other, o, "v", 2), 0);
    // Keys before it in the tree, so that nothing stands where it stood.
    for (int i = 0; i < 10; ++i) other->RegCloseKey(Create(*other, "Software\\A" + std::to_string(i)));
    EXPECT_EQ(Query(*mine, k, "v"), Dw(2));
    ASSERT_EQ(SetDword(*mine, k, "w", 3), 0);
    EXPECT_EQ(Query(*other, o, "w"), Dw(3));
}

}  // namespace
}  // namespace moatgate

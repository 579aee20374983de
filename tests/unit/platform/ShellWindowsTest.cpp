// The shell's open windows, asked for real (under Wine in CI).
#include <gtest/gtest.h>

#include "platform/Browsers.h"

namespace moatgate {
namespace {

TEST(ShellWindows, AnsweringNeverFailsAndGivesOnlyRealAddresses) {
    const std::vector<std::string> first = ShellWindowAddresses();
    for (const std::string& address : first) EXPECT_FALSE(address.empty());
    EXPECT_EQ(ShellWindowAddresses().size(), first.size());  // and asking again is fine
}

}  // namespace
}  // namespace moatgate

// The guard against writing behind a running wine server: found whoever owns the prefix and wherever Wine keeps
// it; a link to a prefix's user.reg counts as that prefix.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "registry/store/StoreLocation.h"
#include "registry/store/WinePrefix.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

std::string ServerName(const std::string& prefix) {
    struct stat st {};
    ::stat(prefix.c_str(), &st);
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return name;
}

TEST(WinePrefix, TheServerIsLookedForUnderThePrefixOwnersUidAndInDebiansFolder) {
    TempDir tmp, home;
    const std::string prefix = home.file("prefix");
    std::filesystem::create_directory(prefix);
    // Root running the tool on a user's prefix: that user's server counts.
    unsigned owner = ::getuid();
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(prefix.c_str(), 4242, 4242), 0);
        owner = 4242;
    }
    const std::string own = tmp.file(".wine-" + std::to_string(owner) + "/" + ServerName(prefix));
    auto running = [&] { return WineServerRunning(prefix, tmp.path().string()); };
    std::filesystem::create_directories(own);
    std::optional<OtherProcessLock> server(own + "/lock");  // as a running server holds its lock file
    ASSERT_TRUE(server->Held());
    EXPECT_TRUE(running());
    server.reset();
    EXPECT_FALSE(running());  // the lock file stays, unlocked

    // Debian's Wine keeps it in a folder of its own, named in the prefix.
    WriteFile(prefix + "/wineserver", "wine-AbC123");
    std::filesystem::create_directories(tmp.file("wine-AbC123/" + ServerName(prefix)));
    OtherProcessLock debian(tmp.file("wine-AbC123/" + ServerName(prefix) + "/lock"));
    ASSERT_TRUE(debian.Held());
    EXPECT_TRUE(running());
}

TEST(WinePrefix, ALinkToAPrefixsUserRegIsGuardedAsThatPrefix) {
    TempDir dir;
    const std::filesystem::path prefix = dir.path() / "prefix", other = dir.path() / "elsewhere";
    std::filesystem::create_directories(prefix);
    std::filesystem::create_directories(other);
    for (const auto& file : {prefix / "system.reg", prefix / "user.reg"}) WriteFile(file, "");
    std::filesystem::create_symlink(prefix / "user.reg", other / "user.reg");
    const std::string real = std::filesystem::canonical(prefix).string(), link = (other / "user.reg").string();
    EXPECT_EQ(GuardedPrefixes({link, ""}), std::vector<std::string>{real});
    // Named as a prefix of its own (WINEPREFIX) and leading into another: both count.
    EXPECT_EQ(GuardedPrefixes({link, other.string()}), (std::vector<std::string>{other.string(), real}));
    EXPECT_TRUE(GuardedPrefixes({(other / "plain.reg").string(), ""}).empty());
}

}  // namespace
}  // namespace moatgate

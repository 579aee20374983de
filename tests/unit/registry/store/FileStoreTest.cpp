// The file store's promises: a seeded private new store, atomic durable writes,
// changes from other processes seen and never reverted, a bad file never written.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "registry/NewStore.h"
#include "registry/Registry.h"
#include "registry/SettingsKeys.h"
#include "registry/store/FileStore.h"
#include "registry/store/WineRegFormat.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

std::unique_ptr<FileStore> OpenStore(const std::string& path) {
    std::string error;
    auto store = FileStore::Open(path, error, nullptr, &SeedNewStore);
    EXPECT_TRUE(store) << error;
    return store;
}

void Put(RegistryApi& reg, const std::string& name, std::int64_t v) {
    WriteRegistryValue(reg, HKEY_CURRENT_USER, kZoneMapKey, name, v, 4);
}

std::string Get(RegistryApi& reg, const std::string& name) {
    return ReadRegistryValueText(reg, HKEY_CURRENT_USER, kZoneMapKey, name);
}

std::vector<std::string> FilesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Another process that opens the store and works on it.
pid_t StartWriter(const std::string& path, const std::function<void(FileStore&)>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::string error;
        auto store = FileStore::Open(path, error, nullptr, &SeedNewStore);
        if (!store) ::_exit(2);
        work(*store);
        ::_exit(0);
    }
    return pid;
}

bool EndedWell(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Parses(const std::string& text) {
    Hive hive;
    FileLayout layout;
    ParseError error;
    return LoadRegistryText(text, hive, layout, error);
}

TEST(FileStore, NewStoreIsSeededPrivateAndWineReadable) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("WINE REGISTRY Version 2\n", 0), 0u);
    EXPECT_EQ(text.find("#arch"), std::string::npos);

    RegistryApi& reg = *store;
    HKEY k = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kZoneMapKey), &k), 0);
    EXPECT_TRUE(SubkeyNames(reg, k).empty());
    reg.RegCloseKey(k);
    for (const char* protocol : {"http", "https", "ftp", "file"})
        EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, kProtocolDefaultsKey, protocol), "3");
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, kProtocolDefaultsKey, "@ivt"), "1");
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, kInternetZoneKey, "1400"), "0");
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, kInternetZoneKey, "1A00"), "131072");
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, kInternetZoneKey, "1E05"), "65536");
    DWORD type = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k), 0);
    EXPECT_EQ(Query(reg, k, "1C00", &type), std::string("\0\0\1\0", 4));
    EXPECT_EQ(type, REG_BINARY);
    reg.RegCloseKey(k);
    const std::string button = std::string(kBrowserExtensionsKey) + "\\" + std::string(kToolbarButtonId);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, button, "CLSID"), kToolbarButtonClsid);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, button, "ButtonText"), "Moatgate");
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, button, "Default Visible"), "Yes");
}

TEST(FileStore, WritesKeepPermissionsAndLeaveNoTemporaryFiles) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    Put(*store, "*", 2);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});
    EXPECT_EQ(Get(*OpenStore(path), "*"), "2");  // on disk, not only in memory
}

TEST(FileStore, ChangesByAnotherWriterAreSeenAndNeverReverted) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto first = OpenStore(path);
    auto second = OpenStore(path);
    Put(*first, "a", 1);
    EXPECT_EQ(Get(*second, "a"), "1");
    Put(*second, "b", 2);
    Put(*first, "c", 3);  // must not drop the second writer's "b"
    auto third = OpenStore(path);
    EXPECT_EQ(Get(*third, "a"), "1");
    EXPECT_EQ(Get(*third, "b"), "2");
    EXPECT_EQ(Get(*third, "c"), "3");

    // So is a change made by another process.
    ASSERT_TRUE(EndedWell(StartWriter(path, [](FileStore& child) { Put(child, "fromChild", 5); })));
    EXPECT_EQ(Get(*first, "fromChild"), "5");

    // An editor that rewrites the file in place is noticed too.
    std::string text = ReadFile(path);
    const std::size_t at = text.find("\"a\"=dword:00000001");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 18, "\"a\"=dword:00000004");
    WriteFile(path, text);
    EXPECT_EQ(Get(*first, "a"), "4");
}

TEST(FileStore, AFileThatDoesNotParseIsNeverWritten) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    const std::string bad = "WINE REGISTRY Version 2\n\n[Software\\\\X] 1796554876\n\"ok\"=dword:1\n\"bad\"=DWORD:4\n";
    WriteFile(path, bad);
    std::string error;
    EXPECT_FALSE(FileStore::Open(path, error, nullptr, &SeedNewStore));
    EXPECT_EQ(error, path + ":5: Malformed value '\"bad\"=DWORD:4'");

    // Opened while good, then damaged by someone else: reads and writes fail.
    WriteFile(path, "WINE REGISTRY Version 2\n");
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    WriteFile(path, bad);
    HKEY k = Create(*store, "Software\\Y");
    EXPECT_EQ(k, 0u);
    EXPECT_EQ(store->RegOpenKeyA(HKEY_CURRENT_USER, "Software\\X", &k), ERROR_REGISTRY_CORRUPT);
    WriteRegistryValue(*store, HKEY_CURRENT_USER, "Software\\X", "ok", std::int64_t{2}, 4);
    EXPECT_NE(store->LastErrorText().find(":5: Malformed value"), std::string::npos);
    EXPECT_EQ(ReadFile(path), bad);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});
}

TEST(FileStore, AGuardThatSaysNoStopsEveryWriteButNoRead) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    std::string busy;
    auto guard = [&busy] { return busy; };
    std::string error;
    busy = "prefix in use";
    EXPECT_FALSE(FileStore::Open(path, error, guard, &SeedNewStore));  // not even a new store is created
    EXPECT_EQ(error, "prefix in use");
    EXPECT_FALSE(std::filesystem::exists(path));

    busy.clear();
    auto store = FileStore::Open(path, error, guard, &SeedNewStore);
    ASSERT_TRUE(store) << error;
    const std::string before = ReadFile(path);
    busy = "prefix in use";
    HKEY k = 0;
    EXPECT_EQ(store->RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, "", 0, 0x3F, nullptr, &k, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(store->LastErrorText(), "prefix in use");
    Put(*store, "x", 1);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(ReadRegistryValueText(*store, HKEY_CURRENT_USER, kProtocolDefaultsKey, "http"), "3");
    busy.clear();
    Put(*store, "x", 1);
    EXPECT_EQ(Get(*OpenStore(path), "x"), "1");
}

TEST(FileStore, AWriteScopeCommitsOnceOrNotAtAll) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    const std::string before = ReadFile(path);
    {
        StoreScope scope(*store, true);
        Put(*store, "x", 1);
        Put(*store, "y", 2);
        EXPECT_EQ(ReadFile(path), before);  // nothing is written until the scope ends
        EXPECT_EQ(Get(*store, "x"), "1");
        ASSERT_EQ(scope.End(), 0);
    }
    EXPECT_EQ(Get(*OpenStore(path), "y"), "2");

    const std::string committed = ReadFile(path);
    {
        StoreScope scope(*store, true);
        Put(*store, "z", 3);
        scope.End(false);
    }
    EXPECT_EQ(ReadFile(path), committed);
    EXPECT_EQ(Get(*store, "z"), "");
}

TEST(FileStore, AWriteScopeInsideAReadScopeIsAChangeOfItsOwn) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    StoreScope reading(*store, false);  // a long read, such as a fill, is under way
    const std::string before = ReadFile(path);
    {
        StoreScope writing(*store, true);
        Put(*store, "x", 1);
        Put(*store, "y", 2);
        EXPECT_EQ(ReadFile(path), before);  // one change, stored when its own scope ends
        ASSERT_EQ(writing.End(), 0);
    }
    EXPECT_EQ(Get(*OpenStore(path), "y"), "2");

    // A write the store refuses leaves the reads of the open scope on what is stored.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const std::string stored = ReadFile(path);
    {
        StoreScope writing(*store, true);
        Put(*store, "x", 7);
        EXPECT_EQ(writing.End(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(Get(*store, "x"), "1");
    EXPECT_EQ(ReadFile(path), stored);
}

TEST(FileStore, ARefusedWriteIsToldOnceWithTheFileAndWhatToDo) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    EXPECT_EQ(store->TakeRefusedWrite(), "");
    // Its owner made it read-only: refused, also for root, whom permissions let by.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const std::string before = ReadFile(path);
    Put(*store, "x", 1);
    Put(*store, "y", 2);
    const std::string told = store->TakeRefusedWrite();
    EXPECT_NE(told.find(path), std::string::npos) << told;
    EXPECT_NE(told.find("read-only"), std::string::npos) << told;
    EXPECT_NE(told.find("chmod u+w"), std::string::npos) << told;
    EXPECT_EQ(store->TakeRefusedWrite(), "");  // told once
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(Get(*store, "x"), "");

    // Reads are no refusals, and neither are the registry's own answers.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    WriteRegistryValue(*store, HKEY_CURRENT_USER, "Software\\Missing", "x", std::int64_t{1}, REG_DWORD);
    EXPECT_EQ(store->RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(store->TakeRefusedWrite(), "");

    // A file damaged by another program since: the line, and what to do about it.
    WriteFile(path, "WINE REGISTRY Version 2\n\n[Software\\\\X] 1796554876\n\"bad\"=DWORD:4\n");
    Put(*store, "x", 1);
    const std::string damaged = store->TakeRefusedWrite();
    EXPECT_NE(damaged.find(path + ":4:"), std::string::npos) << damaged;
    EXPECT_NE(damaged.find("Mend that line"), std::string::npos) << damaged;
}

TEST(FileStore, TwoProcessesWritingAtOnceBothLand) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    OpenStore(path);
    constexpr int kWrites = 60;
    std::vector<pid_t> children;
    for (const std::string prefix : {"p", "q"})
        children.push_back(StartWriter(path, [&](FileStore& store) {
            for (int i = 0; i < kWrites; ++i) Put(store, prefix + std::to_string(i), i);
        }));
    for (pid_t pid : children) ASSERT_TRUE(EndedWell(pid));
    auto store = OpenStore(path);
    for (int i = 0; i < kWrites; ++i) {
        EXPECT_EQ(Get(*store, "p" + std::to_string(i)), std::to_string(i));
        EXPECT_EQ(Get(*store, "q" + std::to_string(i)), std::to_string(i));
    }
}

TEST(FileStore, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    {
        auto store = OpenStore(path);
        Put(*store, "counter", 0);
    }
    std::mt19937 random(12345);
    std::uint64_t lastSeen = 0;
    for (int round = 0; round < 25; ++round) {
        // The writer says when its first write is stored, so that a busy machine
        // cannot make every round end before anything was written.
        int started[2];
        ASSERT_EQ(::pipe(started), 0);
        const pid_t pid = StartWriter(path, [&started](FileStore& store) {
            Put(store, "counter", std::stoll(Get(store, "counter")) + 1);
            (void)!::write(started[1], "!", 1);
            for (;;) Put(store, "counter", std::stoll(Get(store, "counter")) + 1);
        });
        ASSERT_GE(pid, 0);
        char signal = 0;
        ASSERT_EQ(::read(started[0], &signal, 1), 1);
        ::close(started[0]);
        ::close(started[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        const std::string text = ReadFile(path);
        ASSERT_TRUE(Parses(text)) << "round " << round;
        auto store = OpenStore(path);
        ASSERT_TRUE(store);
        const std::string value = Get(*store, "counter");
        ASSERT_FALSE(value.empty());
        const std::uint64_t seen = std::stoull(value);
        EXPECT_GE(seen, lastSeen);  // a later file never loses earlier increments
        lastSeen = seen;
    }
    EXPECT_GT(lastSeen, 0u);
    // The lock died with its holder: a new writer gets through at once, and
    // clears away what killed writers left half written.
    WriteFile(dir.file(".user.reg.AbCd12"), "half");
    auto store = OpenStore(path);
    Put(*store, "after", 1);
    EXPECT_EQ(Get(*OpenStore(path), "after"), "1");
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});
}

}  // namespace
}  // namespace moatgate

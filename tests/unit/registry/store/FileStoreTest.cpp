// The file store's promises: a seeded private new store, atomic durable writes,
// changes from other processes seen and never reverted, a bad file never written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
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

// A store file removed after it was opened (by the user, to start afresh) is made
// again by the next write, as a new store is, and that write goes into it.
TEST(FileStore, AStoreRemovedAfterItWasOpenedIsMadeAgainByTheNextWrite) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    Put(*store, "old", 1);
    std::filesystem::remove(path);
    HKEY k = Create(*store, std::string(kZoneMapKey));
    ASSERT_NE(k, 0u) << store->TakeRefusedWrite();
    EXPECT_EQ(SetDword(*store, k, "new", 2), 0);
    store->RegCloseKey(k);
    auto again = OpenStore(path);
    EXPECT_EQ(Get(*again, "new"), "2");
    EXPECT_EQ(Get(*again, "old"), "");
    EXPECT_EQ(ReadRegistryValueText(*again, HKEY_CURRENT_USER, kProtocolDefaultsKey, "http"), "3");  // seeded
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});
}

// A program started without standard input (as at login) gets descriptor 0 for
// the first file it opens: the store closes that one as any other, so no file and
// no lock on the store's folder stays held.
TEST(FileStore, DescriptorZeroIsClosedAsAnyOther) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(0);
        std::string error;
        auto store = FileStore::Open(path, error, nullptr, &SeedNewStore);  // the folder is opened first
        if (!store) ::_exit(2);
        if (::fcntl(0, F_GETFD) != -1) ::_exit(3);
        Put(*store, "x", 1);
        if (!store->TakeRefusedWrite().empty()) ::_exit(4);
        ::_exit(::fcntl(0, F_GETFD) == -1 ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Get(*OpenStore(path), "x"), "1");
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

TEST(FileStore, AFileWineRejectsWholeIsNeitherReadNorWritten) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    const std::string bad = "\xef\xbb\xbfWINE REGISTRY Version 2\n[Software\\\\X]\n";
    WriteFile(path, bad);
    std::string error;
    EXPECT_FALSE(FileStore::Open(path, error, nullptr, &SeedNewStore));
    EXPECT_EQ(error, path + ":1: not a valid registry file");

    // Opened while good, then damaged by someone else: reads and writes fail.
    WriteFile(path, "WINE REGISTRY Version 2\n");
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    WriteFile(path, bad);
    HKEY k = 0;
    EXPECT_EQ(store->RegOpenKeyA(HKEY_CURRENT_USER, "Software", &k), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(Create(*store, "Software\\Y"), 0u);
    EXPECT_EQ(ReadFile(path), bad);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});
}

// A file with a line that could not be taken as written is read as far as it can
// be (the window and query work on it), but no write is made: the refusal names
// the file and the line, and says what to do.
TEST(FileStore, AFileReadInPartIsShownButNeverWritten) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    const std::string bad = "WINE REGISTRY Version 2\n\n[Software\\\\X] 1796554876\n\"ok\"=dword:1\n\"bad\"=dword:zzzz\n";
    WriteFile(path, bad);
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    const std::string where = path + ":5: Malformed value: not a hexadecimal number '\"bad\"=dword:zzzz'";
    EXPECT_EQ(store->UnwritableReason(), where);
    EXPECT_EQ(ReadRegistryValueText(*store, HKEY_CURRENT_USER, "Software\\X", "ok"), "1");
    EXPECT_EQ(ReadRegistryValueText(*store, HKEY_CURRENT_USER, "Software\\X", "bad"), "");

    EXPECT_EQ(Create(*store, "Software\\Y"), 0u);
    const std::string refused = store->TakeRefusedWrite();
    EXPECT_NE(refused.find(where), std::string::npos) << refused;
    EXPECT_NE(refused.find("Mend that line"), std::string::npos) << refused;
    auto setOk = [&](std::int64_t v) { WriteRegistryValue(*store, HKEY_CURRENT_USER, "Software\\X", "ok", v, 4); };
    setOk(2);
    EXPECT_EQ(store->LastErrorText(), where);
    EXPECT_NE(store->TakeRefusedWrite(), "");
    EXPECT_EQ(ReadFile(path), bad);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});

    // Mended by someone else: written again. Damaged again: refused again.
    std::string mended = bad;
    mended.replace(mended.find("zzzz"), 4, "3");
    WriteFile(path, mended);
    setOk(2);
    EXPECT_EQ(store->TakeRefusedWrite(), "");
    EXPECT_EQ(store->UnwritableReason(), "");
    EXPECT_EQ(ReadRegistryValueText(*OpenStore(path), HKEY_CURRENT_USER, "Software\\X", "ok"), "2");
    WriteFile(path, ReadFile(path) + "\"tail\"=\"t\" junk\n");
    setOk(4);
    EXPECT_NE(store->TakeRefusedWrite().find("text after the data"), std::string::npos);
    EXPECT_EQ(ReadRegistryValueText(*store, HKEY_CURRENT_USER, "Software\\X", "ok"), "2");
}

// Keys beyond the platform's limits are read, so that they can be mended; the
// file is then not written. Nothing recurses over the depth.
TEST(FileStore, AStoreHoldingAKeyTooDeepIsReadButNotWritten) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += i ? "\\\\k" : "k";
    WriteFile(path, "WINE REGISTRY Version 2\n\n[" + deep + "] 1796554876\n\"v\"=dword:00000007\n");
    {
        auto store = OpenStore(path);
        ASSERT_TRUE(store);
        std::string path600;
        for (int i = 0; i < 600; ++i) path600 += i ? "\\k" : "k";
        HKEY k = 0;
        ASSERT_EQ(store->RegOpenKeyA(HKEY_CURRENT_USER, path600, &k), 0);
        EXPECT_EQ(SubkeyNames(*store, k), std::vector<std::string>{"k"});
        EXPECT_EQ(Create(*store, "Other"), 0u);
        EXPECT_NE(store->TakeRefusedWrite().find(":3: Key path deeper than 512 levels"), std::string::npos);
        store->RegCloseKey(k);
    }  // and the deep hive is freed
}

TEST(FileStore, WhatIsNoFileIsRefusedWithoutWaiting) {
    TempDir dir;
    std::string error;
    const std::string fifo = dir.file("fifo.reg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(FileStore::Open(fifo, error, nullptr, &SeedNewStore));  // never waits for a writer
    EXPECT_NE(error.find("is a named pipe, and the store must be a regular file"), std::string::npos) << error;

    const std::string folder = dir.file("folder.reg");
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(FileStore::Open(folder, error, nullptr, &SeedNewStore));
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;

    // A link that points nowhere is said to be one; nothing is made in its place.
    const std::string link = dir.file("link.reg");
    std::filesystem::create_symlink(dir.file("gone/user.reg"), link);
    EXPECT_FALSE(FileStore::Open(link, error, nullptr, &SeedNewStore));
    EXPECT_EQ(error, "cannot read " + link + ": it is a symbolic link to " + dir.file("gone/user.reg") +
                         ", which does not exist. Restore what it points to, or remove the link to start a new store.");
    EXPECT_FALSE(std::filesystem::exists(dir.file("gone")));

    // Replaced by a pipe after it was opened: refused too.
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(Get(*store, "x"), "");
    HKEY k = 0;
    EXPECT_EQ(store->RegOpenKeyA(HKEY_CURRENT_USER, "Software", &k), ERROR_ACCESS_DENIED);  // as a write is refused
    Put(*store, "x", 1);
    const std::string refused = store->TakeRefusedWrite();
    EXPECT_NE(refused.find("is a named pipe, and the store must be a regular file"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("disk has room"), std::string::npos) << refused;  // no advice that does not fit
}

// A lock held by another program: a write waits a bounded time, then is refused
// with a message that says the store is in use.
TEST(FileStore, ALockHeldElsewhereIsWaitedForABoundedTime) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    store->SetLockWait(std::chrono::milliseconds(300));
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const std::string before = ReadFile(path);
    const auto start = std::chrono::steady_clock::now();
    Put(*store, "x", 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    const std::string refused = store->TakeRefusedWrite();
    EXPECT_NE(refused.find(path + " is in use by another program"), std::string::npos) << refused;
    EXPECT_EQ(ReadFile(path), before);
    ::close(other);
    Put(*store, "x", 1);
    EXPECT_EQ(store->TakeRefusedWrite(), "");
    EXPECT_EQ(Get(*OpenStore(path), "x"), "1");
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

// Whoever asks, a file its owner made read-only is not replaced: root, whom the
// system lets write anything, and the owner alike. A file the caller may not write
// (another user's) is refused as well, though the folder would allow the rename.
TEST(FileStore, AReadOnlyStoreIsRefusedForEveryUser) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    struct Case {
        const char* who;
        bool systemLetsWrite;  // what access(W_OK) answers that user
        mode_t mode;
        const char* told;  // empty: the write goes through
    };
    const Case cases[] = {
        {"root", true, 0444, "is read-only"},
        {"the owner", false, 0444, "is read-only"},
        {"another user", false, 0644, "is not writable for you"},
        {"the owner of a writable file", true, 0644, ""},
    };
    std::int64_t next = 1;
    for (const Case& c : cases) {
        FileStore::WriteCalls calls;
        calls.access = [&c](const char* asked, int mode) {
            if (!(mode & W_OK) || c.systemLetsWrite) return ::access(asked, mode & ~W_OK);
            errno = EACCES;
            return -1;
        };
        store->SetWriteCalls(calls);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        const std::string before = ReadFile(path);
        HKEY k = Create(*store, std::string(kZoneMapKey));
        const LONG status = SetDword(*store, k, "x", static_cast<std::uint32_t>(next));
        store->RegCloseKey(k);
        const std::string refused = store->TakeRefusedWrite();
        if (*c.told) {
            EXPECT_EQ(status, ERROR_ACCESS_DENIED) << c.who;
            EXPECT_NE(refused.find(path + " " + c.told), std::string::npos) << c.who << ": " << refused;
            EXPECT_EQ(ReadFile(path), before) << c.who;
            EXPECT_NE(Get(*store, "x"), std::to_string(next)) << c.who;
        } else {
            EXPECT_EQ(status, 0) << refused;
            EXPECT_EQ(Get(*OpenStore(path), "x"), std::to_string(next));
        }
        EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"}) << c.who;
        ++next;
    }
}

// The path an open descriptor names.
std::string PathOf(int fd) {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
}

// A crash at any moment leaves the old file or the new one whole: the new file is
// on the disk before it takes the old one's place, and the folder's entry after.
TEST(FileStore, TheNewFileIsFlushedBeforeItReplacesTheOldOne) {
    TempDir dir;
    const std::string folder = std::filesystem::canonical(dir.path()).string();
    const std::string path = folder + "/user.reg";
    auto store = OpenStore(path);
    std::vector<std::string> calls;
    FileStore::WriteCalls recorded;
    recorded.fsync = [&calls](int fd) {
        calls.push_back("fsync " + PathOf(fd));
        return ::fsync(fd);
    };
    recorded.rename = [&calls](const char* from, const char* to) {
        calls.push_back("rename " + std::string(from) + " " + to);
        return ::rename(from, to);
    };
    store->SetWriteCalls(recorded);
    Put(*store, "x", 1);
    ASSERT_EQ(calls.size(), 3u) << ::testing::PrintToString(calls);
    const std::string temp = calls[1].substr(7, calls[1].find(' ', 7) - 7);
    EXPECT_EQ(temp.rfind(folder + "/.user.reg.", 0), 0u) << temp;
    EXPECT_EQ(calls, (std::vector<std::string>{"fsync " + temp, "rename " + temp + " " + path, "fsync " + folder}));
    EXPECT_EQ(Get(*OpenStore(path), "x"), "1");
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});
}

// A disk that fills up shows when the new file is flushed (or when it is moved into
// place): every registry call whose change was not stored says so, the old file
// stays as it was and no half-written file is left behind.
TEST(FileStore, ASaveThatFailsOnAFullDiskFailsTheCall) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    auto store = OpenStore(path);
    HKEY k = Create(*store, "Software\\Full");
    ASSERT_NE(k, 0u);
    ASSERT_EQ(SetDword(*store, k, "old", 1), 0);
    store->RegCloseKey(Create(*store, "Software\\Full\\Empty"));
    const std::string before = ReadFile(path);
    for (const char* failing : {"fsync", "rename"}) {
        FileStore::WriteCalls full;
        if (std::string(failing) == "fsync")
            full.fsync = [](int) {
                errno = ENOSPC;
                return -1;
            };
        else
            full.rename = [](const char*, const char*) {
                errno = ENOSPC;
                return -1;
            };
        store->SetWriteCalls(full);
        EXPECT_EQ(SetDword(*store, k, "x", 1), ERROR_REGISTRY_IO_FAILED) << failing;
        EXPECT_EQ(SetDword(*store, k, "old", 2), ERROR_REGISTRY_IO_FAILED) << failing;
        EXPECT_EQ(store->RegDeleteValueA(k, "old"), ERROR_REGISTRY_IO_FAILED) << failing;
        HKEY sub = 123;
        EXPECT_EQ(store->RegCreateKeyExA(k, "Sub", 0, "", 0, 0x3F, nullptr, &sub, nullptr), ERROR_REGISTRY_IO_FAILED)
            << failing;
        EXPECT_EQ(sub, 0u);
        EXPECT_EQ(store->RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Full\\Empty"), ERROR_REGISTRY_IO_FAILED)
            << failing;
        {
            StoreScope scope(*store, true);
            SetDword(*store, k, "y", 1);
            EXPECT_EQ(scope.End(), ERROR_REGISTRY_IO_FAILED) << failing;
        }
        const std::string refused = store->TakeRefusedWrite();
        EXPECT_NE(refused.find(std::string("cannot write ") + path + ": " + failing + ": No space left on device"),
                  std::string::npos)
            << refused;
        EXPECT_NE(refused.find("Check that the disk has room"), std::string::npos) << refused;
        EXPECT_EQ(ReadFile(path), before) << failing;
        EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"}) << failing;
        // What could not be stored is not shown as stored either.
        EXPECT_EQ(Query(*store, k, "x"), "<status 2>") << failing;
        EXPECT_EQ(Query(*store, k, "old"), std::string("\1\0\0\0", 4)) << failing;
    }
    store->SetWriteCalls({});
    EXPECT_EQ(SetDword(*store, k, "x", 1), 0);
    store->RegCloseKey(k);
}

// The same, with the file-size limit a shell or a service may set: the write is cut
// short (the signal it raises ignored, as a program that handles its errors does).
TEST(FileStore, ASaveCutShortByTheFileSizeLimitFailsTheCall) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    OpenStore(path);
    const std::string before = ReadFile(path);
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        std::string error;
        auto store = FileStore::Open(path, error, nullptr, &SeedNewStore);
        if (!store) ::_exit(2);
        HKEY k = Create(*store, std::string(kZoneMapKey));  // exists: nothing to write
        const rlim_t limit = before.size() + 100;
        const struct rlimit small {limit, limit};
        if (k == 0 || ::setrlimit(RLIMIT_FSIZE, &small) != 0) ::_exit(3);
        LONG status[2] = {SetBytes(*store, k, "big", REG_BINARY, std::string(4096, 'x')), 0};
        {
            StoreScope scope(*store, true);
            SetBytes(*store, k, "big", REG_BINARY, std::string(4096, 'y'));
            status[1] = scope.End();
        }
        const bool told = store->TakeRefusedWrite().find("File too large") != std::string::npos;
        if (::write(result[1], status, sizeof status) != sizeof status || !told) ::_exit(4);
        ::_exit(0);
    }
    ::close(result[1]);
    LONG status[2] = {-1, -1};
    const bool got = ::read(result[0], status, sizeof status) == sizeof status;
    ::close(result[0]);
    ASSERT_TRUE(EndedWell(pid));
    ASSERT_TRUE(got);
    EXPECT_EQ(status[0], ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(status[1], ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});
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

// Writers started at once on a store that does not exist yet: one creates it,
// and every write of every writer lands.
TEST(FileStore, WritersRacingToCreateTheStoreAllSucceed) {
    TempDir dir;
    const std::string path = dir.file("user.reg");
    constexpr int kWriters = 8, kRounds = 12;
    for (int round = 0; round < kRounds; ++round) {
        std::filesystem::remove(path);
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        std::vector<pid_t> children;
        for (int w = 0; w < kWriters; ++w) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                char go = 0;
                ::close(gate[1]);
                if (::read(gate[0], &go, 1) < 0) ::_exit(3);
                for (int i = 0; i < 4; ++i) {
                    std::string error;
                    auto store = FileStore::Open(path, error, nullptr, &SeedNewStore);
                    if (!store) ::_exit(2);
                    Put(*store, "w" + std::to_string(w) + "." + std::to_string(i), i);
                    if (!store->TakeRefusedWrite().empty()) ::_exit(1);
                }
                ::_exit(0);
            }
            children.push_back(pid);
        }
        ::close(gate[0]);
        ::close(gate[1]);  // all start at once
        for (pid_t pid : children) ASSERT_TRUE(EndedWell(pid)) << "round " << round;
        auto store = OpenStore(path);
        for (int w = 0; w < kWriters; ++w)
            for (int i = 0; i < 4; ++i) ASSERT_EQ(Get(*store, "w" + std::to_string(w) + "." + std::to_string(i)), std::to_string(i));
        EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"user.reg"});
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

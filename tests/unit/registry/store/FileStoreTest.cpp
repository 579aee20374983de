// The file store: a seeded private new store, atomic durable writes, other processes' changes seen and never
// reverted, a bad file never written, and every refusal told with the file and what to do.
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
#include <tuple>

#include "registry/NewStore.h"
#include "registry/Registry.h"
#include "registry/SettingsKeys.h"
#include "registry/store/FileStore.h"
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

std::string Get(RegistryApi& reg, const std::string& name, std::string_view key = kZoneMapKey) {
    return ReadRegistryValueText(reg, HKEY_CURRENT_USER, key, name);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Keys Software\Many\k0 and on, made in one change, each with a value "v"; the change's status. From
// FileStore::kStreamedSaveKeys keys up, the change is written as its text is made.
LONG AddKeys(RegistryApi& reg, std::size_t keys, DWORD type, const std::string& data) {
    StoreScope scope(reg, true);
    for (std::size_t i = 0; i < keys; ++i) {
        HKEY k = Create(reg, "Software\\Many\\k" + std::to_string(i));
        SetBytes(reg, k, "v", type, data);
        reg.RegCloseKey(k);
    }
    return scope.End();
}

// Another process that opens the store and works on it, once `gate` (if any) is closed.
pid_t StartWriter(const std::string& path, const std::function<void(FileStore&)>& work, const int* gate = nullptr) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        char go = 0;
        if (gate && (::close(gate[1]) != 0 || ::read(gate[0], &go, 1) < 0)) ::_exit(3);
        std::string error;
        auto store = FileStore::Open(path, error, nullptr, &SeedNewStore);
        if (!store) ::_exit(2);
        work(*store);
        ::_exit(store->TakeRefusedWrite().empty() ? 0 : 1);
    }
    return pid;
}

bool EndedWell(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class FileStoreTest : public ::testing::Test {
protected:
    // No temporary file is ever left beside the store.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    const std::vector<std::string> onlyStore{"user.reg"};
    TempDir dir;
    std::string path = dir.file("user.reg");
};

TEST_F(FileStoreTest, ANewStoreIsSeededPrivateAndWineReadable) {
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = ReadFile(path);  // no #arch: a prefix of either kind takes it
    EXPECT_TRUE(text.rfind("WINE REGISTRY Version 2\n", 0) == 0 && !Has(text, "#arch")) << text.substr(0, 100);
    const std::string button = std::string(kBrowserExtensionsKey) + "\\" + std::string(kToolbarButtonId);
    const std::tuple<std::string_view, const char*, std::string_view> seeded[] = {
        {kProtocolDefaultsKey, "http", "3"},   {kProtocolDefaultsKey, "https", "3"}, {kProtocolDefaultsKey, "ftp", "3"},
        {kProtocolDefaultsKey, "file", "3"},   {kProtocolDefaultsKey, "@ivt", "1"},  {kInternetZoneKey, "1400", "0"},
        {kInternetZoneKey, "1A00", "131072"},  {kInternetZoneKey, "1E05", "65536"},  {button, "ButtonText", "Moatgate"},
        {button, "CLSID", kToolbarButtonClsid}, {button, "Default Visible", "Yes"},
    };
    for (const auto& [key, name, value] : seeded) EXPECT_EQ(Get(*store, name, key), value) << key << " " << name;
    DWORD type = 0;
    HKEY k = 0;
    ASSERT_EQ(store->RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k), 0);
    EXPECT_EQ(Query(*store, k, "1C00", &type), std::string("\0\0\1\0", 4));
    EXPECT_EQ(type, REG_BINARY);
    store->RegCloseKey(k);
}

TEST_F(FileStoreTest, ChangesByAnotherWriterAreSeenAndNeverReverted) {
    auto first = OpenStore(path);
    auto second = OpenStore(path);
    Put(*first, "a", 1);
    EXPECT_EQ(Get(*second, "a"), "1");
    Put(*second, "b", 2);
    Put(*first, "c", 3);  // must not drop the second writer's "b"
    auto third = OpenStore(path);
    for (const auto& [name, value] : {std::pair{"a", "1"}, {"b", "2"}, {"c", "3"}}) EXPECT_EQ(Get(*third, name), value);
    // An editor that rewrites the file in place is noticed too.
    std::string text = ReadFile(path);
    const std::size_t at = text.find("\"a\"=dword:00000001");
    ASSERT_NE(at, std::string::npos);
    WriteFile(path, text.replace(at, 18, "\"a\"=dword:00000004"));
    EXPECT_EQ(Get(*first, "a"), "4");
}

// Damaged by someone else into what Wine rejects whole: reads and writes fail.
TEST_F(FileStoreTest, AFileDamagedAfterItWasOpenedIsNeitherReadNorWritten) {
    const std::string bad = "\xef\xbb\xbfWINE REGISTRY Version 2\n[Software\\\\X]\n";
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    WriteFile(path, bad);
    HKEY k = 0;
    EXPECT_EQ(store->RegOpenKeyA(HKEY_CURRENT_USER, "Software", &k), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(Create(*store, "Software\\Y"), 0u);
    EXPECT_EQ(ReadFile(path), bad);
    EXPECT_EQ(Files(), onlyStore);
}

// A line that cannot be taken as written: the rest is read (to be seen and mended), but nothing is written, and
// the refusal names the file and the line and says what to do.
TEST_F(FileStoreTest, AFileReadInPartIsShownButNeverWritten) {
    const std::string bad = "WINE REGISTRY Version 2\n\n[Software\\\\X] 1796554876\n\"ok\"=dword:1\n\"bad\"=dword:zzzz\n";
    WriteFile(path, bad);
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    const std::string where = path + ":5: Malformed value: not a hexadecimal number '\"bad\"=dword:zzzz'";
    EXPECT_EQ(store->UnwritableReason(), where);
    EXPECT_EQ(Get(*store, "ok", "Software\\X"), "1");
    WriteRegistryValue(*store, HKEY_CURRENT_USER, "Software\\X", "ok", std::int64_t{2}, REG_DWORD);
    const std::string refused = store->TakeRefusedWrite();
    EXPECT_PRED2(Has, refused, where);
    EXPECT_PRED2(Has, refused, "Mend that line");
    EXPECT_EQ(ReadFile(path), bad);
    EXPECT_EQ(Files(), onlyStore);
    // Damaged so after it was opened: a write through a key already open is refused too.
    WriteFile(path, "WINE REGISTRY Version 2\n");
    auto whole = OpenStore(path);
    HKEY k = Create(*whole, "Software\\X");
    WriteFile(path, bad);
    EXPECT_EQ(SetDword(*whole, k, "ok", 2), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(ReadFile(path), bad);
    whole->RegCloseKey(k);
}

TEST_F(FileStoreTest, ALockHeldElsewhereIsWaitedForABoundedTime) {
    auto store = OpenStore(path);
    store->SetLockWait(std::chrono::milliseconds(300));
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const std::string before = ReadFile(path);
    const auto start = std::chrono::steady_clock::now();
    Put(*store, "x", 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_PRED2(Has, store->TakeRefusedWrite(), path + " is in use by another program");
    EXPECT_EQ(ReadFile(path), before);
    ::close(other);
    Put(*store, "x", 1);
    EXPECT_EQ(store->TakeRefusedWrite(), "");
    EXPECT_EQ(Get(*OpenStore(path), "x"), "1");
}

TEST_F(FileStoreTest, AGuardThatSaysNoStopsEveryWriteButNoRead) {
    std::string busy = "prefix in use", error;
    auto guard = [&busy] { return busy; };
    EXPECT_FALSE(FileStore::Open(path, error, guard, &SeedNewStore));  // not even a new store is created
    EXPECT_EQ(error, "prefix in use");
    EXPECT_FALSE(std::filesystem::exists(path));
    busy.clear();
    auto store = FileStore::Open(path, error, guard, &SeedNewStore);
    ASSERT_TRUE(store) << error;
    const std::string before = ReadFile(path);
    busy = "prefix in use";
    EXPECT_EQ(Create(*store, "Software\\New"), 0u);
    EXPECT_PRED2(Has, store->TakeRefusedWrite(), "prefix in use");
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(Get(*store, "http", kProtocolDefaultsKey), "3");
}

// A write scope is one change, stored when it ends, even inside a read scope (a long fill); a refused one leaves
// the reads on what is stored.
TEST_F(FileStoreTest, AWriteScopeIsStoredOnceOrNotAtAll) {
    auto store = OpenStore(path);
    StoreScope reading(*store, false);
    const std::string before = ReadFile(path);
    {
        StoreScope scope(*store, true);
        Put(*store, "x", 1);
        Put(*store, "y", 2);
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_EQ(Get(*store, "x"), "1");
        ASSERT_EQ(scope.End(), 0);
    }
    EXPECT_EQ(Get(*OpenStore(path), "y"), "2");
    const std::string committed = ReadFile(path);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    {
        StoreScope writing(*store, true);
        Put(*store, "x", 7);
        EXPECT_EQ(writing.End(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(Get(*store, "x"), "1");
    EXPECT_EQ(ReadFile(path), committed);
}

// A file its owner made read-only is not replaced, whoever asks (root, whom the system lets write anything, too);
// nor is one the caller may not write (another user's), though the folder would allow the rename.
TEST_F(FileStoreTest, AReadOnlyStoreIsRefusedForEveryUser) {
    auto store = OpenStore(path);
    const struct {
        const char* who;
        bool systemLetsWrite;  // what access(W_OK) answers that user
        mode_t mode;
        const char* told;  // empty: the write goes through
    } cases[] = {
        {"root", true, 0444, "is read-only"},
        {"the owner", false, 0444, "is read-only"},
        {"another user", false, 0644, "is not writable for you"},
        {"the owner of a writable file", true, 0644, ""},
    };
    std::uint32_t next = 1;
    HKEY k = Create(*store, std::string(kZoneMapKey));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.who);
        FileStore::WriteCalls calls;
        calls.access = [&c](const char* asked, int mode) {
            if (!(mode & W_OK) || c.systemLetsWrite) return ::access(asked, mode & ~W_OK);
            errno = EACCES;
            return -1;
        };
        store->SetWriteCalls(calls);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        const LONG status = SetDword(*store, k, "x", ++next);
        const std::string refused = store->TakeRefusedWrite();
        EXPECT_EQ(status, *c.told ? ERROR_ACCESS_DENIED : 0) << refused;
        EXPECT_EQ(Get(*OpenStore(path), "x") == std::to_string(next), !*c.told);
        if (*c.told) {
            EXPECT_PRED2(Has, refused, path + " " + c.told);
            EXPECT_NE(Get(*store, "x"), std::to_string(next));
        }
        EXPECT_EQ(Files(), onlyStore);
    }
}

// A crash at any moment leaves the old file or the new one whole: the new file is on the disk before it takes
// the old one's place, and the folder's entry after. The file keeps its permissions.
TEST_F(FileStoreTest, TheNewFileIsFlushedBeforeItReplacesTheOldOne) {
    const std::string folder = std::filesystem::canonical(dir.path()).string();
    path = folder + "/user.reg";
    auto store = OpenStore(path);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    std::vector<std::string> calls;
    FileStore::WriteCalls recorded;
    recorded.fsync = [&calls](int fd) {
        std::error_code ec;
        calls.push_back("fsync " + std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string());
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
    EXPECT_EQ(Get(*OpenStore(path), "x"), "1");  // on disk, not only in memory
    EXPECT_EQ(Files(), onlyStore);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A full disk shows when the new file is flushed or moved into place: every call whose change was not stored
// says so, nothing unstored is shown as stored, and the old file stays as it was.
TEST_F(FileStoreTest, ASaveThatFailsOnAFullDiskFailsTheCall) {
    auto store = OpenStore(path);
    HKEY k = Create(*store, "Software\\Full");
    ASSERT_EQ(SetDword(*store, k, "old", 1), 0);
    store->RegCloseKey(Create(*store, "Software\\Full\\Empty"));
    const std::string before = ReadFile(path);
    const auto full = [](auto...) {
        errno = ENOSPC;
        return -1;
    };
    for (const std::string failing : {"fsync", "rename"}) {
        SCOPED_TRACE(failing);
        FileStore::WriteCalls calls;
        if (failing == "fsync") { calls.fsync = full; } else { calls.rename = full; }
        store->SetWriteCalls(calls);
        EXPECT_EQ(SetDword(*store, k, "x", 1), ERROR_REGISTRY_IO_FAILED);
        HKEY sub = 123;
        EXPECT_EQ(store->RegCreateKeyExA(k, "Sub", 0, "", 0, 0x3F, nullptr, &sub, nullptr), ERROR_REGISTRY_IO_FAILED);
        EXPECT_EQ(sub, 0u);
        EXPECT_EQ(store->RegDeleteValueA(k, "old"), ERROR_REGISTRY_IO_FAILED);
        EXPECT_EQ(store->RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Full\\Empty"), ERROR_REGISTRY_IO_FAILED);
        {
            StoreScope scope(*store, true);
            SetDword(*store, k, "y", 1);
            EXPECT_EQ(scope.End(), ERROR_REGISTRY_IO_FAILED);
        }
        const std::string refused = store->TakeRefusedWrite();
        EXPECT_PRED2(Has, refused, "cannot write " + path + ": " + failing + ": No space left on device");
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_EQ(Files(), onlyStore);
        EXPECT_EQ(Query(*store, k, "x") + Query(*store, k, "y"), "<status 2><status 2>");  // nothing unstored shown
    }
    store->RegCloseKey(k);
}

// The same under a file-size limit a shell may set: the write itself is cut short (its signal ignored), for a
// text kept whole and for one written in parts as it is made, the first of which fit.
TEST_F(FileStoreTest, ASaveCutShortByTheFileSizeLimitFailsTheCall) {
    OpenStore(path);
    const std::string before = ReadFile(path);
    for (const std::size_t keys : {std::size_t{1}, FileStore::kStreamedSaveKeys}) {
        SCOPED_TRACE(keys);
        const pid_t pid = StartWriter(path, [&before, keys](FileStore& store) {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit small {before.size() + 300000, before.size() + 300000};
            if (::setrlimit(RLIMIT_FSIZE, &small) != 0) ::_exit(3);
            const std::string data(keys == 1 ? 200000 : 100, 'x');
            const bool refused = AddKeys(store, keys, REG_BINARY, data) == ERROR_REGISTRY_IO_FAILED;
            ::_exit(refused && Has(store.TakeRefusedWrite(), "write: File too large") ? 0 : 4);
        });
        ASSERT_TRUE(EndedWell(pid));
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_EQ(Files(), onlyStore);
    }
}

// A file larger than the reader takes (4 GiB; here made small) is never written: the store could not be opened
// again. Refused for a text kept whole and for one written as it is made; a later change that fits is stored.
TEST_F(FileStoreTest, AFileTooLargeToBeReadAgainIsNeverWritten) {
    auto store = OpenStore(path);
    const std::string before = ReadFile(path);
    store->SetLargestFile(before.size() + 300000);
    for (const std::size_t keys : {std::size_t{1}, FileStore::kStreamedSaveKeys}) {
        SCOPED_TRACE(keys);
        EXPECT_EQ(AddKeys(*store, keys, REG_BINARY, std::string(keys == 1 ? 200000 : 100, 'x')),
                  ERROR_REGISTRY_IO_FAILED);
        EXPECT_PRED2(Has, store->TakeRefusedWrite(), "cannot write " + path + ": write: File too large");
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_EQ(Files(), onlyStore);
    }
    Put(*store, "x", 1);
    EXPECT_EQ(Get(*OpenStore(path), "x"), "1");
}

// A change of many keys at once (an import) is written as its text is made: stored with one durable write, read
// back by the store that made it, and kept by the changes after it. When it cannot be stored, the old file
// stays and is what the store shows.
TEST_F(FileStoreTest, AChangeOfManyKeysIsStoredOnceAndReadBack) {
    auto store = OpenStore(path);
    int fsyncs = 0;
    bool failing = true;
    FileStore::WriteCalls calls;
    calls.fsync = [&](int fd) {
        ++fsyncs;
        errno = EIO;
        return failing ? -1 : ::fsync(fd);
    };
    store->SetWriteCalls(calls);
    const std::string before = ReadFile(path);
    EXPECT_EQ(AddKeys(*store, FileStore::kStreamedSaveKeys, REG_SZ, "a"), ERROR_REGISTRY_IO_FAILED);
    EXPECT_PRED2(Has, store->TakeRefusedWrite(), "cannot write " + path + ": fsync: Input/output error");
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(Get(*store, "v", "Software\\Many\\k0"), "");

    failing = false;
    fsyncs = 0;
    ASSERT_EQ(AddKeys(*store, FileStore::kStreamedSaveKeys, REG_SZ, "b"), 0);
    EXPECT_EQ(fsyncs, 2);  // the file and its folder
    EXPECT_EQ(Get(*store, "v", "Software\\Many\\k4095"), "b");
    Put(*store, "x", 1);
    auto other = OpenStore(path);
    EXPECT_EQ(Get(*other, "v", "Software\\Many\\k0") + Get(*other, "x"), "b1");
    EXPECT_EQ(Files(), onlyStore);
}

// Writers started at once on a store that does not exist yet: one creates it, and every write of each lands.
TEST_F(FileStoreTest, WritersAtOnceAllLand) {
    constexpr int kWriters = 8, kWrites = 9;
    for (int round = 0; round < 4; ++round) {
        std::filesystem::remove(path);
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        std::vector<pid_t> children;
        for (int w = 0; w < kWriters; ++w)
            children.push_back(StartWriter(path, [w](FileStore& store) {
                for (int i = 0; i < kWrites; ++i) Put(store, "w" + std::to_string(w) + "." + std::to_string(i), i);
            }, gate));
        ::close(gate[0]);
        ::close(gate[1]);  // all start at once
        for (pid_t pid : children) ASSERT_TRUE(EndedWell(pid)) << "round " << round;
        auto store = OpenStore(path);
        for (int w = 0; w < kWriters; ++w)
            for (int i = 0; i < kWrites; ++i)
                ASSERT_EQ(Get(*store, "w" + std::to_string(w) + "." + std::to_string(i)), std::to_string(i));
        EXPECT_EQ(Files(), onlyStore);
    }
}

TEST_F(FileStoreTest, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
    Put(*OpenStore(path), "counter", 0);
    std::mt19937 random(12345);
    std::uint64_t lastSeen = 0;
    for (int round = 0; round < 25; ++round) {
        // The writer says when its first write is stored, so that no round ends before anything was written.
        int started[2];
        ASSERT_EQ(::pipe(started), 0);
        const pid_t pid = StartWriter(path, [&started](FileStore& store) {
            Put(store, "counter", std::stoll(Get(store, "counter")) + 1);
            (void)!::write(started[1], "!", 1);
            for (;;) Put(store, "counter", std::stoll(Get(store, "counter")) + 1);
        });
        char signal = 0;
        ASSERT_EQ(::read(started[0], &signal, 1), 1);
        ::close(started[0]);
        ::close(started[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        ::kill(pid, SIGKILL);
        ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
        auto store = OpenStore(path);  // whole: neither refused nor read in part
        ASSERT_TRUE(store && store->UnwritableReason().empty()) << "round " << round;
        const std::string value = Get(*store, "counter");
        ASSERT_FALSE(value.empty());
        EXPECT_GE(std::stoull(value), lastSeen);  // a later file never loses earlier increments
        lastSeen = std::stoull(value);
    }
    EXPECT_GT(lastSeen, 0u);
    // The lock died with its holder: a new writer gets through at once, and clears away half-written files.
    WriteFile(dir.file(".user.reg.AbCd12"), "half");
    Put(*OpenStore(path), "after", 1);
    EXPECT_EQ(Get(*OpenStore(path), "after"), "1");
    EXPECT_EQ(Files(), onlyStore);
}

}  // namespace
}  // namespace moatgate

// The store kept in a file in Wine's registry text format: a Wine prefix's
// user.reg or Moatgate's own file. Other programs may change the file at any
// time, so every outermost operation first checks whether it changed and reads
// it again if so; every change is written to a new file that replaces the old one
// atomically, under an advisory lock, before the call returns.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "registry/store/HiveRegistry.h"
#include "registry/store/WineRegFormat.h"

namespace moatgate {

class FileStore : public HiveRegistry {
public:
    // Asked before every write: a non-empty answer is why the file must not be
    // written now (a Wine prefix whose server runs); the write then fails with it.
    using WriteGuard = std::function<std::string()>;
    // What a store holds when its file is first created; the engine itself knows
    // nothing of what the settings mean.
    using NewStoreContents = std::function<void(RegistryApi&)>;

    // Opens the store, creating it with `contents` when the file does not exist.
    // Null, with `error` naming the file (and the line), when it cannot be read at
    // all. A file with lines that cannot be taken as written is opened: what can
    // be read is there, and every write is refused (UnwritableReason).
    static std::unique_ptr<FileStore> Open(const std::string& path, std::string& error,
                                           WriteGuard guard = nullptr, NewStoreContents contents = nullptr);
    ~FileStore() override;

    // The file, with any symbolic links resolved.
    const std::string& Path() const { return path_; }
    std::string LastErrorText() const override { return lastError_; }
    std::string UnwritableReason() const override { return unwritable_; }
    // For tests: the clock that stamps changed keys.
    void SetClock(Hive::Clock clock);
    // How long a write waits for a lock that another program holds on an
    // unchanging file before it gives up (5 s unless set).
    void SetLockWait(std::chrono::milliseconds wait) { lockWait_ = wait; }
    // The calls by which a write reaches the disk, and the question whether the
    // caller may write the file: tests replace them to see their order, to make
    // them fail, and to ask as another user would be answered.
    struct WriteCalls {
        std::function<int(int fd)> fsync = &::fsync;
        std::function<int(const char* from, const char* to)> rename = &::rename;
        std::function<int(const char* path, int mode)> access = &::access;
    };
    void SetWriteCalls(WriteCalls calls) { calls_ = std::move(calls); }
    // For tests: the largest file a write may make (as large as the reader takes,
    // unless set), so that the refusal is seen without writing gigabytes.
    void SetLargestFile(std::size_t bytes) { largestFile_ = bytes; }
    // A change of this many keys is written as its text is made, not kept whole;
    // the store reads the file again afterwards.
    static constexpr std::size_t kStreamedSaveKeys = 4096;

protected:
    LONG PrepareRead() override;
    LONG PrepareWrite() override;
    LONG FinishWrite() override;
    void AbortWrite() override;
    std::string RefusalText(LONG status) const override;

private:
    struct Identity {
        unsigned long long dev = 0, ino = 0, size = 0;
        long long mtimeSec = 0, mtimeNsec = 0;
        bool operator==(const Identity&) const = default;
    };
    static Identity IdentityOf(const struct stat& st);

    explicit FileStore(std::string path);
    LONG Load(int fd);
    LONG CreateNew();
    // Opens the file for reading without blocking on a pipe or device.
    LONG OpenFile(int& fd, bool& missing);
    // Why the path names no file that can be the store (not a regular file, a link
    // that points nowhere), or empty.
    std::string NotAStoreFile(const struct stat& st) const;
    std::string DanglingLinkText() const;
    enum class LockResult { kLocked, kChanged, kTimedOut, kFailed };
    // Waits for the exclusive lock on `fd`, giving up when the store has been
    // locked without any change for lockWait_, or when it changed meanwhile.
    LockResult WaitForLock(int fd, bool watchFile);
    struct Owner {
        unsigned uid, gid;
    };
    // Writes a new file with the text `makeText` hands to its sink (at once or in
    // parts) and moves it into place: over the old file, or, without an owner to
    // keep, only where no file exists yet (a new store). A file larger than the
    // reader takes is refused.
    LONG WriteReplacement(const std::function<bool(const TextSink&)>& makeText, unsigned mode, const Owner* owner,
                          Identity* written);
    LONG Fail(LONG status, std::string message);
    LONG InUse();
    void RemoveAbandonedTemporaries();
    void Unlock();

    std::string path_;
    std::string dir_;
    FileLayout layout_;
    Identity identity_;
    bool loaded_ = false;
    std::string unwritable_;  // "file:line: why" when the file was read only in part
    int lockFd_ = -1;
    std::string lastError_;
    Hive::Clock clock_;
    WriteGuard writeGuard_;
    NewStoreContents newContents_;
    std::chrono::milliseconds lockWait_{5000};
    WriteCalls calls_;
    std::size_t largestFile_ = kMaxRegistryFileSize;
};

}  // namespace moatgate

#include "registry/store/FileStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "registry/store/LargePages.h"

namespace moatgate {

namespace {

std::string ErrnoText() { return std::strerror(errno); }

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

}  // namespace

FileStore::Identity FileStore::IdentityOf(const struct stat& st) {
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
            static_cast<unsigned long long>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

namespace {

bool WriteAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A file's text written a part at a time. A file larger than the reader takes is
// refused, since the store could not be opened again. Keeps why a part was not
// written: the rest of the text may still be made after it.
struct FileWriter {
    int fd;
    std::size_t largest;
    std::size_t total = 0;
    int failure = 0;
    bool operator()(std::string_view part) {
        if ((total += part.size()) > largest) {
            failure = EFBIG;
        } else if (!WriteAll(fd, part)) {
            failure = errno;
        }
        return failure == 0;
    }
};

}  // namespace

FileStore::FileStore(std::string path) : path_(std::move(path)), clock_(&Hive::SystemNow) {
    // Work on the file a link points to, so that replacing it keeps the link.
    std::error_code ec;
    const auto resolved = std::filesystem::weakly_canonical(path_, ec);
    if (!ec) path_ = resolved.string();
    dir_ = std::filesystem::path(path_).parent_path().string();
    if (dir_.empty()) dir_.push_back('.');
    hive_.SetClock(clock_);
}

FileStore::~FileStore() { Unlock(); }

std::unique_ptr<FileStore> FileStore::Open(const std::string& path, std::string& error, WriteGuard guard,
                                           NewStoreContents contents) {
    std::unique_ptr<FileStore> store(new FileStore(path));
    store->writeGuard_ = std::move(guard);
    store->newContents_ = std::move(contents);
    if (store->PrepareRead() != ERROR_SUCCESS) {
        error = store->lastError_;
        return nullptr;
    }
    return store;
}

void FileStore::SetClock(Hive::Clock clock) {
    clock_ = std::move(clock);
    hive_.SetClock(clock_);
}

std::string FileStore::RefusalText(LONG status) const {
    std::string text = "Moatgate could not save the change to its settings in " + path_ + ".\n\n" + lastError_;
    if (status == ERROR_REGISTRY_CORRUPT)
        text += "\n\nMoatgate never writes a file it cannot read whole. Mend that line (or move the file away "
                "to start afresh), then try again.";
    else if (status != ERROR_ACCESS_DENIED)  // those reasons say what to do
        text += "\n\nCheck that the disk has room and that the folder can be written, then try again.";
    return text;
}

LONG FileStore::Fail(LONG status, std::string message) {
    lastError_ = std::move(message);
    return status;
}

LONG FileStore::InUse() {
    return Fail(ERROR_ACCESS_DENIED,
                path_ + " is in use by another program, which has kept it locked for more than " +
                    (lockWait_.count() % 1000 ? std::to_string(lockWait_.count()) + " ms"
                                              : std::to_string(lockWait_.count() / 1000) + " seconds") +
                    ". Nothing was changed. Close that program (or wait until it is done), then try again.");
}

void FileStore::Unlock() {
    if (lockFd_ >= 0) {
        ::flock(lockFd_, LOCK_UN);
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

std::string FileStore::NotAStoreFile(const struct stat& st) const {
    if (S_ISREG(st.st_mode)) return {};
    const char* kind = S_ISDIR(st.st_mode)                          ? "a folder"
                       : S_ISFIFO(st.st_mode)                       ? "a named pipe"
                       : S_ISSOCK(st.st_mode)                       ? "a socket"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                    : "no regular file";
    return "cannot read " + path_ + ": it is " + kind +
           ", and the store must be a regular file. Put the settings file in its place (or choose another store), "
           "then try again.";
}

std::string FileStore::DanglingLinkText() const {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(path_, ec);
    return "cannot read " + path_ + ": it is a symbolic link to " + (ec ? std::string("?") : target.string()) +
           ", which does not exist. Restore what it points to, or remove the link to start a new store.";
}

LONG FileStore::OpenFile(int& fd, bool& missing) {
    missing = false;
    // Never blocks: a named pipe put in the file's place is refused, not waited on.
    fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT) return Fail(ERROR_REGISTRY_IO_FAILED, "cannot read " + path_ + ": " + ErrnoText());
        struct stat link {};
        if (::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            return Fail(ERROR_ACCESS_DENIED, DanglingLinkText());
        missing = true;
        return ERROR_SUCCESS;
    }
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    const std::string why = statted ? NotAStoreFile(st) : "cannot read " + path_ + ": " + ErrnoText();
    if (why.empty()) return ERROR_SUCCESS;
    ::close(fd);
    fd = -1;
    // The reasons of a path that is no file say what to do.
    return Fail(statted ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED, why);
}

FileStore::LockResult FileStore::WaitForLock(int fd, bool watchFile) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + lockWait_;
    struct stat st {};
    const bool watching = watchFile && ::stat(path_.c_str(), &st) == 0;
    const Identity start = watching ? IdentityOf(st) : Identity{};
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockResult::kLocked;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return LockResult::kFailed;
        // Another writer that finished replaced the file: the lock to wait for is
        // the new file's, and the holder is no program that hangs.
        if (watching && (::stat(path_.c_str(), &st) != 0 || IdentityOf(st) != start)) return LockResult::kChanged;
        if (Clock::now() >= deadline) return LockResult::kTimedOut;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

LONG FileStore::Load(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Fail(ERROR_REGISTRY_IO_FAILED, path_ + ": " + ErrnoText());
    if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED, NotAStoreFile(st));
    std::string text;
    text.reserve(static_cast<std::size_t>(st.st_size));
    // A large file's buffer is touched page by page right away: in large pages
    // that is a few hundred faults instead of one per 4 KB.
    AdviseLargePages(text.data(), text.capacity());
    PrefaultPages(text.data(), static_cast<std::size_t>(st.st_size));
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            // Read whole as measured; the file may have grown since: look for more
            // without copying what was read.
            char more[16384];
            const ssize_t n = ::pread(fd, more, sizeof more, static_cast<off_t>(got));
            if (n < 0) {
                if (errno == EINTR) continue;
                return Fail(ERROR_REGISTRY_IO_FAILED, path_ + ": " + ErrnoText());
            }
            if (n == 0) break;
            text.append(more, static_cast<std::size_t>(n));
            got += static_cast<std::size_t>(n);
            continue;
        }
        const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(ERROR_REGISTRY_IO_FAILED, path_ + ": " + ErrnoText());
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);

    Hive hive;
    hive.SetClock(clock_);
    FileLayout layout;
    ParseError error;
    const bool whole = LoadRegistryText(std::move(text), hive, layout, error);
    const std::string where = path_ + ":" + std::to_string(error.line) + ": " + error.message;
    if (!whole && !error.partlyRead) {
        loaded_ = false;
        return Fail(ERROR_REGISTRY_CORRUPT, where);
    }
    // A file read only in part is still shown, so that it can be mended; it is
    // never written, since writing it would lose or alter what was left out.
    unwritable_ = whole ? std::string() : where;
    ReplaceHive(std::move(hive));
    layout_ = std::move(layout);
    identity_ = IdentityOf(st);
    // A file whose size changed while it was read is read again next time.
    if (static_cast<unsigned long long>(st.st_size) != got) identity_.size = ~0ull;
    loaded_ = true;
    lastError_.clear();
    return ERROR_SUCCESS;
}

LONG FileStore::PrepareRead() {
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) {
            if (errno != ENOENT) return Fail(ERROR_REGISTRY_IO_FAILED, "cannot read " + path_ + ": " + ErrnoText());
            struct stat link {};
            if (::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
                return Fail(ERROR_ACCESS_DENIED, DanglingLinkText());
            if (const LONG s = CreateNew()) return s;
            continue;
        }
        if (loaded_ && IdentityOf(st) == identity_) return ERROR_SUCCESS;
        if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED, NotAStoreFile(st));
        int raw = -1;
        bool missing = false;
        if (const LONG s = OpenFile(raw, missing)) return s;
        if (missing) continue;
        Fd fd(raw);
        return Load(fd.get());
    }
    return Fail(ERROR_REGISTRY_IO_FAILED, "cannot read " + path_ + ": it keeps disappearing");
}

LONG FileStore::PrepareWrite() {
    Unlock();
    if (writeGuard_) {
        if (std::string reason = writeGuard_(); !reason.empty()) return Fail(ERROR_ACCESS_DENIED, std::move(reason));
    }
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + 12 * lockWait_;
    int creations = 0;
    while (Clock::now() < giveUp) {
        int raw = -1;
        bool missing = false;
        if (const LONG s = OpenFile(raw, missing)) return s;
        if (missing) {
            if (++creations > 3) return Fail(ERROR_REGISTRY_IO_FAILED, "cannot write " + path_ + ": it keeps disappearing");
            if (const LONG s = CreateNew()) return s;
            continue;
        }
        Fd fd(raw);
        switch (WaitForLock(fd.get(), true)) {
            case LockResult::kLocked: break;
            case LockResult::kChanged: continue;
            case LockResult::kTimedOut: return InUse();
            case LockResult::kFailed:
                return Fail(ERROR_REGISTRY_IO_FAILED, "cannot lock " + path_ + ": " + ErrnoText());
        }
        // Another writer may have replaced the file while this one waited: the lock
        // is only good on the file that is there now.
        struct stat held {}, current {};
        if (::fstat(fd.get(), &held) != 0 || ::stat(path_.c_str(), &current) != 0 ||
            held.st_ino != current.st_ino || held.st_dev != current.st_dev)
            continue;
        // Replacing the file would go round its permissions: a file its owner made
        // read-only stays as it is, whoever asks (root too, whom access() lets by).
        if (!(held.st_mode & S_IWUSR))
            return Fail(ERROR_ACCESS_DENIED, path_ + " is read-only: its owner has not allowed it to be written. "
                                             "To let Moatgate change it, make it writable (chmod u+w '" + path_ +
                                             "') and try again.");
        if (calls_.access(path_.c_str(), W_OK) != 0)
            return Fail(ERROR_ACCESS_DENIED, path_ + " is not writable for you. Run Moatgate as the user who owns "
                                             "it, or let that user change it.");
        lockFd_ = fd.release();
        RemoveAbandonedTemporaries();
        if (!loaded_ || IdentityOf(held) != identity_) {
            if (const LONG s = Load(lockFd_)) {
                Unlock();
                return s;
            }
        }
        if (!unwritable_.empty()) {
            Unlock();
            return Fail(ERROR_REGISTRY_CORRUPT, unwritable_);
        }
        return ERROR_SUCCESS;
    }
    return Fail(ERROR_REGISTRY_IO_FAILED, "cannot lock " + path_ + ": it keeps being replaced");
}

LONG FileStore::FinishWrite() {
    LONG status = ERROR_SUCCESS;
    if (hive_.Changed()) {
        struct stat st {};
        const unsigned mode = (lockFd_ >= 0 && ::fstat(lockFd_, &st) == 0) ? (st.st_mode & 07777) : 0600;
        const Owner owner{lockFd_ >= 0 ? st.st_uid : ::geteuid(), lockFd_ >= 0 ? st.st_gid : ::getegid()};
        // Most of the text of a change of many keys (an import) is new: written as
        // it is made rather than held beside the keys it comes from.
        const bool streamed = hive_.DirtyKeys().size() >= kStreamedSaveKeys;
        Identity written;
        status = WriteReplacement(
            [&](const TextSink& write) {
                return streamed ? StreamRegistryText(hive_, layout_, write) : write(SaveRegistryText(hive_, layout_));
            },
            mode, &owner, &written);
        if (streamed) {
            // No text was kept for the keys to refer to: read the file again next time.
            ReplaceHive(Hive{});
            layout_ = FileLayout{};
            loaded_ = false;
        } else if (status == ERROR_SUCCESS) {
            identity_ = written;
        } else {
            // The hive holds what could not be stored: read the file again next time.
            loaded_ = false;
        }
    }
    Unlock();
    return status;
}

void FileStore::RemoveAbandonedTemporaries() {
    // Only a writer holding the lock on the current file writes a temporary file,
    // and only one that holds the folder's lock makes a new store; so while this
    // one holds both, any temporary of ours is left from a writer that died.
    Fd dir(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || ::flock(dir.get(), LOCK_EX | LOCK_NB) != 0) return;  // a new store is being made
    std::string prefix(1, '.');
    prefix += std::filesystem::path(path_).filename().string();
    prefix += '.';
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            entry.is_regular_file(ec))
            std::filesystem::remove(entry.path(), ec);
    }
}

void FileStore::AbortWrite() {
    hive_.ClearChanged();
    loaded_ = false;  // the hive holds changes the file never got
    Unlock();
}

LONG FileStore::WriteReplacement(const std::function<bool(const TextSink&)>& makeText, unsigned mode,
                                 const Owner* owner, Identity* written) {
    const bool exclusive = owner == nullptr;
    const std::string base = std::filesystem::path(path_).filename().string();
    std::string temp = dir_ + "/." + base + ".XXXXXX";
    // mkostemp creates the file exclusively, so it never follows a planted link.
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return Fail(ERROR_REGISTRY_IO_FAILED, "cannot write " + path_ + ": " + ErrnoText());
    auto abandon = [&](const std::string& what) {
        const std::string reason = ErrnoText();
        ::unlink(temp.c_str());
        return Fail(ERROR_REGISTRY_IO_FAILED, "cannot write " + path_ + ": " + what + ": " + reason);
    };
    if (::fchmod(fd.get(), mode) != 0) return abandon("chmod");
    // Root rewriting a user's file keeps it the user's (best effort).
    if (owner && (owner->uid != ::geteuid() || owner->gid != ::getegid()))
        if (::fchown(fd.get(), owner->uid, owner->gid) != 0) { /* keep the new owner */ }
    FileWriter writer{fd.get(), largestFile_};
    if (!makeText(std::ref(writer))) {
        errno = writer.failure;
        return abandon("write");
    }
    if (calls_.fsync(fd.get()) != 0) return abandon("fsync");
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return abandon("stat");
    if (exclusive) {
        // A new store: never replace one that another process created meanwhile.
        if (::link(temp.c_str(), path_.c_str()) != 0 && errno != EEXIST) return abandon("link");
        ::unlink(temp.c_str());
    } else if (calls_.rename(temp.c_str(), path_.c_str()) != 0) {
        return abandon("rename");
    }
    Fd dir(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) calls_.fsync(dir.get());
    if (written) *written = IdentityOf(st);
    return ERROR_SUCCESS;
}

LONG FileStore::CreateNew() {
    if (writeGuard_) {
        if (std::string reason = writeGuard_(); !reason.empty()) return Fail(ERROR_ACCESS_DENIED, std::move(reason));
    }
    // New stores are made one at a time, under the folder's lock, so that a writer
    // of a store made meanwhile never takes this one's temporary file for abandoned.
    Fd dir(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return Fail(ERROR_REGISTRY_IO_FAILED, "cannot create " + path_ + ": " + ErrnoText());
    switch (WaitForLock(dir.get(), false)) {
        case LockResult::kTimedOut: return InUse();
        case LockResult::kFailed:  // a file system without locks on folders: as before, unguarded
        case LockResult::kLocked:
        case LockResult::kChanged: break;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0) return ERROR_SUCCESS;  // made by another process meanwhile
    MemoryStore seed;
    seed.GetHive().SetClock(clock_);
    if (newContents_) newContents_(seed);
    const std::string text = WriteHiveText(seed.GetHive(), NewStorePreamble());
    return WriteReplacement([&text](const TextSink& write) { return write(text); }, 0600, nullptr, nullptr);
}

}  // namespace moatgate

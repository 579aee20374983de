#include "registry/store/WinePrefix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace moatgate {

std::string WinePrefixOf(const std::string& storeFile) {
    std::error_code ec;
    std::filesystem::path file = std::filesystem::weakly_canonical(storeFile, ec);
    if (ec) file = storeFile;
    const std::filesystem::path dir = file.parent_path();
    if (dir.empty() || !std::filesystem::exists(dir / "system.reg", ec)) return {};
    return dir.string();
}

namespace {

// True if another process holds a write lock on the file (the server does on its
// "lock" file for as long as it runs).
bool LockedByOther(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

}  // namespace

std::vector<std::string> WineServerFolders(const std::string& prefix, const std::string& tmp) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return {};
    // The server's folder is named after the prefix folder's device and inode.
    char server[64];
    std::snprintf(server, sizeof server, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    // Wine runs a prefix only as the user who owns it, whoever asks now (root too).
    std::vector<std::filesystem::path> bases{std::filesystem::path(tmp) / (".wine-" + std::to_string(st.st_uid))};
    if (::getuid() != st.st_uid) bases.push_back(std::filesystem::path(tmp) / (".wine-" + std::to_string(::getuid())));
    std::ifstream named(std::filesystem::path(prefix) / "wineserver");
    std::string dirName;
    if (std::getline(named, dirName) && !dirName.empty() && dirName.find('/') == std::string::npos &&
        dirName != "." && dirName != "..") {
        bases.push_back(std::filesystem::path(tmp) / dirName);
        const char* tmpdir = std::getenv("TMPDIR");
        if (tmpdir && *tmpdir && std::filesystem::path(tmpdir) != std::filesystem::path(tmp))
            bases.push_back(std::filesystem::path(tmpdir) / dirName);
    }
    std::vector<std::string> folders;
    for (const auto& base : bases) folders.push_back((base / server).string());
    return folders;
}

bool WineServerRunning(const std::string& prefix, const std::string& tmp) {
    const std::vector<std::string> folders = WineServerFolders(prefix, tmp);
    return std::any_of(folders.begin(), folders.end(),
                       [](const std::string& folder) { return LockedByOther(folder + "/lock"); });
}

std::string WinePrefixBusyReason(const std::string& prefix) {
    if (!WineServerRunning(prefix)) return {};
    return "The Wine prefix " + prefix +
           " is in use: while its programs run, Wine keeps the registry in memory and would overwrite any change "
           "made to user.reg. Close the prefix's programs (or run: WINEPREFIX=\"" + prefix +
           "\" wineserver -k) and try again. Nothing was changed.";
}

}  // namespace moatgate

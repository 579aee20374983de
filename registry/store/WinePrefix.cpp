#include "registry/store/WinePrefix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace moatgate {

std::string WinePrefixOf(const std::string& storeFile) {
    const std::filesystem::path dir = std::filesystem::path(storeFile).parent_path();
    std::error_code ec;
    if (dir.empty() || !std::filesystem::exists(dir / "system.reg", ec)) return {};
    return dir.string();
}

namespace {

// True if another process holds a write lock on the file (the server does on its
// "lock" file for as long as it runs).
bool LockedByOther(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

}  // namespace

bool WineServerRunning(const std::string& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return false;
    // The server's folder is named after the prefix folder's device and inode. It
    // lies in /tmp/.wine-<uid>, or, with Debian's Wine, in the temporary folder
    // whose name the prefix's "wineserver" file holds.
    char server[64];
    std::snprintf(server, sizeof server, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::vector<std::filesystem::path> bases{"/tmp/.wine-" + std::to_string(::getuid())};
    std::ifstream named(std::filesystem::path(prefix) / "wineserver");
    std::string dirName;
    if (std::getline(named, dirName) && !dirName.empty() && dirName.find('/') == std::string::npos) {
        const char* tmp = std::getenv("TMPDIR");
        bases.push_back(std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / dirName);
        if (tmp && *tmp) bases.push_back(std::filesystem::path("/tmp") / dirName);
    }
    for (const auto& base : bases)
        if (LockedByOther((base / server / "lock").string())) return true;
    return false;
}

std::string WinePrefixBusyReason(const std::string& prefix) {
    if (!WineServerRunning(prefix)) return {};
    return "The Wine prefix " + prefix +
           " is in use: while its programs run, Wine keeps the registry in memory and would overwrite any change "
           "made to user.reg. Close the prefix's programs (or run: WINEPREFIX=\"" + prefix +
           "\" wineserver -k) and try again. Nothing was changed.";
}

}  // namespace moatgate

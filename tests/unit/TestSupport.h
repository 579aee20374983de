// Helpers shared by the unit tests: temporary folders and small store shortcuts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "registry/SettingsKeys.h"
#include "registry/store/Enumeration.h"
#include "registry/store/RegistryApi.h"

namespace moatgate::test {

class TempDir {
public:
    TempDir() {
        std::random_device random;
        for (;;) {
            path_ = std::filesystem::temp_directory_path() / ("moatgate-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline HKEY Create(RegistryApi& reg, const std::string& path, HKEY root = HKEY_CURRENT_USER) {
    HKEY key = 0;
    DWORD disposition = 0;
    if (reg.RegCreateKeyExA(root, path, 0, "", 0, 0x3F, nullptr, &key, &disposition) != 0) return 0;
    return key;
}

inline LONG SetDword(RegistryApi& reg, HKEY key, const std::string& name, std::uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    return reg.RegSetValueExA(key, name, 0, REG_DWORD, b, 4);
}

// Assigns a site (a domain, or domain\\subdomain) of the zone map a zone for one
// protocol value ("*": every protocol).
inline void Zone(RegistryApi& reg, const std::string& site, const std::string& name, std::uint32_t zone) {
    HKEY k = Create(reg, std::string(kZoneMapKey) + "\\" + site);
    SetDword(reg, k, name, zone);
    reg.RegCloseKey(k);
}

inline LONG SetBytes(RegistryApi& reg, HKEY key, const std::string& name, DWORD type,
                     const std::string& bytes) {
    return reg.RegSetValueExA(key, name, 0, type, reinterpret_cast<const unsigned char*>(bytes.c_str()),
                              static_cast<DWORD>(bytes.size()));
}

// The value's bytes as the A functions give them, or "<status N>".
inline std::string Query(RegistryApi& reg, HKEY key, const std::string& name, DWORD* type = nullptr) {
    DWORD size = 0;
    DWORD t = 0;
    LONG s = reg.RegQueryValueExA(key, name, nullptr, &t, nullptr, &size);
    if (s) return "<status " + std::to_string(s) + ">";
    std::string data(size, '\0');
    s = reg.RegQueryValueExA(key, name, nullptr, &t, reinterpret_cast<unsigned char*>(data.data()), &size);
    if (s) return "<status " + std::to_string(s) + ">";
    data.resize(size);
    if (type) *type = t;
    return data;
}

#ifndef _WIN32
// Another process holding a write lock (fcntl) on the whole of a file, as a
// running program holds its lock file, until this object goes.
class OtherProcessLock {
public:
    explicit OtherProcessLock(const std::string& file) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            for (;;) ::pause();
        }
        char ok = 0;
        if (pid_ > 0) (void)!::read(ready[0], &ok, 1);
        ::close(ready[0]);
        ::close(ready[1]);
        held_ = ok == 1;
    }
    ~OtherProcessLock() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    OtherProcessLock(const OtherProcessLock&) = delete;
    OtherProcessLock& operator=(const OtherProcessLock&) = delete;
    bool Held() const { return held_; }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};
#endif

using moatgate::SubkeyNames;
using moatgate::ValueNames;

}  // namespace moatgate::test

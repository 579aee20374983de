// Helpers shared by the unit tests: temporary folders and small store shortcuts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

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

using moatgate::SubkeyNames;
using moatgate::ValueNames;

}  // namespace moatgate::test

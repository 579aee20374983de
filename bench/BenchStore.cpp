#include "bench/BenchStore.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "registry/NewStore.h"
#include "registry/SettingsKeys.h"
#include "registry/store/HiveRegistry.h"
#include "registry/store/WineRegFormat.h"

namespace moatgate {

std::string DomainName(int i) { return "site" + std::to_string(i * 7919 % 1000003) + ".example"; }

std::string StoreText(int n) {
    static std::map<int, std::string> cache;
    if (auto it = cache.find(n); it != cache.end()) return it->second;
    MemoryStore reg;
    SeedNewStore(reg);
    auto dword = [&](HKEY k, const char* name, std::uint32_t v) {
        const unsigned char b[4] = {static_cast<unsigned char>(v), 0, 0, 0};
        reg.RegSetValueExA(k, name, 0, REG_DWORD, b, 4);
    };
    for (int i = 0; i < n; ++i) {
        const std::string domain = std::string(kZoneMapKey) + "\\" + DomainName(i);
        HKEY k = 0;
        reg.RegCreateKeyExA(HKEY_CURRENT_USER, domain, 0, "REG_DWORD", 0, 0x3F, nullptr, &k, nullptr);
        dword(k, "*", 4);
        reg.RegCloseKey(k);
        for (int s = 0; i % 5 == 0 && s < 1 + (i / 5) % 2; ++s) {
            reg.RegCreateKeyExA(HKEY_CURRENT_USER, domain + (s ? "\\www" : "\\mail"), 0, "REG_DWORD", 0, 0x3F, nullptr,
                                &k, nullptr);
            dword(k, "http", 4);
            dword(k, "https", 4);
            reg.RegCloseKey(k);
        }
    }
    for (int i = 0; i < 2000; ++i) {
        HKEY k = 0;
        reg.RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vendor" + std::to_string(i / 40) + "\\App" + std::to_string(i),
                            0, "", 0, 0x3F, nullptr, &k, nullptr);
        for (int v = 0; v < 8; ++v) {
            const std::string data = "C:\\Program Files\\Vendor\\App" + std::to_string(i) + "\\setting" + std::to_string(v);
            reg.RegSetValueExA(k, "Setting" + std::to_string(v), 0, REG_SZ,
                               reinterpret_cast<const unsigned char*>(data.c_str()), static_cast<DWORD>(data.size()));
        }
        reg.RegCloseKey(k);
    }
    return cache[n] = WriteHiveText(reg.GetHive(), NewStorePreamble());
}

BenchDir::BenchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "moatgate-bench-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
}

BenchDir::~BenchDir() { std::filesystem::remove_all(path); }

std::string BenchDir::Write(const std::string& name, const std::string& text) const {
    const std::string file = (path / name).string();
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

std::unique_ptr<FileStore> Open(const std::string& path) {
    std::string error;
    auto store = FileStore::Open(path, error);
    if (!store) std::abort();
    return store;
}

}  // namespace moatgate

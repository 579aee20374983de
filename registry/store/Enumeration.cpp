#include "registry/store/Enumeration.h"

namespace moatgate {

bool SubkeyAt(RegistryApi& reg, HKEY key, DWORD index, std::string& name) {
    name.resize(256);
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD cch = static_cast<DWORD>(name.size());
        const LONG status = reg.RegEnumKeyExA(key, index, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            name.resize(cch);
            return true;
        }
        if (status != ERROR_MORE_DATA || cch + 1 <= name.size()) return false;
        name.resize(cch + 1);
    }
    return false;
}

bool ValueAt(RegistryApi& reg, HKEY key, DWORD index, std::string& name, std::string& data, DWORD* type) {
    name.resize(256);
    data.resize(255);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD cch = static_cast<DWORD>(name.size());
        DWORD cb = static_cast<DWORD>(data.size());
        const LONG status = reg.RegEnumValueA(key, index, name.data(), &cch, nullptr, type,
                                              reinterpret_cast<unsigned char*>(data.data()), &cb);
        if (status == ERROR_SUCCESS) {
            name.resize(cch);
            data.resize(cb);
            return true;
        }
        const bool grows = cch + 1 > name.size() || cb > data.size();
        if (status != ERROR_MORE_DATA || !grows) return false;
        if (cch + 1 > name.size()) name.resize(cch + 1);
        if (cb > data.size()) data.resize(cb);
    }
    return false;
}

std::vector<std::string> SubkeyNames(RegistryApi& reg, HKEY key) {
    std::vector<std::string> names;
    std::string name;
    for (DWORD i = 0; SubkeyAt(reg, key, i, name); ++i) names.push_back(name);
    return names;
}

std::vector<std::string> ValueNames(RegistryApi& reg, HKEY key) {
    std::vector<std::string> names;
    std::string name, data;
    for (DWORD i = 0; ValueAt(reg, key, i, name, data); ++i) names.push_back(name);
    return names;
}

void ForEachKeyBelow(RegistryApi& reg, HKEY key, const std::function<void(HKEY, const std::string&)>& visit) {
    struct Level {
        HKEY handle;
        DWORD next;               // the next subkey's index
        std::size_t pathLength;   // `path` cut to this length names this level's key
    };
    std::vector<Level> levels{{key, 0, 0}};
    std::string path, name;
    while (!levels.empty()) {
        Level& level = levels.back();
        path.resize(level.pathLength);
        if (!SubkeyAt(reg, level.handle, level.next++, name)) {
            if (levels.size() > 1) reg.RegCloseKey(level.handle);
            levels.pop_back();
            continue;
        }
        HKEY child = 0;
        if (reg.RegOpenKeyA(level.handle, name, &child) != ERROR_SUCCESS) continue;
        if (!path.empty()) path += '\\';
        path += name;
        visit(child, path);
        levels.push_back({child, 0, path.size()});
    }
}

}  // namespace moatgate

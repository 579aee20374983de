#include "registry/store/Enumeration.h"

namespace moatgate {

// Most names and data fit buffers on the stack: the strings are then given only
// what was read, not cleared to the longest size at every call.
constexpr DWORD kNameBuffer = 256;
constexpr DWORD kDataBuffer = 255;

bool SubkeyAt(RegistryApi& reg, HKEY key, DWORD index, std::string& name) {
    char buffer[kNameBuffer];
    DWORD cch = kNameBuffer;
    LONG status = reg.RegEnumKeyExA(key, index, buffer, &cch, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        name.assign(buffer, cch);
        return true;
    }
    DWORD size = kNameBuffer;  // of the buffer that was too small
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (status != ERROR_MORE_DATA || cch + 1 <= size) return false;
        name.resize(cch + 1);
        cch = size = static_cast<DWORD>(name.size());
        status = reg.RegEnumKeyExA(key, index, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            name.resize(cch);
            return true;
        }
    }
    return false;
}

bool ValueAt(RegistryApi& reg, HKEY key, DWORD index, std::string& name, std::string& data, DWORD* type) {
    char nameBuffer[kNameBuffer];
    unsigned char dataBuffer[kDataBuffer];
    DWORD cch = kNameBuffer;
    DWORD cb = kDataBuffer;
    LONG status = reg.RegEnumValueA(key, index, nameBuffer, &cch, nullptr, type, dataBuffer, &cb);
    if (status == ERROR_SUCCESS) {
        name.assign(nameBuffer, cch);
        data.assign(reinterpret_cast<const char*>(dataBuffer), cb);
        return true;
    }
    name.resize(kNameBuffer);
    data.resize(kDataBuffer);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const bool grows = cch + 1 > name.size() || cb > data.size();
        if (status != ERROR_MORE_DATA || !grows) return false;
        if (cch + 1 > name.size()) name.resize(cch + 1);
        if (cb > data.size()) data.resize(cb);
        cch = static_cast<DWORD>(name.size());
        cb = static_cast<DWORD>(data.size());
        status = reg.RegEnumValueA(key, index, name.data(), &cch, nullptr, type,
                                   reinterpret_cast<unsigned char*>(data.data()), &cb);
        if (status == ERROR_SUCCESS) {
            name.resize(cch);
            data.resize(cb);
            return true;
        }
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

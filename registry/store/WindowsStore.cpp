#include "registry/store/WindowsStore.h"

#include <cstring>
#include <string>
#include <vector>

#include "registry/store/AnsiBoundary.h"
#include "registry/store/Unicode.h"

namespace {
// Our names for what <windows.h> turns into macros.
constexpr moatgate::HKEY kCurrentUser = moatgate::HKEY_CURRENT_USER;
constexpr moatgate::HKEY kLocalMachine = moatgate::HKEY_LOCAL_MACHINE;
}  // namespace

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {
// Taken at global scope, where the macros' HKEY is the platform's.
const ::HKEY kNativeCurrentUser = HKEY_CURRENT_USER;
const ::HKEY kNativeLocalMachine = HKEY_LOCAL_MACHINE;
}  // namespace

namespace moatgate {

namespace {

// The path rebuilt without empty components, as the platform wants it.
LONG WidePath(std::string_view utf8, std::wstring& out, bool checkLengths) {
    std::vector<std::u16string> names;
    if (const LONG s = SplitKeyPath(utf8, names)) return s;
    out.clear();
    for (const auto& n : names) {
        if (checkLengths && n.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
        if (!out.empty()) out.push_back(L'\\');
        out.append(n.begin(), n.end());
    }
    return ERROR_SUCCESS;
}

LONG WideName(std::string_view utf8, std::wstring& out) {
    std::u16string name;
    if (const LONG s = ToWideName(utf8, name)) return s;
    out.assign(name.begin(), name.end());
    return ERROR_SUCCESS;
}

std::string Narrow(const wchar_t* s, std::size_t n) {
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(s), n));
}

}  // namespace

WindowsStore::~WindowsStore() {
    for (auto& [handle, native] : handles_) ::RegCloseKey(static_cast<::HKEY>(native));
}

void* WindowsStore::Native(HKEY key) const {
    if (key == kCurrentUser) return kNativeCurrentUser;
    if (key == kLocalMachine) return kNativeLocalMachine;
    const auto it = handles_.find(key);
    return it == handles_.end() ? nullptr : it->second;
}

HKEY WindowsStore::Adopt(void* native) {
    do {
        nextHandle_ += 4;
        if (nextHandle_ >= 0x80000000u || nextHandle_ < 0x100) nextHandle_ = 0x100;
    } while (handles_.count(nextHandle_));
    handles_.emplace(nextHandle_, native);
    return nextHandle_;
}

LONG WindowsStore::Open(HKEY root, std::string_view subKey, std::uint32_t access, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = 0;
    void* parent = Native(root);
    if (!parent) return ERROR_INVALID_HANDLE;
    std::wstring path;
    if (const LONG s = WidePath(subKey, path, false)) return s;
    ::HKEY opened = nullptr;
    const LONG s = ::RegOpenKeyExW(static_cast<::HKEY>(parent), path.c_str(), 0, access, &opened);
    if (s != ERROR_SUCCESS) return s;
    *result = Adopt(opened);
    return ERROR_SUCCESS;
}

LONG WindowsStore::RegOpenKeyExA(HKEY root, std::string_view subKey, DWORD, REGSAM sam, HKEY* result) {
    return Open(root, subKey, sam, result);
}

LONG WindowsStore::RegOpenKeyA(HKEY root, std::string_view subKey, HKEY* result) {
    return Open(root, subKey, MAXIMUM_ALLOWED, result);
}

LONG WindowsStore::RegCreateKeyExA(HKEY root, std::string_view subKey, DWORD, std::string_view keyClass,
                                   DWORD options, REGSAM sam, const void*, HKEY* result, DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = 0;
    void* parent = Native(root);
    if (!parent) return ERROR_INVALID_HANDLE;
    std::wstring path, cls;
    if (const LONG s = WidePath(subKey, path, true)) return s;
    if (const LONG s = WideName(keyClass, cls)) return s;
    ::HKEY created = nullptr;
    ::DWORD how = 0;
    const LONG s = ::RegCreateKeyExW(static_cast<::HKEY>(parent), path.c_str(), 0,
                                     cls.empty() ? nullptr : cls.data(), options, sam, nullptr, &created, &how);
    if (s != ERROR_SUCCESS) return s;
    if (disposition) *disposition = how;
    *result = Adopt(created);
    return ERROR_SUCCESS;
}

LONG WindowsStore::RegSetValueExA(HKEY key, std::string_view name, DWORD, DWORD type, const unsigned char* data,
                                  DWORD cb) {
    void* native = Native(key);
    if (!native) return ERROR_INVALID_HANDLE;
    std::wstring valueName;
    if (const LONG s = WideName(name, valueName)) return s;
    if (valueName.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    std::vector<unsigned char> stored;
    if (const LONG s = StoredData(type, data, cb, stored)) return s;
    return ::RegSetValueExW(static_cast<::HKEY>(native), valueName.c_str(), 0, type,
                            stored.empty() ? nullptr : stored.data(), static_cast<::DWORD>(stored.size()));
}

LONG WindowsStore::RegQueryValueExA(HKEY key, std::string_view name, DWORD*, DWORD* type, unsigned char* data,
                                    DWORD* cb) {
    void* native = Native(key);
    if (!native) return ERROR_INVALID_HANDLE;
    std::wstring valueName;
    if (const LONG s = WideName(name, valueName)) return s;
    ::DWORD t = 0, size = 0;
    LONG s = ::RegQueryValueExW(static_cast<::HKEY>(native), valueName.c_str(), nullptr, &t, nullptr, &size);
    std::vector<unsigned char> stored;
    while (s == ERROR_SUCCESS) {
        stored.resize(size);
        s = ::RegQueryValueExW(static_cast<::HKEY>(native), valueName.c_str(), nullptr, &t,
                               stored.empty() ? nullptr : stored.data(), &size);
        if (s == ERROR_MORE_DATA) {  // it grew meanwhile
            s = ERROR_SUCCESS;
            continue;
        }
        stored.resize(size);
        break;
    }
    if (s != ERROR_SUCCESS) return s;
    if (type) *type = t;
    return CopyDataOut(ExternalData(t, stored.data(), stored.size()), data, cb);
}

LONG WindowsStore::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD*, char* keyClass,
                                 DWORD* cchClass, void* lastWriteTime) {
    void* native = Native(key);
    if (!native) return ERROR_INVALID_HANDLE;
    wchar_t wname[kMaxKeyNameLength + 1];
    wchar_t wclass[1024];
    ::DWORD n = kMaxKeyNameLength + 1, c = 1024;
    ::FILETIME time{};
    const LONG s = ::RegEnumKeyExW(static_cast<::HKEY>(native), index, wname, &n, nullptr, wclass, &c, &time);
    if (s != ERROR_SUCCESS) return s;
    if (const LONG r = CopyNameOut(Narrow(wname, n), name, cchName)) return r;
    if (cchClass) {
        if (const LONG r = CopyNameOut(Narrow(wclass, c), keyClass, cchClass)) return r;
    }
    if (lastWriteTime) {
        const std::uint64_t t = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        std::memcpy(lastWriteTime, &t, sizeof t);
    }
    return ERROR_SUCCESS;
}

LONG WindowsStore::RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD*, DWORD* type,
                                 unsigned char* data, DWORD* cbData) {
    void* native = Native(key);
    if (!native) return ERROR_INVALID_HANDLE;
    std::vector<wchar_t> wname(kMaxValueNameLength + 1);
    std::vector<unsigned char> stored(256);
    for (;;) {
        ::DWORD n = static_cast<::DWORD>(wname.size());
        ::DWORD size = static_cast<::DWORD>(stored.size());
        ::DWORD t = 0;
        const LONG s = ::RegEnumValueW(static_cast<::HKEY>(native), index, wname.data(), &n, nullptr, &t,
                                       stored.data(), &size);
        if (s == ERROR_MORE_DATA && size > stored.size()) {
            stored.resize(size);
            continue;
        }
        if (s != ERROR_SUCCESS) return s;
        if (const LONG r = CopyNameOut(Narrow(wname.data(), n), name, cchName)) return r;
        if (type) *type = t;
        return CopyDataOut(ExternalData(t, stored.data(), size), data, cbData);
    }
}

LONG WindowsStore::RegDeleteKeyA(HKEY root, std::string_view subKey) {
    void* parent = Native(root);
    if (!parent) return ERROR_INVALID_HANDLE;
    std::wstring path;
    if (const LONG s = WidePath(subKey, path, false)) return s;
    // Deleting the root itself (an empty path) is never meant.
    if (path.empty()) return ERROR_ACCESS_DENIED;
    return ::RegDeleteKeyW(static_cast<::HKEY>(parent), path.c_str());
}

LONG WindowsStore::RegDeleteValueA(HKEY key, std::string_view name) {
    void* native = Native(key);
    if (!native) return ERROR_INVALID_HANDLE;
    std::wstring valueName;
    if (const LONG s = WideName(name, valueName)) return s;
    return ::RegDeleteValueW(static_cast<::HKEY>(native), valueName.c_str());
}

LONG WindowsStore::RegCloseKey(HKEY key) {
    if (key >= 0x80000000u && key <= 0x80000006u) return ERROR_SUCCESS;
    const auto it = handles_.find(key);
    if (it == handles_.end()) return ERROR_INVALID_HANDLE;
    const LONG s = ::RegCloseKey(static_cast<::HKEY>(it->second));
    handles_.erase(it);
    return s;
}

}  // namespace moatgate

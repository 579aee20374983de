// The registry seam on the real Windows registry (advapi32's wide functions), so
// no name outside the ANSI code page is mangled. Compiled only for Windows.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "registry/store/RegistryApi.h"

namespace moatgate {

class WindowsStore : public RegistryApi {
public:
    WindowsStore() = default;
    ~WindowsStore() override;
    WindowsStore(const WindowsStore&) = delete;
    WindowsStore& operator=(const WindowsStore&) = delete;

    LONG RegOpenKeyExA(HKEY root, std::string_view subKey, DWORD options, REGSAM sam, HKEY* result) override;
    LONG RegOpenKeyA(HKEY root, std::string_view subKey, HKEY* result) override;
    LONG RegCreateKeyExA(HKEY root, std::string_view subKey, DWORD reserved, std::string_view keyClass,
                         DWORD options, REGSAM sam, const void* security, HKEY* result,
                         DWORD* disposition) override;
    LONG RegSetValueExA(HKEY key, std::string_view name, DWORD reserved, DWORD type, const unsigned char* data,
                        DWORD cb) override;
    LONG RegQueryValueExA(HKEY key, std::string_view name, DWORD* reserved, DWORD* type, unsigned char* data,
                          DWORD* cb) override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, char* keyClass,
                       DWORD* cchClass, void* lastWriteTime) override;
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type,
                       unsigned char* data, DWORD* cbData) override;
    LONG RegDeleteKeyA(HKEY root, std::string_view subKey) override;
    LONG RegDeleteValueA(HKEY key, std::string_view name) override;
    LONG RegCloseKey(HKEY key) override;

private:
    void* Native(HKEY key) const;  // the platform's handle, or null
    HKEY Adopt(void* native);
    LONG Open(HKEY root, std::string_view subKey, std::uint32_t access, HKEY* result);

    std::unordered_map<HKEY, void*> handles_;
    HKEY nextHandle_ = 0x100;
};

}  // namespace moatgate

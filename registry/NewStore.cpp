#include "registry/NewStore.h"

#include <string>

#include "registry/Registry.h"
#include "registry/ScriptPolicy.h"
#include "registry/SettingsKeys.h"
#include "registry/ToolbarButton.h"

namespace moatgate {

namespace {

void CreateKey(RegistryApi& reg, std::string_view path) {
    HKEY key = 0;
    DWORD disposition = 0;
    reg.RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, "", REG_OPTION_NON_VOLATILE,
                        KEY_ALL_KEY_RIGHTS, nullptr, &key, &disposition);
    reg.RegCloseKey(key);
}

}  // namespace

void SeedNewStore(RegistryApi& reg) {
    StoreScope scope(reg, true);
    CreateKey(reg, kZoneMapKey);
    // Without the protocol defaults the browser engine maps every address to an
    // invalid zone.
    CreateKey(reg, kProtocolDefaultsKey);
    for (const char* protocol : {"http", "https", "ftp", "file"})
        WriteRegistryValue(reg, HKEY_CURRENT_USER, kProtocolDefaultsKey, protocol, std::int64_t{3},
                           static_cast<std::int32_t>(REG_DWORD));
    WriteRegistryValue(reg, HKEY_CURRENT_USER, kProtocolDefaultsKey, "@ivt", std::int64_t{1},
                       static_cast<std::int32_t>(REG_DWORD));

    CreateKey(reg, kInternetZoneKey);
    WritePolicySet(reg, PolicySet::Default);

    const std::string button = ToolbarButtonKey();
    CreateKey(reg, button);
    WriteRegistryValue(reg, HKEY_CURRENT_USER, button, "ButtonText", std::string(kToolbarButtonText),
                       static_cast<std::int32_t>(REG_SZ));
    WriteRegistryValue(reg, HKEY_CURRENT_USER, button, "Default Visible", std::string("Yes"),
                       static_cast<std::int32_t>(REG_SZ));
    WriteRegistryValue(reg, HKEY_CURRENT_USER, button, "CLSID", std::string(kToolbarButtonClsid),
                       static_cast<std::int32_t>(REG_SZ));
}

std::unique_ptr<RegistryApi> OpenSettingsStore(const EnvLookup& env, std::string& error) {
    return OpenConfiguredStore(env, error, &SeedNewStore);
}

}  // namespace moatgate

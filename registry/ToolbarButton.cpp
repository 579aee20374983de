#include "registry/ToolbarButton.h"

#include "registry/Registry.h"
#include "registry/SettingsKeys.h"

namespace moatgate {

std::string ToolbarButtonKey() { return std::string(kBrowserExtensionsKey) + "\\" + std::string(kToolbarButtonId); }

void RegisterToolbarButton(RegistryApi& reg, const ProgramLocation& program) {
#ifdef _WIN32
    const std::string separator = "\\";
    const std::string exec = program.folder + "\\" + program.fileName + ".exe";
#else
    const std::string separator = "/";
    const std::string exec = program.filePath;
#endif
    const std::string key = ToolbarButtonKey();
    const auto sz = static_cast<std::int32_t>(REG_SZ);
    WriteRegistryValue(reg, HKEY_CURRENT_USER, key, "Exec", exec, sz);
    WriteRegistryValue(reg, HKEY_CURRENT_USER, key, "Icon", program.folder + separator + "ZavavId.ico", sz);
    WriteRegistryValue(reg, HKEY_CURRENT_USER, key, "HotIcon", program.folder + separator + "TrustHot.ico", sz);
}

}  // namespace moatgate

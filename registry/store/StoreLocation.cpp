#include "registry/store/StoreLocation.h"

#include <filesystem>

#ifdef _WIN32
#include "registry/store/WindowsStore.h"
#else
#include <sys/stat.h>

#include "registry/store/FileStore.h"
#include "registry/store/WinePrefix.h"
#endif

namespace moatgate {

namespace {

bool Set(const char* v) { return v && *v; }

}  // namespace

StoreLocation ChooseStoreLocation(const EnvLookup& env) {
    StoreLocation loc;
    if (const char* explicitPath = env("MOATGATE_REGISTRY"); Set(explicitPath)) {
        loc.path = explicitPath;
    } else if (const char* prefix = env("WINEPREFIX"); Set(prefix)) {
        loc.winePrefix = prefix;
        loc.path = (std::filesystem::path(prefix) / "user.reg").string();
    } else {
        std::filesystem::path data;
        if (const char* xdg = env("XDG_DATA_HOME"); Set(xdg) && xdg[0] == '/')
            data = xdg;
        else if (const char* home = env("HOME"); Set(home))
            data = std::filesystem::path(home) / ".local" / "share";
        else
            data = ".";
        loc.path = (data / "moatgate" / "user.reg").string();
    }
    return loc;
}

#ifdef _WIN32
std::unique_ptr<RegistryApi> OpenConfiguredStore(const EnvLookup&, std::string&, const NewStoreContents&) {
    // On Windows the store is the registry itself.
    return std::make_unique<WindowsStore>();
}
#else
std::unique_ptr<RegistryApi> OpenConfiguredStore(const EnvLookup& env, std::string& error,
                                                 const NewStoreContents& contents) {
    const StoreLocation loc = ChooseStoreLocation(env);
    const std::filesystem::path dir = std::filesystem::path(loc.path).parent_path();
    if (!loc.winePrefix.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(loc.winePrefix, ec)) {
            error = "The Wine prefix " + loc.winePrefix + " does not exist (WINEPREFIX).";
            return nullptr;
        }
    } else if (!dir.empty()) {
        // The program's own folder is private to its user.
        std::error_code ec;
        if (!std::filesystem::exists(dir, ec)) {
            std::filesystem::create_directories(dir, ec);
            if (ec) {
                error = "cannot create " + dir.string() + ": " + ec.message();
                return nullptr;
            }
            ::chmod(dir.c_str(), 0700);
        }
    }
    // Never write a Wine prefix's registry behind its running server's back.
    const std::vector<std::string> prefixes = GuardedPrefixes(loc);
    FileStore::WriteGuard guard;
    if (!prefixes.empty()) {
        guard = [prefixes] {
            for (const auto& prefix : prefixes)
                if (std::string reason = WinePrefixBusyReason(prefix); !reason.empty()) return reason;
            return std::string();
        };
    }
    return FileStore::Open(loc.path, error, std::move(guard), contents);
}

std::vector<std::string> GuardedPrefixes(const StoreLocation& loc) {
    std::vector<std::string> prefixes;
    if (!loc.winePrefix.empty()) prefixes.push_back(loc.winePrefix);
    // The prefix the file really lies in, when a link leads there from elsewhere.
    const std::string real = WinePrefixOf(loc.path);
    std::error_code ec;
    if (!real.empty() && (prefixes.empty() || !std::filesystem::equivalent(real, prefixes.front(), ec)))
        prefixes.push_back(real);
    return prefixes;
}

#endif

}  // namespace moatgate

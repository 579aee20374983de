#include "registry/ScriptPolicy.h"

#include <charconv>
#include <optional>
#include <string>

#include "registry/Registry.h"
#include "registry/SettingsKeys.h"

namespace moatgate {

using K = ZoneAction::Kind;

// Secured, prompting, default. "1A00": the protected sets make the browser ask
// before it hands the user's name and password to a site; the default set logs
// on automatically only in the intranet zone, the browser's usual setting.
// "1C00" is the 32-bit number whose little-endian bytes are stored.
const std::array<ZoneAction, 28> kZoneActions = {{
    {"1001", K::Dword16, 3, 1, 1, true},
    {"1004", K::Dword16, 3, 1, 3, true},
    {"1200", K::Dword16, 3, 1, 0, true},
    {"1201", K::Dword16, 3, 1, 3, true},
    {"1206", K::Dword16, 3, 1, 1, true},
    {"1400", K::Dword16, 3, 1, 0, true},
    {"1402", K::Dword16, 3, 1, 0, true},
    {"1405", K::Dword16, 3, 1, 0, true},
    {"1406", K::Dword16, 3, 1, 3, true},
    {"1407", K::Dword16, 3, 1, 0, false},
    {"1604", K::Dword16, 1, 1, 0, false},
    {"1605", K::Dword16, 3, 1, 0, true},
    {"1606", K::Dword16, 0, 0, 0, false},
    {"1607", K::Dword16, 0, 0, 0, false},
    {"1608", K::Dword16, 0, 0, 0, false},
    {"1609", K::Dword16, 3, 1, 1, true},
    {"1800", K::Dword16, 3, 1, 1, true},
    {"1802", K::Dword16, 3, 1, 0, true},
    {"1803", K::Dword16, 0, 0, 0, false},
    {"1804", K::Dword16, 3, 1, 1, true},
    {"1805", K::Dword16, 3, 1, 1, true},
    {"1806", K::Dword16, 3, 1, 1, true},
    {"2001", K::Dword16, 3, 1, 0, true},
    {"2004", K::Dword16, 3, 1, 0, true},
    {"1A00", K::Dword32, kLogonPrompt, kLogonPrompt, kLogonAutomaticIntranet, true},
    {"1C00", K::Binary4, 0, 0, 0x10000, true},
    {"1E05", K::Dword32, 65536, 65536, 65536, true},
    {"CurrentLevel", K::Dword16, 9, 9, 9, false},
}};

void WritePolicySet(RegistryApi& reg, PolicySet set) {
    // Value by value, but stored as one change: a set is never left half written.
    StoreScope scope(reg, true);
    for (const ZoneAction& a : kZoneActions) {
        const std::uint32_t v = a.In(set);
        if (a.kind == K::Binary4) {
            const std::string bytes{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                                    static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
            WriteRegistryValue(reg, HKEY_CURRENT_USER, kInternetZoneKey, a.code, bytes,
                               static_cast<std::int32_t>(REG_BINARY));
        } else {
            WriteRegistryValue(reg, HKEY_CURRENT_USER, kInternetZoneKey, a.code,
                               static_cast<std::int64_t>(v), static_cast<std::int32_t>(REG_DWORD));
        }
    }
}

namespace {

// The number a value's text stands for, if it is one.
std::optional<long long> AsNumber(const std::string& text) {
    long long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return n;
}

}  // namespace

ProtectionState ScriptPolicyState(RegistryApi& reg) {
    StoreScope scope(reg, false);  // one consistent reading
    auto read = [&](std::string_view code) {
        return AsNumber(ReadRegistryValueText(reg, HKEY_CURRENT_USER, kInternetZoneKey, code));
    };
    ProtectionState state = kSecured;
    for (const ZoneAction& a : kZoneActions) {
        if (!a.tested || a.kind != ZoneAction::Kind::Dword16) continue;
        const auto n = read(a.code);
        if (!n || *n == kAllow) {
            state = kNotSecured;  // allowed, or not known to be disallowed
        } else if (*n == kPrompt && state == kSecured) {
            state = kPrompting;
        }
    }
    // A browser that logs on by itself hands the user's credentials to sites.
    const auto logon = read("1A00");
    if (!logon || (*logon != kLogonPrompt && *logon != kLogonAnonymous)) state = kNotSecured;
    const auto java = read("1C00");
    if (!java || *java != 0) state = kNotSecured;
    const auto channels = read("1E05");
    if (!channels || *channels != 65536) state = kNotSecured;
    return state;
}

}  // namespace moatgate

// The keys of the current user's settings that the program reads and writes.
#pragma once

#include <string_view>

namespace moatgate {

inline constexpr std::string_view kZoneMapKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";
inline constexpr std::string_view kProtocolDefaultsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\ProtocolDefaults";
inline constexpr std::string_view kInternetZoneKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\3";
inline constexpr std::string_view kBrowserExtensionsKey =
    "Software\\Microsoft\\Internet Explorer\\Extensions";

// The toolbar button's own identifier; fixed for good, the browser keys on it.
inline constexpr std::string_view kToolbarButtonId = "{5E2C8B1A-7D43-4F6E-9A21-3C0B8D9E4F57}";
// The browser's class for buttons that start a program.
inline constexpr std::string_view kToolbarButtonClsid = "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}";
inline constexpr std::string_view kToolbarButtonText = "Moatgate";

}  // namespace moatgate

// The Internet zone's script policy: its action values in three sets, as one
// table, and the protection state they give.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "registry/store/RegistryApi.h"

namespace moatgate {

enum class PolicySet { Secured, Prompting, Default };

// The state the Internet zone's values put the browser in.
enum ProtectionState : std::uint8_t {
    kSecured = 0,     // scripts and plug-ins off outside the trusted sites
    kPrompting = 1,   // the browser asks before it runs them
    kNotSecured = 2,  // any site may run them
};

// The browser's meaning of an ordinary action's value.
enum ActionValue : std::uint32_t { kAllow = 0, kPrompt = 1, kDisallow = 3 };

// "1A00" (logon): what the browser does when a site asks for credentials.
enum LogonAction : std::uint32_t {
    kLogonAutomatic = 0x00000,           // the current user's name and password, to any site
    kLogonPrompt = 0x10000,              // asks for a name and password
    kLogonAutomaticIntranet = 0x20000,   // automatic in the intranet zone only
    kLogonAnonymous = 0x30000,           // anonymous logon only
};

struct ZoneAction {
    enum class Kind { Dword16, Dword32, Binary4 };
    std::string_view code;
    Kind kind;
    std::uint32_t secured;
    std::uint32_t prompting;
    std::uint32_t byDefault;
    bool tested;

    std::uint32_t In(PolicySet set) const {
        return set == PolicySet::Secured ? secured : set == PolicySet::Prompting ? prompting : byDefault;
    }
};

// In the order the values are written.
extern const std::array<ZoneAction, 28> kZoneActions;

// Writes one set whole, value by value in table order, into the existing
// Internet zone key (nothing is written if the key is missing), as one change
// of the store.
void WritePolicySet(RegistryApi& reg, PolicySet set);

// The protection state the Internet zone's values give. A tested value that is
// missing or no number counts as not secured: what cannot be shown to be
// secured is not.
ProtectionState ScriptPolicyState(RegistryApi& reg);

}  // namespace moatgate

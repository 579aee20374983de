// The Internet zone's action values in their three sets, as one table.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "RegistryApi.h"

namespace moatgate {

enum class PolicySet { Secured, Prompting, Default };

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
// Internet zone key (nothing is written if the key is missing).
void WritePolicySet(RegistryApi& reg, PolicySet set);

// The protection state the Internet zone's values give: 0 secured, 1 prompting,
// 2 not secured. A tested value that is missing or no number counts as not
// secured: what cannot be shown to be secured is not.
std::uint8_t ScriptPolicyState(RegistryApi& reg);

}  // namespace moatgate

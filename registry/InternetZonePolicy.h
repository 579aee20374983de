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

}  // namespace moatgate

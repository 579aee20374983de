// The browser's toolbar button that starts the program: its entry points at the
// program's current location on every start.
#pragma once

#include <string>

#include "registry/store/RegistryApi.h"

namespace moatgate {

// Where the running program is.
struct ProgramLocation {
    std::string folder;    // no trailing separator
    std::string fileName;  // without its extension
    std::string filePath;  // the program file itself
};

std::string ToolbarButtonKey();

// Writes "Exec", "Icon" and "HotIcon" into the existing button key (nothing is
// written when the key is missing). On Windows "Exec" is the folder, "\", the
// file name and ".exe"; elsewhere the path of the running program file. The
// icons are named with the platform's own separator.
void RegisterToolbarButton(RegistryApi& reg, const ProgramLocation& program);

}  // namespace moatgate

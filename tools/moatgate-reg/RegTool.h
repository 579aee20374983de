// moatgate-reg: the registry command-line tool over Moatgate's store, with the
// syntax and output of the Windows `reg` command for query, add, delete, export
// and import.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "registry/store/RegistryApi.h"

namespace moatgate {

// Runs one command; `args` excludes the program name. Questions (overwrite?
// delete?) are asked on `out` and answered from `in`. Returns the exit code:
// 0 on success, 1 on failure (with a message on `err`).
int RunRegTool(const std::vector<std::string>& args, RegistryApi& reg, std::istream& in, std::ostream& out,
               std::ostream& err);

// Whether the command moves a whole .reg file in or out (export, import), and so
// holds that file's text besides the store's.
bool RegToolMovesAFile(const std::vector<std::string>& args);

// The usage text.
std::string RegToolUsage();

}  // namespace moatgate

// The registry editor's .reg files: reading them for import ("Windows Registry
// Editor Version 5.00" or "REGEDIT4") and writing them for export (version 5.00,
// UTF-16 with a byte-order mark and CRLF line ends, as the registry editor writes).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry/store/RegistryApi.h"

namespace moatgate {

// A key named on the command line or in a file: "HKCU\..." or "HKEY_CURRENT_USER\...".
enum class RootCheck { CurrentUser, OtherRoot, NotAKey };
// On CurrentUser, `path` is the part after the root without trailing separators.
RootCheck SplitRootedKey(std::string_view text, std::string& path);

struct RegFileOp {
    enum class Kind { CreateKey, DeleteTree, SetValue, DeleteValue };
    Kind kind = Kind::CreateKey;
    std::string key;   // relative to HKEY_CURRENT_USER
    std::string name;  // value name
    DWORD type = 0;
    std::string data;  // as RegSetValueExA takes it (string types in UTF-8)
};

struct RegFileError {
    std::size_t line = 0;
    std::string message;
};

// Reads a whole file; nothing is applied here, so a bad file changes nothing.
bool ParseRegFile(std::string_view bytes, std::vector<RegFileOp>& ops, RegFileError& error);

// Applies the operations as one change: all of them, or (where the store can
// drop changes) none. Returns 0 or the status of the failing step, with `error`.
LONG ApplyRegFile(RegistryApi& reg, const std::vector<RegFileOp>& ops, std::string& error);

// Deletes a key with everything below it.
LONG DeleteKeyTree(RegistryApi& reg, const std::string& path);

// The .reg text of a key and everything below it, as UTF-8 with CRLF line ends;
// `name` is the key's full name as it is to appear ("HKEY_CURRENT_USER\...").
std::string ExportRegText(RegistryApi& reg, HKEY key, const std::string& name);
// UTF-8 to the file's encoding: UTF-16LE behind a byte-order mark.
std::string EncodeRegFile(std::string_view utf8);

}  // namespace moatgate

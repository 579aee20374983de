// The registry editor's .reg files: reading them for import ("Windows Registry
// Editor Version 5.00" or "REGEDIT4") and writing them for export (version 5.00,
// UTF-16 with a byte-order mark and CRLF line ends, as the registry editor writes).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "registry/store/RegistryApi.h"

namespace moatgate {

// A key named on the command line or in a file: "HKCU\..." or "HKEY_CURRENT_USER\...".
enum class RootCheck { CurrentUser, OtherRoot, NotAKey };
// On CurrentUser, `path` is the part after the root without trailing separators.
RootCheck SplitRootedKey(std::string_view text, std::string& path);

// One step of an import as the file gives it; the texts are views into the
// RegFileOps it belongs to.
struct RegFileOp {
    enum class Kind { CreateKey, DeleteTree, SetValue, DeleteValue };
    Kind kind = Kind::CreateKey;
    std::string_view key;   // relative to HKEY_CURRENT_USER
    std::string_view name;  // value name
    DWORD type = 0;
    std::string_view data;  // as RegSetValueExA takes it (string types in UTF-8); a NUL follows it
};

// Every step of a file, kept compactly: one text holds the names and data, and
// a key's path only where it parts from the path of the key before (files list
// keys in order, so most paths share a long beginning). Read in order.
class RegFileOps {
public:
    std::size_t size() const { return steps_.size(); }
    bool empty() const { return steps_.empty(); }
    void clear();
    // Room for the steps of a text of about `bytes` bytes.
    void Reserve(std::size_t bytes);

    // For reading a file; false when the file is too large to be kept so.
    bool AddKey(RegFileOp::Kind kind, std::string_view path);
    // A value step of the last key added.
    bool AddValue(RegFileOp::Kind kind, std::string_view name, DWORD type, std::string_view data);

    // The steps one after another; a step's texts stay valid until the next.
    class Reader {
    public:
        explicit Reader(const RegFileOps& ops) : ops_(ops) {}
        bool Next(RegFileOp& op);

    private:
        const RegFileOps& ops_;
        std::size_t next_ = 0;
        std::string key_;
    };

private:
    struct Step {
        RegFileOp::Kind kind;
        DWORD type;  // a key's step: how much of the path before its path shares
        std::uint32_t aBegin, aSize;  // a key's step: the rest of its path; a value's: its name
        std::uint32_t bBegin, bSize;  // a value's data
    };
    bool Append(std::string_view text, std::uint32_t& begin, std::uint32_t& size, bool terminated);

    std::vector<Step> steps_;
    std::string text_;
    std::string lastPath_;  // of the last key added
};

struct RegFileError {
    std::size_t line = 0;
    std::string message;
};

// Reads a whole file; nothing is applied here, so a bad file changes nothing.
bool ParseRegFile(std::string_view bytes, RegFileOps& ops, RegFileError& error);
// The same from the file at `path`, read without keeping its bytes beside their
// text. With error.line 0 the file could not be read at all.
bool ParseRegFileAt(const std::string& path, RegFileOps& ops, RegFileError& error);

// Applies the operations as one change: all of them, or (where the store can
// drop changes) none. Returns 0 or the status of the failing step, with `error`.
// The operations' memory is given back before the change is stored.
LONG ApplyRegFile(RegistryApi& reg, RegFileOps ops, std::string& error);

// Deletes a key with everything below it.
LONG DeleteKeyTree(RegistryApi& reg, const std::string& path);

// The .reg text of a key and everything below it, as UTF-8 with CRLF line ends;
// `name` is the key's full name as it is to appear ("HKEY_CURRENT_USER\...").
std::string ExportRegText(RegistryApi& reg, HKEY key, const std::string& name);
// The same as a file's bytes (EncodeRegFile's), written to `out` as they are made
// rather than kept whole; false when `out` failed.
bool ExportRegFile(RegistryApi& reg, HKEY key, const std::string& name, std::ostream& out);
// UTF-8 to the file's encoding: UTF-16LE behind a byte-order mark.
std::string EncodeRegFile(std::string_view utf8);

}  // namespace moatgate

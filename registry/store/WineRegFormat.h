// Wine's registry text format ("WINE REGISTRY Version 2"): reading a file into a
// hive, and writing a hive back so that every key that did not change keeps its
// text byte for byte, while changed and new keys are written as Wine writes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/store/Hive.h"

namespace moatgate {

inline constexpr std::string_view kWineRegistryHeader = "WINE REGISTRY Version 2";

// Where each key's text stands in the file the hive was read from (or last
// written to). Keys refer to their blocks by a number that stays theirs across
// saves (HiveKey::AddBlock), so a save touches only the keys that changed.
struct FileLayout {
    struct Block {
        HiveKey* key = nullptr;  // null once the key is gone
        std::size_t gapBegin = 0;   // blank and comment lines before the header
        std::size_t bodyBegin = 0;  // the header line
        std::size_t bodyEnd = 0;    // after the key's last option or value line
    };
    std::string text;
    std::size_t preambleEnd = 0;  // header, comments and global options
    std::vector<Block> blocks;          // by number; key null: no longer written
    std::vector<std::uint32_t> order;   // the numbers of the blocks in file order
    std::size_t trailerBegin = 0;
};

struct ParseError {
    std::size_t line = 0;
    std::string message;  // "Malformed value '...'"
};

// Reads `text` into an empty hive. False for a file Wine would reject or a line
// it could not take as written; the hive is then incomplete and must be dropped.
bool LoadRegistryText(std::string text, Hive& hive, FileLayout& layout, ParseError& error);

// The text of the hive. Updates `layout` (and the keys' blocks, and the hive's
// record of what changed) to describe the returned text: the caller must either
// store that text or reload the hive.
const std::string& SaveRegistryText(Hive& hive, FileLayout& layout);

// The start of a file that does not exist yet: the header and the comment Wine
// writes for a user hive, no architecture line (so it suits any prefix).
std::string NewStorePreamble();
// The whole hive written anew as Wine writes it, after `preamble`.
std::string WriteHiveText(const Hive& hive, std::string_view preamble);

// Wine's escaping of names and strings, one UTF-16 unit at a time.
void AppendEscaped(std::string& out, std::u16string_view s, bool keyName);
// Reads an escaped string up to `endChar`; `pos` ends after it. False if missing.
bool ParseEscaped(std::string_view line, std::size_t& pos, char endChar, std::u16string& out);

}  // namespace moatgate

// Wine's registry text format ("WINE REGISTRY Version 2"): reading a file into a
// hive, and writing a hive back so that every key that did not change keeps its
// text byte for byte, while changed and new keys are written as Wine writes them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry/store/Hive.h"

namespace moatgate {

inline constexpr std::string_view kWineRegistryHeader = "WINE REGISTRY Version 2";

// Where each key's text stands in the file the hive was read from (or last
// written to). Keys refer to their blocks by a number that stays theirs across
// saves (Hive::AddBlock), so a save touches only the keys that changed. The text
// and the blocks are shared with the hive, whose keys read their values from
// them when first asked.
struct FileLayout {
    using Block = HiveText::Block;
    std::shared_ptr<HiveText> source = std::make_shared<HiveText>();
    std::size_t preambleEnd = 0;  // header, comments and global options
    LargeVector<std::uint32_t> order;  // the numbers of the blocks in file order
    std::size_t trailerBegin = 0;
    const std::string& text() const { return source->text; }
};

struct ParseError {
    std::size_t line = 0;
    std::string message;  // "Malformed value: text after the data '...'"
    // True when only lines were left out and the rest of the file was read; false
    // when the file is rejected whole (as Wine rejects it) and nothing was read.
    bool partlyRead = false;
};

// Files this large are refused: block positions are kept in 32 bits.
inline constexpr std::size_t kMaxRegistryFileSize = 0xFFFFFFFFu;

// Reads `text` into an empty hive. True when every line was taken exactly as
// written, so that any key can be written anew without changing what a line
// meant. Otherwise false, with the first line that could not be in `error`: a
// line whose text would be altered or lost (data Wine reads differently from
// what it says, text that is not UTF-8, an unknown escape, anything after the
// data), a key or name beyond the platform's limits, or one Wine rejects. With
// error.partlyRead the hive holds everything else, read as Wine reads it (keys
// beyond the limits included, so that they can be seen), and must never be
// written back.
bool LoadRegistryText(std::string text, Hive& hive, FileLayout& layout, ParseError& error);

// The values the block `block` of `text` holds, in file order, as a reading of
// the whole file takes them (lines left out then are left out now); for keys
// whose values were left in the text.
void ReadBlockValues(const HiveText& text, std::uint32_t block, std::vector<HiveValue>& values);
// The same for a block of at most a few values, in the registry's order, none
// left out: then true, with `values` being the key's values; false when unsure.
// Reuses the memory of what `values` held.
bool PeekBlockValues(const HiveText& text, std::uint32_t block, std::vector<HiveValue>& values);

// The text of the hive. Updates `layout` (and the keys' blocks, and the hive's
// record of what changed) to describe the returned text: the caller must either
// store that text or reload the hive.
const std::string& SaveRegistryText(Hive& hive, FileLayout& layout);

// Takes a part of a text; false when it could not.
using TextSink = std::function<bool(std::string_view)>;
// The same text handed to `write` in parts of about `part` bytes, never kept
// whole: for a save that writes many keys anew, whose text would otherwise sit in
// memory beside them. False when `write` failed (nothing more is handed on then).
// Either way the hive and `layout` describe no text any more: the caller must
// read the file again before using them.
bool StreamRegistryText(Hive& hive, FileLayout& layout, const TextSink& write, std::size_t part = 256 * 1024);

// The start of a file that does not exist yet: the header and the comment Wine
// writes for a user hive, no architecture line (so it suits any prefix).
std::string NewStorePreamble();
// The whole hive written anew as Wine writes it, after `preamble`.
std::string WriteHiveText(const Hive& hive, std::string_view preamble);

// Wine's escaping of names and strings, one UTF-16 unit at a time.
void AppendEscaped(std::string& out, std::u16string_view s, bool keyName);
// Reads an escaped string up to `endChar`; `pos` ends after it. False if missing.
// `problem`, when given and empty, gets why the text would not read back the same
// once written as Wine writes it (an unknown escape, bytes that are not UTF-8).
bool ParseEscaped(std::string_view line, std::size_t& pos, char endChar, std::u16string& out,
                  std::string* problem = nullptr);

}  // namespace moatgate

#include "registry/store/WineRegFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unordered_map>
#include <utility>

#include "registry/store/AnsiBoundary.h"
#include "registry/store/LargePages.h"
#include "registry/store/Unicode.h"

namespace moatgate {

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000ull;
constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;
constexpr std::string_view kUserHiveComment =
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
// The value of each byte as a hexadecimal digit; -1 for any other byte. A table:
// every key's #time line is sixteen digits, read without a branch per digit.
constexpr auto kHexDigits = [] {
    std::array<signed char, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] = static_cast<signed char>(
            c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1);
    return table;
}();
bool IsHex(char c) { return kHexDigits[static_cast<unsigned char>(c)] >= 0; }
int HexValue(char c) { return kHexDigits[static_cast<unsigned char>(c)]; }

// Lowercase hexadecimal, at least `width` digits.
void AppendHex(std::string& out, unsigned v, int width) {
    static const char digits[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
        buf[7 - n++] = digits[v & 15];
        v >>= 4;
    } while (v);
    while (n < width && n < 8) buf[7 - n++] = '0';
    out.append(buf + 8 - n, static_cast<std::size_t>(n));
}


// Skips blanks (as Wine's isspace does) from `p`; true if only blanks were left.
bool OnlyBlanksFrom(std::string_view s, std::size_t p) {
    while (p < s.size() && IsSpace(s[p])) ++p;
    return p == s.size();
}

// The lines of a text, one at a time, without their line ends (nor a "\r"
// before one).
struct Lines {
    explicit Lines(std::string_view all, std::size_t from = 0) : text(all), next(from) {}
    bool Next() {
        if (next >= text.size()) return false;
        begin = next;
        const void* newline = std::memchr(text.data() + next, '\n', text.size() - next);
        const std::size_t end =
            newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text.data()) : text.size();
        next = newline ? end + 1 : end;
        line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number;
        return true;
    }
    bool HasNul() const { return std::memchr(line.data(), '\0', line.size()) != nullptr; }

    std::string_view text;
    std::string_view line;
    std::size_t begin = 0;
    std::size_t next = 0;
    std::size_t number = 0;
};

// The first line that cannot be taken exactly as written, for the loader; a later
// reading of a block's values (error null) only leaves such lines out again.
struct Faults {
    ParseError* error = nullptr;
    bool writable = true;

    // Always false, so that a reader can return it. The message quotes the line.
    bool Fail(std::size_t line, std::string_view lineText, std::string_view what, std::string_view problem = {}) {
        if (writable && error) {
            std::string message(what);
            if (!problem.empty()) (message += ": ") += problem;
            FailWith(line, message + " '" + PrintableExcerpt(lineText) + "'");
        }
        writable = false;
        return false;
    }
    void FailWith(std::size_t line, std::string message) {
        if (writable && error) {
            error->line = line;
            error->message = std::move(message);
        }
        writable = false;
    }
};

// Hex bytes separated by commas; a line that ends in `\` goes on in the next.
bool ReadHex(Lines& lines, std::string_view s, std::vector<unsigned char>& data, Faults& faults) {
    const std::size_t valueLine = lines.number;
    for (;;) {
        std::size_t i = 0;
        while (i < s.size() && IsHex(s[i])) {
            unsigned v = 0;
            while (i < s.size() && IsHex(s[i])) {
                v = (v << 4) | static_cast<unsigned>(HexValue(s[i++]));
                if (v > 0xFF) return faults.Fail(lines.number, lines.line, "Malformed value", "a byte above ff");
            }
            data.push_back(static_cast<unsigned char>(v));
            while (i < s.size() && IsSpace(s[i])) ++i;
            if (i < s.size() && s[i] == ',') ++i;
            while (i < s.size() && IsSpace(s[i])) ++i;
        }
        while (i < s.size() && IsSpace(s[i])) ++i;
        if (i == s.size()) return true;
        if (s[i] != '\\' || !OnlyBlanksFrom(s, i + 1)) return faults.Fail(lines.number, lines.line, "Malformed value");
        if (!lines.Next())
            return faults.Fail(valueLine, lines.line, "Malformed value", "the data goes on past the end");
        if (lines.HasNul()) return faults.Fail(lines.number, lines.line, "Malformed value", "a NUL byte");
        s = lines.line;
        std::size_t j = 0;
        while (j < s.size() && IsSpace(s[j])) ++j;
        s.remove_prefix(j);
    }
}

// Reads the value on the current line, from its '@' or '"' at `p`, and the lines
// it goes on to. False when it is left out; a value kept although the file must
// not be written (a name beyond the platform's limits) is told to `faults` too.
bool ReadValueLine(Lines& lines, std::size_t p, HiveValue& value, Faults& faults) {
    const std::string_view line = lines.line;
    std::string problem;
    value.name.clear();
    value.data.clear();
    if (line[p] == '@') {
        ++p;
    } else {
        ++p;
        if (!ParseEscaped(line, p, '"', value.name, &problem))
            return faults.Fail(lines.number, line, "Malformed value name");
        if (!problem.empty()) return faults.Fail(lines.number, line, "Malformed value name", problem);
    }
    while (p < line.size() && IsSpace(line[p])) ++p;
    if (p >= line.size() || line[p] != '=') return faults.Fail(lines.number, line, "Malformed value name");
    ++p;
    while (p < line.size() && IsSpace(line[p])) ++p;
    const std::string_view rest = line.substr(p);

    auto startsWith = [&](std::string_view tag) { return rest.substr(0, tag.size()) == tag; };
    if (startsWith("\"") || startsWith("str:\"") || startsWith("str(2):\"") || startsWith("str(7):\"")) {
        std::size_t tag = 1;
        value.type = REG_SZ;
        if (startsWith("str:\"")) tag = 5;
        if (startsWith("str(2):\"")) {
            tag = 8;
            value.type = REG_EXPAND_SZ;
        }
        if (startsWith("str(7):\"")) {
            tag = 8;
            value.type = REG_MULTI_SZ;
        }
        std::size_t i = p + tag;
        std::u16string s;
        if (!ParseEscaped(line, i, '"', s, &problem)) return faults.Fail(lines.number, line, "Malformed value");
        if (problem.empty() && !OnlyBlanksFrom(line, i)) problem = "text after the data";
        if (!problem.empty()) return faults.Fail(lines.number, line, "Malformed value", problem);
        value.data.reserve(s.size() * 2 + 2);
        AppendUtf16Le(s, value.data);
        value.data.insert(value.data.end(), {0, 0});  // as loaded, a string gets its terminator
    } else if (startsWith("dword:")) {
        // As Wine reads it (a C hexadecimal number; nothing at all is 0), but
        // only a number that fits and nothing after it.
        value.type = REG_DWORD;
        std::size_t i = 6;
        while (i < rest.size() && IsSpace(rest[i])) ++i;
        bool prefixed = false;
        if (i + 1 < rest.size() && rest[i] == '0' && (rest[i + 1] == 'x' || rest[i + 1] == 'X')) {
            i += 2;
            prefixed = true;
        }
        const std::size_t digits = i;
        std::uint64_t v = 0;
        while (i < rest.size() && IsHex(rest[i]) && v <= 0xFFFFFFFFull)
            v = (v << 4) | static_cast<unsigned>(HexValue(rest[i++]));
        if (v > 0xFFFFFFFFull)
            return faults.Fail(lines.number, line, "Malformed value", "the number does not fit in 32 bits");
        if ((prefixed && i == digits) || !OnlyBlanksFrom(rest, i))
            return faults.Fail(lines.number, line, "Malformed value", "not a hexadecimal number");
        value.data = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                      static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    } else if (startsWith("hex:") || startsWith("hex(")) {
        std::size_t i = 4;
        value.type = REG_BINARY;
        if (startsWith("hex(")) {
            std::uint64_t t = 0;
            const std::size_t digits = i;
            while (i < rest.size() && IsHex(rest[i]) && t <= 0xFFFFFFFFull)
                t = (t << 4) | static_cast<unsigned>(HexValue(rest[i++]));
            if (i == digits || t > 0xFFFFFFFFull || rest.substr(i, 2) != "):")
                return faults.Fail(lines.number, line, "Malformed value");
            value.type = static_cast<DWORD>(t);
            i += 2;
        }
        if (!ReadHex(lines, rest.substr(i), value.data, faults)) return false;
    } else {
        return faults.Fail(lines.number, line, "Malformed value");
    }
    if (value.name.size() > kMaxValueNameLength)
        faults.Fail(lines.number, lines.line, "Value name longer than 16383 characters");
    return true;
}

// Whether a value line plainly reads back as written, without reading it: a
// printable ASCII name without escapes, and a dword of up to eight digits or a
// printable ASCII string whose only escapes are \\ and \". Anything else (and
// anything this is unsure of) takes the full reading.
bool PlainValueLine(std::string_view line, std::size_t p) {
    const char* s = line.data();
    const std::size_t n = line.size();
    if (s[p] == '"') {
        const std::size_t start = ++p;
        while (p < n && s[p] != '"') {
            const auto c = static_cast<unsigned char>(s[p]);
            if (c < 0x20 || c > 0x7E || c == '\\') return false;
            ++p;
        }
        if (p >= n || p - start > kMaxValueNameLength) return false;
    }
    ++p;  // past '@' or the closing quote
    while (p < n && IsSpace(s[p])) ++p;
    if (p >= n || s[p] != '=') return false;
    ++p;
    while (p < n && IsSpace(s[p])) ++p;
    if (n - p >= 6 && std::memcmp(s + p, "dword:", 6) == 0) {
        p += 6;
        const std::size_t digits = p;
        while (p < n && IsHex(s[p]) && p - digits < 8) ++p;
        return OnlyBlanksFrom(line, p);
    }
    if (p < n && s[p] == '"') {
        for (++p; p < n && s[p] != '"'; ++p) {
            const auto c = static_cast<unsigned char>(s[p]);
            if (c == '\\') {
                if (p + 1 >= n || (s[p + 1] != '\\' && s[p + 1] != '"')) return false;
                ++p;
            } else if (c < 0x20 || c > 0x7E) {
                return false;
            }
        }
        return p < n && OnlyBlanksFrom(line, p + 1);
    }
    return false;
}

// Reads a value line that PlainValueLine accepts, without the full reading's
// detours; false (and nothing read) for any other line.
bool ReadPlainValue(std::string_view line, std::size_t p, HiveValue& value) {
    if (!PlainValueLine(line, p)) return false;
    const char* s = line.data();
    value.name.clear();
    value.data.clear();
    if (s[p] == '"') {
        for (++p; s[p] != '"'; ++p) value.name.push_back(static_cast<char16_t>(s[p]));
    }
    ++p;
    while (s[p] != '=') ++p;
    ++p;
    while (IsSpace(s[p])) ++p;
    if (s[p] == 'd') {  // dword:
        std::uint32_t v = 0;
        for (p += 6; p < line.size() && IsHex(s[p]); ++p) v = (v << 4) | static_cast<std::uint32_t>(HexValue(s[p]));
        value.type = REG_DWORD;
        value.data = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                      static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        return true;
    }
    value.type = REG_SZ;
    for (++p; s[p] != '"'; ++p) {
        if (s[p] == '\\') ++p;
        value.data.push_back(static_cast<unsigned char>(s[p]));
        value.data.push_back(0);
    }
    value.data.insert(value.data.end(), {0, 0});  // as loaded, a string gets its terminator
    return true;
}

// One pass over the file's lines, building the keys and the layout; the values
// are checked, and left in the text until asked for. A line that cannot be taken
// exactly as written is left out (as Wine leaves out what it cannot read), and
// the first such line is the error: the rest is still read.
class Loader {
public:
    Loader(std::string text, Hive& hive, FileLayout& layout, ParseError& error)
        : hive_(hive), layout_(layout), error_(error), lines_({}) {
        layout_ = FileLayout{};
        source_ = layout_.source.get();
        source_->text = std::move(text);
        lines_ = Lines(source_->text);
        // Room for the blocks and keys of any ordinary file at once (a block takes
        // more than 64 bytes), so that nothing is copied as it grows and a large
        // file's keys lie in large pages; pages never written are never given
        // memory. Names: most headers share all but their last component.
        const std::size_t blocks = source_->text.size() / 64 + 16;
        source_->blocks.reserve(blocks);
        layout_.order.reserve(blocks);
        hive_.Reserve(blocks, source_->text.size() / 4 + 64);
        error_ = ParseError{};
        faults_.error = &error_;
        hive_.SetText(layout_.source);
    }

    bool Run() {
        if (source_->text.size() > kMaxRegistryFileSize) {
            faults_.FailWith(1, "too large to be read (4 GiB or more)");
            return false;
        }
        if (!lines_.Next() || lines_.line != kWineRegistryHeader) {
            faults_.FailWith(lines_.number == 0 ? 1 : lines_.number, "not a valid registry file");
            return false;
        }
        contentEnd_ = lines_.next;
        while (lines_.Next()) {
            const std::string_view line = lines_.line;
            std::size_t p = 0;
            while (p < line.size() && IsSpace(line[p])) ++p;
            if (p == line.size() || line[p] == ';') continue;
            switch (line[p]) {
                case '[':
                    if (!PlainKey(p)) LoadKey(p);
                    break;
                case '@':
                case '"':
                    if (key_ && PlainValueLine(line, p)) break;
                    if (!RefuseNul(p)) LoadValue(p);
                    break;
                case '#':
                    if (!RefuseNul(p)) LoadOption(p);
                    break;
                default:
                    if (!RefuseNul(p)) Fail("Unrecognized input");
                    break;
            }
            contentEnd_ = lines_.next;
        }
        if (source_->blocks.empty())
            layout_.preambleEnd = contentEnd_;
        else
            source_->blocks.back().bodyEnd = static_cast<std::uint32_t>(contentEnd_);
        layout_.trailerBegin = contentEnd_;
        error_.partlyRead = !faults_.writable;
        return faults_.writable;
    }

private:
    bool Fail(std::string_view what, std::string_view problem = {}) {
        return faults_.Fail(lines_.number, lines_.line, what, problem);
    }

    // A line with a NUL byte is refused whole (Wine's reader would end it there);
    // true when it had one.
    bool RefuseNul(std::size_t p) {
        if (!lines_.HasNul()) return false;
        if (lines_.line[p] == '[') {
            key_ = nullptr;
            keyRefused_ = true;
        }
        Fail("Unrecognized input: a NUL byte");
        return true;
    }

    // The header of a key whose path is plain printable ASCII, components joined
    // by "\\" and no other escapes, as nearly every header is: read without
    // converting the path, and only from where it parts from the header before
    // it (files list keys in tree order, so most headers share a long prefix).
    // False to leave the line to LoadKey.
    bool PlainKey(std::size_t p) {
        const std::string_view line = lines_.line;
        const char* s = line.data();
        const void* bracket = std::memchr(s + p + 1, ']', line.size() - p - 1);
        if (!bracket) return false;
        const auto close = static_cast<std::size_t>(static_cast<const char*>(bracket) - s);
        if (std::memchr(s + close, '\0', line.size() - close)) return false;
        const std::string_view path(s + p + 1, close - p - 1);

        // The components of the previous header that end where this one's do,
        // with the same bytes before: the same keys.
        std::size_t common = 0;
        const std::size_t most = std::min(path.size(), prevPath_.size());
        while (common + 8 <= most && std::memcmp(path.data() + common, prevPath_.data() + common, 8) == 0) common += 8;
        while (common < most && path[common] == prevPath_[common]) ++common;
        std::size_t depth = 0;
        while (depth < prevEnds_.size() &&
               (prevEnds_[depth] < common ||
                (prevEnds_[depth] == common && (common == path.size() || path[common] == '\\'))))
            ++depth;
        std::size_t start = depth ? prevEnds_[depth - 1] : 0;
        for (std::size_t i = start; i < path.size(); ++i) {
            const auto c = static_cast<unsigned char>(path[i]);
            if (c == '\\') {
                if (i + 1 >= path.size() || path[i + 1] != '\\') return false;
                ++i;
            } else if (c < 0x20 || c > 0x7E) {
                return false;
            }
        }

        const std::uint64_t modified = HeaderTime(close + 1);
        bool tooLong = false;
        for (std::size_t d = 0; d < depth; ++d)
            tooLong = tooLong || chain_[d]->name.size() > kMaxKeyNameLength;
        HiveKey* key = depth ? chain_[depth - 1] : &hive_.Root();
        chain_.resize(depth);
        prevEnds_.resize(depth);
        while (start < path.size()) {
            if (path[start] == '\\') {
                start += 2;
                continue;
            }
            std::size_t end = start;
            while (end < path.size() && path[end] != '\\') ++end;
            const std::string_view name = path.substr(start, end - start);
            tooLong = tooLong || name.size() > kMaxKeyNameLength;
            wide_.resize(name.size());
            std::copy(name.begin(), name.end(), wide_.begin());
            key = hive_.FindOrAddChild(*key, wide_, modified);
            chain_.push_back(key);
            prevEnds_.push_back(end);
            start = end;
        }
        prevPath_ = path;
        StartBlock(key, modified, tooLong, chain_.size());
        return true;
    }

    void LoadKey(std::size_t p) {
        if (RefuseNul(p)) return;
        ++p;
        std::u16string path;
        std::string problem;
        key_ = nullptr;
        keyRefused_ = true;
        const std::string_view line = lines_.line;
        if (!ParseEscaped(line, p, ']', path, &problem)) return void(Fail("Malformed key"));
        if (!problem.empty()) return void(Fail("Malformed key", problem));
        const std::uint64_t modified = HeaderTime(p);
        prevPath_ = {};
        prevEnds_.clear();
        std::size_t depth = 0;
        bool tooLong = false;
        HiveKey* key = &hive_.Root();
        for (std::size_t start = 0; start <= path.size();) {
            std::size_t end = path.find(u'\\', start);
            if (end == std::u16string::npos) end = path.size();
            if (end > start) {
                const std::u16string_view name(path.data() + start, end - start);
                tooLong = tooLong || name.size() > kMaxKeyNameLength;
                if (depth < chain_.size() && chain_[depth]->name == name) {
                    key = chain_[depth];
                } else {
                    chain_.resize(depth);
                    key = hive_.FindOrAddChild(*key, name, modified);
                    chain_.push_back(key);
                }
                ++depth;
            }
            start = end + 1;
        }
        chain_.resize(depth);
        StartBlock(key, modified, tooLong, depth);
    }

    // What follows the name (the time in seconds, anything after it) is read as
    // Wine reads it: the #time line, when there is one, wins.
    std::uint64_t HeaderTime(std::size_t p) const {
        const std::string_view line = lines_.line;
        while (p < line.size() && IsSpace(line[p])) ++p;
        if (p >= line.size() || line[p] < '0' || line[p] > '9') return hive_.Now();
        std::uint64_t secs = 0;
        while (p < line.size() && line[p] >= '0' && line[p] <= '9' && secs < (1ull << 40))
            secs = secs * 10 + static_cast<std::uint64_t>(line[p++] - '0');
        return secs * kTicksPerSecond + kTicks1601To1970;
    }

    // Keys beyond the platform's limits are read, so that they can be seen and
    // mended, but the file is then not written.
    void StartBlock(HiveKey* key, std::uint64_t modified, bool tooLong, std::size_t depth) {
        if (tooLong) Fail("Key name longer than 255 characters");
        if (depth > kMaxKeyDepth) Fail("Key path deeper than 512 levels");
        key_ = key;
        keyRefused_ = false;
        key_->modified = modified;
        if (source_->blocks.empty())
            layout_.preambleEnd = contentEnd_;
        else
            source_->blocks.back().bodyEnd = static_cast<std::uint32_t>(contentEnd_);
        HiveText::Block block;
        block.key = key_;
        block.bodyBegin = static_cast<std::uint32_t>(lines_.begin);
        const auto id = static_cast<std::uint32_t>(source_->blocks.size());
        hive_.AddBlock(*key_, id);
        hive_.LeaveValuesInText(*key_);
        layout_.order.push_back(id);
        source_->blocks.push_back(block);
    }

    void LoadOption(std::size_t p) {
        const std::string_view line = lines_.line;
        const std::string_view opt = line.substr(p);
        if (!key_) return;  // a global option: kept in the preamble as written
        if (opt.rfind("#time=", 0) == 0) {
            std::uint64_t t = 0;
            std::size_t i = 6;
            for (int digit; i < opt.size() && i < 6 + 16 && (digit = HexValue(opt[i])) >= 0; ++i)
                t = (t << 4) | static_cast<unsigned>(digit);
            if (i == 6 || !OnlyBlanksFrom(opt, i)) return void(Fail("Malformed time"));
            key_->modified = t;
        } else if (opt.rfind("#class=", 0) == 0) {
            std::size_t i = p + 8;
            // Most keys of a file share one class, written the same way.
            if (lastClass_ && opt.size() >= 9 + lastClassText_.size() && opt[7] == '"' &&
                opt.compare(8, lastClassText_.size(), lastClassText_) == 0 && opt[8 + lastClassText_.size()] == '"' &&
                OnlyBlanksFrom(opt, 9 + lastClassText_.size())) {
                key_->keyClass = lastClass_;
                return;
            }
            std::string problem;
            if (opt.substr(7, 1) != "\"" || !ParseEscaped(line, i, '"', class_, &problem))
                return void(Fail("Malformed class"));
            if (problem.empty() && !OnlyBlanksFrom(line, i)) problem = "text after the class";
            if (!problem.empty()) return void(Fail("Malformed class", problem));
            lastClass_ = hive_.InternClass(class_);
            key_->keyClass = lastClass_;
            // Its text, when a plain one, for the keys that follow.
            const std::string_view text = line.substr(p + 8, i - 1 - (p + 8));
            const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
                return c >= 0x20 && c <= 0x7E && c != '\\' && c != '"';
            });
            lastClassText_ = plain ? text : std::string_view();
            if (!plain) lastClass_ = nullptr;
        } else if (opt.rfind("#link", 0) == 0) {
            if (!OnlyBlanksFrom(opt, 5)) return void(Fail("Malformed option"));
            key_->isLink = true;
        }
        // Other options are left as Wine leaves them: read past, and dropped with
        // the rest of the block when the key is written anew.
    }

    // Checks a value the plain check was unsure of; the value itself stays in the
    // text until asked for.
    void LoadValue(std::size_t p) {
        if (!key_) {
            if (!keyRefused_) Fail("Value without key");
            return;
        }
        ReadValueLine(lines_, p, scratch_, faults_);
    }

    Hive& hive_;
    FileLayout& layout_;
    ParseError& error_;
    HiveText* source_ = nullptr;
    Lines lines_;
    Faults faults_;
    std::size_t contentEnd_ = 0;
    HiveKey* key_ = nullptr;
    bool keyRefused_ = false;  // the last header was left out: so are its values
    std::vector<HiveKey*> chain_;  // the last header's keys, by depth
    std::string_view prevPath_;    // the last header's path, when plain
    std::vector<std::size_t> prevEnds_;  // where each of its components ends in it
    std::u16string wide_;
    std::u16string class_;
    const std::u16string* lastClass_ = nullptr;  // and its plain text
    std::string_view lastClassText_;
    HiveValue scratch_;
};


}  // namespace

void ReadBlockValues(const HiveText& text, std::uint32_t block, std::vector<HiveValue>& values) {
    const HiveText::Block& b = text.blocks[block];
    Lines lines(std::string_view(text.text).substr(0, b.bodyEnd), b.bodyBegin);
    if (!lines.Next()) return;  // the header
    Faults unasked;
    HiveValue value;
    while (lines.Next()) {
        const std::string_view line = lines.line;
        std::size_t p = 0;
        while (p < line.size() && IsSpace(line[p])) ++p;
        if (p == line.size() || line[p] == ';') continue;
        // A header, even one left out, ends what belongs to this key.
        if (line[p] == '[') return;
        if ((line[p] != '"' && line[p] != '@') || lines.HasNul()) continue;
        if (ReadPlainValue(line, p, value) || ReadValueLine(lines, p, value, unasked))
            values.push_back(std::move(value));
    }
}

namespace {
bool NeedsBlock(const HiveKey& key) {
    return !key.values().empty() || key.children.empty() || key.keyClass || key.isLink;
}

// The root's block ("[]") holds only what the root has beyond its subkeys: values,
// a class or a link, as Wine writes it.
bool Writable(const HiveKey& key) {
    return NeedsBlock(key) && (key.parent || !key.values().empty() || key.keyClass || key.isLink);
}

void AppendValue(std::string& out, const HiveValue& v) {
    const std::size_t lineStart = out.size();
    if (v.name.empty()) {
        out += "@=";
    } else {
        out += '"';
        AppendEscaped(out, v.name, false);
        out += "\"=";
    }
    const std::size_t len = v.data.size();
    if (IsStringType(v.type) && len >= 2 && len % 2 == 0 && v.data[len - 1] == 0 &&
        v.data[len - 2] == 0) {
        if (v.type != REG_SZ) {
            out += "str(";
            AppendHex(out, v.type, 0);
            out += "):";
        }
        out += '"';
        AppendEscaped(out, FromUtf16Le(v.data.data(), len - 2), false);
        out += "\"\n";
        return;
    }
    if (v.type == REG_DWORD && len == 4) {
        out += "dword:";
        AppendHex(out, static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16)) |
                           (static_cast<unsigned>(v.data[3]) << 24),
                  8);
        out += '\n';
        return;
    }
    if (v.type == REG_BINARY) {
        out += "hex:";
    } else {
        out += "hex(";
        AppendHex(out, v.type, 0);
        out += "):";
    }
    static const char digits[] = "0123456789abcdef";
    std::size_t count = out.size() - lineStart;
    for (std::size_t i = 0; i < len; ++i) {
        out += digits[v.data[i] >> 4];
        out += digits[v.data[i] & 15];
        count += 2;
        if (i + 1 < len) {
            out += ',';
            ++count;
            if (count > 76) {
                out += "\\\n  ";
                count = 2;
            }
        }
    }
    out += '\n';
}

// The escaped paths of the last parent written and of its ancestors, for the
// keys written in one go: keys come in the tree's order, so each key's parent is
// mostly that parent again or an ancestor's new child, and a path is escaped
// only where it differs.
struct PathCache {
    std::vector<const HiveKey*> keys;  // from the root's child down
    std::vector<std::size_t> ends;     // where each one's part of `text` ends
    std::string text;
    std::vector<const HiveKey*> chain;
};

void AppendBlockBody(std::string& out, const HiveKey& key, PathCache& cache) {
    out += '[';
    if (key.parent && key.parent->parent) {
        std::vector<const HiveKey*>& chain = cache.chain;
        chain.clear();
        for (const HiveKey* k = key.parent; k->parent; k = k->parent) chain.push_back(k);
        std::size_t same = 0;
        while (same < chain.size() && same < cache.keys.size() && cache.keys[same] == chain[chain.size() - 1 - same])
            ++same;
        cache.keys.resize(same);
        cache.ends.resize(same);
        cache.text.resize(same ? cache.ends.back() : 0);
        for (std::size_t d = same; d < chain.size(); ++d) {
            if (d) cache.text += "\\\\";
            AppendEscaped(cache.text, chain[chain.size() - 1 - d]->name, true);
            cache.keys.push_back(chain[chain.size() - 1 - d]);
            cache.ends.push_back(cache.text.size());
        }
        out += cache.text;
        out += "\\\\";
    }
    AppendEscaped(out, key.name, true);
    out += std::string_view("] ");
    const std::uint64_t secs =
        key.modified > kTicks1601To1970 ? (key.modified - kTicks1601To1970) / kTicksPerSecond : 0;
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<unsigned>(secs)).ptr;
    out.append(digits, static_cast<std::size_t>(end - digits));
    out += std::string_view("\n#time=");
    AppendHex(out, static_cast<unsigned>(key.modified >> 32), 0);
    AppendHex(out, static_cast<unsigned>(key.modified & 0xFFFFFFFFu), 8);
    out += '\n';
    if (key.keyClass) {
        out += "#class=\"";
        AppendEscaped(out, *key.keyClass, false);
        out += "\"\n";
    }
    if (key.isLink) out += "#link\n";
    for (const auto& v : key.values()) AppendValue(out, v);
}

}  // namespace

std::string NewStorePreamble() {
    return std::string(kWineRegistryHeader) + "\n" + std::string(kUserHiveComment) + "\n";
}

std::string WriteHiveText(const Hive& hive, std::string_view preamble) {
    std::string out(preamble);
    PathCache paths;
    // Pre-order, siblings in the registry's order, without recursion: a key path
    // may be as deep as the file says.
    std::vector<const HiveKey*> stack{&hive.Root()};
    while (!stack.empty()) {
        const HiveKey* key = stack.back();
        stack.pop_back();
        if (Writable(*key)) {
            out += '\n';
            AppendBlockBody(out, *key, paths);
        }
        for (auto it = key->children.rbegin(); it != key->children.rend(); ++it) stack.push_back(it->get());
    }
    return out;
}

void AppendEscaped(std::string& out, std::u16string_view s, bool keyName) {
    static const char escapes[32] = {0,   0, 0, 0, 0, 0, 0, 'a', 'b', 't', 'n', 'v', 'f', 'r', 0, 0,
                                     0,   0, 0, 0, 0, 0, 0, 0,   0,   0,   0,   'e', 0,   0,   0, 0};
    const char16_t quote1 = keyName ? u'[' : u'"';
    const char16_t quote2 = keyName ? u']' : u'"';
    for (std::size_t i = 0; i < s.size(); ++i) {
        // A run of characters written as they are, at once.
        std::size_t run = i;
        while (run < s.size() && s[run] >= 0x20 && s[run] <= 0x7F && s[run] != u'\\' && s[run] != quote1 &&
               s[run] != quote2)
            ++run;
        if (run > i) {
            const std::size_t at = out.size();
            out.resize(at + (run - i));
            for (std::size_t k = i; k < run; ++k) out[at + (k - i)] = static_cast<char>(s[k]);
            i = run;
            if (i == s.size()) break;
        }
        const char16_t c = s[i];
        const bool hasNext = i + 1 < s.size();
        if (c > 127) {
            const bool hexNext = hasNext && s[i + 1] < 128 && IsHex(static_cast<char>(s[i + 1]));
            out += "\\x";
            AppendHex(out, c, hexNext ? 4 : 0);
        } else if (c < 32) {
            if (escapes[c]) {
                out += '\\';
                out += escapes[c];
            } else {
                char buf[8];
                const bool octNext = hasNext && s[i + 1] >= u'0' && s[i + 1] <= u'7';
                const int n = std::snprintf(buf, sizeof buf, octNext ? "\\%03o" : "\\%o", c);
                out.append(buf, static_cast<std::size_t>(n));
            }
        } else {
            if (c == u'\\' || (keyName ? (c == u'[' || c == u']') : c == u'"')) out += '\\';
            out += static_cast<char>(c);
        }
    }
}

bool ParseEscaped(std::string_view line, std::size_t& pos, char endChar, std::u16string& out,
                  std::string* problem) {
    out.clear();
    auto note = [problem](const std::string& what) {
        if (problem && problem->empty()) *problem = what;
    };
    // Raw UTF-8 as Wine reads it: malformed sequences dropped (and noted).
    auto appendUtf8 = [&](std::string_view bytes) {
        std::u16string units;
        if (Utf8ToUtf16(bytes, units)) {
            out += units;
        } else {
            note("not valid UTF-8");
            out += Utf8ToUtf16Lenient(bytes);
        }
    };
    std::size_t p = pos;
    while (p < line.size() && line[p] != endChar) {
        const char c = line[p];
        if (c == '\\') {
            if (++p >= line.size()) return false;
            const char e = line[p];
            switch (e) {
                case 'a': out += u'\a'; ++p; break;
                case 'b': out += u'\b'; ++p; break;
                case 'e': out += u'\x1b'; ++p; break;
                case 'f': out += u'\f'; ++p; break;
                case 'n': out += u'\n'; ++p; break;
                case 'r': out += u'\r'; ++p; break;
                case 't': out += u'\t'; ++p; break;
                case 'v': out += u'\v'; ++p; break;
                case '\\': case '"': case '[': case ']': out += static_cast<char16_t>(e); ++p; break;
                case 'x': {
                    ++p;
                    if (p >= line.size() || !IsHex(line[p])) {
                        note("\\x without hexadecimal digits");
                        out += u'x';
                        break;
                    }
                    unsigned v = 0;
                    for (int k = 0; k < 4 && p < line.size() && IsHex(line[p]); ++k)
                        v = v * 16 + static_cast<unsigned>(HexValue(line[p++]));
                    out += static_cast<char16_t>(v);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        unsigned v = 0;
                        for (int k = 0; k < 3 && p < line.size() && line[p] >= '0' && line[p] <= '7'; ++k)
                            v = v * 8 + static_cast<unsigned>(line[p++] - '0');
                        out += static_cast<char16_t>(v);
                    } else if (static_cast<unsigned char>(e) < 0x80) {
                        // Wine drops the backslash; a name or text written so was
                        // almost never meant that way (a single "\" between keys).
                        note("unknown escape \\" + PrintableExcerpt(std::string_view(&line[p], 1)));
                        out += static_cast<char16_t>(e);
                        ++p;
                    } else {
                        std::size_t q = p + 1;
                        while (q < line.size() && (static_cast<unsigned char>(line[q]) & 0xC0) == 0x80) ++q;
                        note("unknown escape \\" + PrintableExcerpt(line.substr(p, q - p)));
                        appendUtf8(line.substr(p, q - p));
                        p = q;
                    }
                    break;
            }
        } else if (static_cast<unsigned char>(c) < 0x80) {
            out += static_cast<char16_t>(c);
            ++p;
        } else {
            std::size_t q = p + 1;
            while (q < line.size() && line[q] != endChar && line[q] != '\\' &&
                   static_cast<unsigned char>(line[q]) >= 0x80)
                ++q;
            appendUtf8(line.substr(p, q - p));
            p = q;
        }
    }
    if (p >= line.size()) return false;
    pos = p + 1;
    return true;
}

bool LoadRegistryText(std::string text, Hive& hive, FileLayout& layout, ParseError& error) {
    return Loader(std::move(text), hive, layout, error).Run();
}

bool PeekBlockValues(const HiveText& text, std::uint32_t block, std::vector<HiveValue>& values) {
    constexpr std::size_t kFew = 8;
    const HiveText::Block& b = text.blocks[block];
    Lines lines(std::string_view(text.text).substr(0, b.bodyEnd), b.bodyBegin);
    if (!lines.Next()) return false;
    Faults unasked;
    std::size_t count = 0;
    while (lines.Next()) {
        const std::string_view line = lines.line;
        std::size_t p = 0;
        while (p < line.size() && IsSpace(line[p])) ++p;
        if (p == line.size() || line[p] == ';') continue;
        if (line[p] == '[') break;
        if (line[p] != '"' && line[p] != '@') continue;
        if (lines.HasNul() || count == kFew) return false;
        if (count == values.size()) values.emplace_back();
        if (!ReadPlainValue(line, p, values[count]) && !ReadValueLine(lines, p, values[count], unasked)) return false;
        if (count > 0 && CompareNames(values[count - 1].name, values[count].name) >= 0) return false;
        ++count;
    }
    values.resize(count);
    return true;
}

namespace {

enum Action : unsigned char { kVerbatim, kRegenerate, kDrop };
// How far ahead a walk over many keys asks for a key, and for what it points to.
constexpr std::size_t kAheadKeys = 12;
constexpr std::size_t kAheadContents = 6;
constexpr std::uint32_t kAfterPreamble = HiveKey::kNoBlock;

// The key that comes just before `key` in the registry's pre-order walk.
const HiveKey* Predecessor(const HiveKey* key) {
    const HiveKey* parent = key->parent;
    if (!parent) return nullptr;
    const std::size_t at = parent->children.LowerBound(NameProbe(key->name), NameLess{});
    if (at == 0) return parent;
    const HiveKey* p = parent->children[at - 1].get();
    while (!p->children.empty()) p = p->children.back().get();
    return p;
}

// The block after which a key without one is written: the block of the nearest
// key before it in the walk, which is where Wine's own order puts it.
std::uint32_t AnchorOf(const HiveKey* key) {
    for (const HiveKey* p = Predecessor(key); p; p = Predecessor(p))
        if (p->FirstBlock() != HiveKey::kNoBlock) return p->FirstBlock();
    return kAfterPreamble;
}

std::vector<const HiveKey*> Chain(const HiveKey* key) {
    std::vector<const HiveKey*> chain;
    for (; key; key = key->parent) chain.push_back(key);
    return {chain.rbegin(), chain.rend()};
}

bool PreorderLess(const HiveKey* a, const HiveKey* b) {
    const auto ca = Chain(a), cb = Chain(b);
    for (std::size_t i = 0; i < ca.size() && i < cb.size(); ++i)
        if (ca[i] != cb[i]) return CompareNames(ca[i]->name, cb[i]->name) < 0;
    return ca.size() < cb.size();
}


// What becomes of the blocks of a key that changed or was created.
void Decide(Hive& hive, HiveKey& key, std::vector<unsigned char>& action,
            std::unordered_map<std::uint32_t, std::vector<HiveKey*>>& added, std::uint32_t anchor) {
    const std::uint32_t first = key.FirstBlock();
    if (first != HiveKey::kNoBlock) {
        action[first] = NeedsBlock(key) ? kRegenerate : kDrop;
        for (std::uint32_t more : hive.MoreBlocks(key)) action[more] = kDrop;
        hive.ClearBlocks(key);
        if (action[first] == kRegenerate) hive.AddBlock(key, first);
    } else if (Writable(key)) {
        added[anchor].push_back(&key);
    }
}

// Renumbers the blocks in file order once dropped ones pile up.
void Compact(Hive& hive, FileLayout& layout) {
    LargeVector<HiveText::Block>& all = layout.source->blocks;
    for (std::uint32_t id : layout.order) hive.ClearBlocks(*all[id].key);
    LargeVector<HiveText::Block> blocks;
    blocks.reserve(layout.order.size());
    for (std::uint32_t id : layout.order) {
        blocks.push_back(all[id]);
        hive.AddBlock(*blocks.back().key, static_cast<std::uint32_t>(blocks.size() - 1));
    }
    all = std::move(blocks);
    for (std::uint32_t i = 0; i < layout.order.size(); ++i) layout.order[i] = i;
}

// Where a save's text goes: kept whole, or handed on a part at a time.
class SaveOutput {
public:
    SaveOutput(std::string& out, const TextSink* sink, std::size_t part) : text(out), sink_(sink), part_(part) {}
    std::string& text;  // what has not been handed on
    std::uint32_t Offset() const { return static_cast<std::uint32_t>(handed_ + text.size()); }
    bool AtLineStart() const { return text.empty() ? handed_ == 0 || lastHanded_ == '\n' : text.back() == '\n'; }
    // Hands on what has piled up: everything when `all`, else only a whole part.
    void Flush(bool all) {
        if (!sink_ || text.empty() || (!all && text.size() < part_)) return;
        if (!failed_ && !(*sink_)(text)) failed_ = true;
        handed_ += text.size();
        lastHanded_ = text.back();
        text.clear();
    }
    bool Failed() const { return failed_; }
    const TextSink* sink() const { return sink_; }

private:
    const TextSink* sink_;
    std::size_t part_;
    std::size_t handed_ = 0;
    char lastHanded_ = 0;
    bool failed_ = false;
};

void Save(Hive& hive, FileLayout& layout, SaveOutput& output) {
    HiveText& source = *layout.source;
    LargeVector<HiveText::Block>& blocks = source.blocks;
    // Keys written anew read their values from the text that is about to be
    // replaced: before anything moves.
    const auto& dirty = hive.DirtyKeys();
    for (HiveKey* key : dirty)
        if (!Hive::IsDeleted(*key)) key->values();

    for (std::uint32_t b : hive.DroppedBlocks())
        if (b < blocks.size()) blocks[b].key = nullptr;
    hive.DroppedBlocks().clear();
    std::vector<unsigned char> action(blocks.size(), kVerbatim);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        if (!blocks[i].key) action[i] = kDrop;

    // Only the keys that changed are looked at, unless so many did that one walk
    // over the whole tree is cheaper than finding each one's place.
    std::unordered_map<std::uint32_t, std::vector<HiveKey*>> added;  // by the block they follow
    const std::size_t changed = dirty.size();
    if (changed * 16 > layout.order.size() + 16) {
        std::uint32_t anchor = kAfterPreamble;
        std::vector<HiveKey*> stack{&hive.Root()};
        while (!stack.empty()) {
            HiveKey* key = stack.back();
            stack.pop_back();
            if (stack.size() >= kAheadKeys) __builtin_prefetch(stack[stack.size() - kAheadKeys]);
            const std::uint32_t first = key->FirstBlock();
            if (Hive::IsDirty(*key)) Decide(hive, *key, action, added, anchor);
            if (first != HiveKey::kNoBlock) anchor = first;
            for (auto it = key->children.rbegin(); it != key->children.rend(); ++it) stack.push_back(it->get());
        }
    } else {
        std::vector<std::pair<HiveKey*, std::uint32_t>> anchors;
        anchors.reserve(dirty.size());
        for (HiveKey* key : dirty)  // before any key's blocks change
            if (!Hive::IsDeleted(*key))
                anchors.emplace_back(key, key->FirstBlock() == HiveKey::kNoBlock ? AnchorOf(key) : 0);
        for (auto& [key, anchor] : anchors) Decide(hive, *key, action, added, anchor);
        for (auto& [anchor, keys] : added) std::sort(keys.begin(), keys.end(), PreorderLess);
    }
    hive.ClearDirty();

    // A text kept whole replaces the old one; one handed on leaves it in place.
    std::string replaced;
    if (!output.sink()) replaced = std::move(source.text);
    const std::string& old = output.sink() ? source.text : replaced;
    std::string& out = output.text;
    if (!output.sink()) {
        // Room for the keys written anew at once (a generous guess: pages never
        // written are never given memory), so that the text is not copied as it grows.
        out.reserve(old.size() + changed * 512 + 4096);
        AdviseLargePages(out.data(), out.capacity());
    }
    out.append(old, 0, layout.preambleEnd);
    std::size_t oldEnd = layout.preambleEnd;  // of the block before, in the old text
    layout.preambleEnd = output.Offset();
    LargeVector<std::uint32_t> order;
    order.reserve(layout.order.size() + added.size());

    PathCache paths;
    auto emitGenerated = [&](HiveKey& key, std::string_view gap) {
        // A header starts a line; a gap that starts with a line end was given one
        // when the block was first written.
        if (!output.AtLineStart() && (gap.empty() || gap.front() != '\n')) out += '\n';
        out += gap;
        HiveText::Block block{&key, output.Offset(), 0};
        AppendBlockBody(out, key, paths);
        block.bodyEnd = output.Offset();
        output.Flush(false);
        return block;
    };
    auto emitAdded = [&](std::uint32_t after) {
        const auto it = added.find(after);
        if (it == added.end()) return;
        const std::vector<HiveKey*>& keys = it->second;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            // The keys lie scattered in memory when they were made out of order:
            // asked for ahead, a few at a time, not one miss after another.
            if (i + kAheadKeys < keys.size()) __builtin_prefetch(keys[i + kAheadKeys]);
            if (i + kAheadContents < keys.size()) keys[i + kAheadContents]->PrefetchContents();
            HiveKey* key = keys[i];
            const auto id = static_cast<std::uint32_t>(blocks.size());
            blocks.push_back(emitGenerated(*key, "\n"));
            hive.AddBlock(*key, id);
            order.push_back(id);
        }
    };

    emitAdded(kAfterPreamble);
    for (const std::uint32_t id : layout.order) {
        const HiveText::Block b = blocks[id];
        const std::string_view gap(old.data() + oldEnd, b.bodyBegin - oldEnd);
        oldEnd = b.bodyEnd;
        if (action[id] == kVerbatim) {
            out += gap;
            HiveText::Block moved{b.key, output.Offset(), 0};
            out.append(old, b.bodyBegin, b.bodyEnd - b.bodyBegin);
            moved.bodyEnd = output.Offset();
            output.Flush(false);
            blocks[id] = moved;
            order.push_back(id);
        } else if (action[id] == kRegenerate) {
            blocks[id] = emitGenerated(*b.key, gap);
            order.push_back(id);
        } else {
            blocks[id].key = nullptr;
        }
        emitAdded(id);
    }
    const std::uint32_t trailerBegin = output.Offset();
    out.append(old, layout.trailerBegin, std::string::npos);
    output.Flush(true);
    layout.trailerBegin = trailerBegin;
    layout.order = std::move(order);
    if (!output.sink()) source.text = std::move(out);
    if (blocks.size() > 4096 && blocks.size() > 2 * layout.order.size()) Compact(hive, layout);
    hive.ClearChanged();
}

}  // namespace

const std::string& SaveRegistryText(Hive& hive, FileLayout& layout) {
    std::string out;
    SaveOutput output(out, nullptr, 0);
    Save(hive, layout, output);
    return layout.text();
}

bool StreamRegistryText(Hive& hive, FileLayout& layout, const TextSink& write, std::size_t part) {
    std::string out;
    out.reserve(part + 4096);
    SaveOutput output(out, &write, part);
    Save(hive, layout, output);
    return !output.Failed();
}

}  // namespace moatgate

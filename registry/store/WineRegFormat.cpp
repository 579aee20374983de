#include "registry/store/WineRegFormat.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <unordered_map>
#include <utility>

#include "registry/store/AnsiBoundary.h"
#include "registry/store/Unicode.h"

namespace moatgate {

namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000ull;
constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;
constexpr std::string_view kUserHiveComment =
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

void AppendHex(std::string& out, unsigned v, int width) {
    char buf[16];
    const int n = std::snprintf(buf, sizeof buf, "%0*x", width, v);
    out.append(buf, static_cast<std::size_t>(n));
}


// Skips blanks (as Wine's isspace does) from `p`; true if only blanks were left.
bool OnlyBlanksFrom(std::string_view s, std::size_t p) {
    while (p < s.size() && IsSpace(s[p])) ++p;
    return p == s.size();
}

// One pass over the file's lines, building the hive and the layout. A line that
// cannot be taken exactly as written is left out (as Wine leaves out what it
// cannot read), and the first such line is the error: the rest is still read.
class Loader {
public:
    Loader(std::string text, Hive& hive, FileLayout& layout, ParseError& error)
        : hive_(hive), layout_(layout), error_(error) {
        layout_ = FileLayout{};
        layout_.text = std::move(text);
        text_ = layout_.text;
        error_ = ParseError{};
    }

    bool Run() {
        if (!NextLine() || line_ != kWineRegistryHeader) {
            Fail(lineNo_ == 0 ? 1 : lineNo_, "not a valid registry file");
            return false;
        }
        contentEnd_ = next_;
        while (NextLine()) {
            std::size_t p = 0;
            while (p < line_.size() && IsSpace(line_[p])) ++p;
            if (p == line_.size() || line_[p] == ';') continue;
            if (line_.find('\0') != std::string_view::npos) {
                // Wine's reader would end the line there.
                if (line_[p] == '[') {
                    key_ = nullptr;
                    keyRefused_ = true;
                }
                Fail(lineNo_, Quoted("Unrecognized input: a NUL byte"));
                continue;
            }
            switch (line_[p]) {
                case '[': LoadKey(p); break;
                case '@':
                case '"':
                    if (key_)
                        LoadValue(p);
                    else if (!keyRefused_)
                        Fail(lineNo_, Quoted("Value without key"));
                    break;
                case '#': LoadOption(p); break;
                default: Fail(lineNo_, Quoted("Unrecognized input")); break;
            }
            contentEnd_ = next_;
        }
        if (layout_.blocks.empty())
            layout_.preambleEnd = contentEnd_;
        else
            layout_.blocks.back().bodyEnd = contentEnd_;
        layout_.trailerBegin = contentEnd_;
        error_.partlyRead = !writable_;
        return writable_;
    }

private:
    bool NextLine() {
        if (next_ >= text_.size()) return false;
        lineBegin_ = next_;
        std::size_t end = text_.find('\n', next_);
        if (end == std::string_view::npos) {
            end = text_.size();
            next_ = end;
        } else {
            next_ = end + 1;
        }
        line_ = text_.substr(lineBegin_, end - lineBegin_);
        if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
        ++lineNo_;
        return true;
    }

    std::string Quoted(std::string_view what) const {
        return std::string(what) + " '" + PrintableExcerpt(line_) + "'";
    }
    std::string Quoted(std::string_view what, const std::string& problem) const {
        return problem.empty() ? Quoted(what) : Quoted(std::string(what) + ": " + problem);
    }

    // Records the first line that could not be taken; always false.
    bool Fail(std::size_t line, std::string message) {
        if (writable_) {
            error_.line = line;
            error_.message = std::move(message);
            writable_ = false;
        }
        return false;
    }

    void LoadKey(std::size_t p) {
        ++p;
        std::u16string path;
        std::string problem;
        key_ = nullptr;
        keyRefused_ = true;
        if (!ParseEscaped(line_, p, ']', path, &problem)) return void(Fail(lineNo_, Quoted("Malformed key")));
        if (!problem.empty()) return void(Fail(lineNo_, Quoted("Malformed key", problem)));
        // What follows the name (the time in seconds, anything after it) is
        // read as Wine reads it: the #time line, when there is one, wins.
        while (p < line_.size() && IsSpace(line_[p])) ++p;
        std::uint64_t modified = hive_.Now();
        if (p < line_.size() && line_[p] >= '0' && line_[p] <= '9') {
            std::uint64_t secs = 0;
            while (p < line_.size() && line_[p] >= '0' && line_[p] <= '9' && secs < (1ull << 40))
                secs = secs * 10 + static_cast<std::uint64_t>(line_[p++] - '0');
            modified = secs * kTicksPerSecond + kTicks1601To1970;
        }
        key_ = Walk(path, modified);
        keyRefused_ = false;
        key_->modified = modified;

        if (layout_.blocks.empty())
            layout_.preambleEnd = contentEnd_;
        else
            layout_.blocks.back().bodyEnd = contentEnd_;
        FileLayout::Block block;
        block.key = key_;
        block.gapBegin = contentEnd_;
        block.bodyBegin = lineBegin_;
        key_->AddBlock(static_cast<std::uint32_t>(layout_.blocks.size()));
        layout_.order.push_back(static_cast<std::uint32_t>(layout_.blocks.size()));
        layout_.blocks.push_back(block);
    }

    // Finds or creates the key at `path`, reusing the previous header's chain:
    // files list keys in tree order, so most headers share a long prefix. Keys
    // beyond the platform's limits are read, so that they can be seen and
    // mended, but the file is then not written.
    HiveKey* Walk(const std::u16string& path, std::uint64_t modified) {
        std::size_t depth = 0;
        HiveKey* key = &hive_.Root();
        std::size_t start = 0;
        bool tooLong = false;
        while (start <= path.size()) {
            std::size_t end = path.find(u'\\', start);
            if (end == std::u16string::npos) end = path.size();
            if (end > start) {
                std::u16string_view name(path.data() + start, end - start);
                tooLong = tooLong || name.size() > kMaxKeyNameLength;
                if (depth < chain_.size() && CompareNames(chain_[depth]->name, name) == 0) {
                    key = chain_[depth];
                } else {
                    chain_.resize(depth);
                    key = key->FindOrAddChild(name, modified);
                    chain_.push_back(key);
                }
                ++depth;
            }
            start = end + 1;
        }
        chain_.resize(depth);
        if (tooLong) Fail(lineNo_, Quoted("Key name longer than 255 characters"));
        if (depth > kMaxKeyDepth) Fail(lineNo_, Quoted("Key path deeper than 512 levels"));
        return key;
    }

    void LoadOption(std::size_t p) {
        const std::string_view opt = line_.substr(p);
        if (!key_) return;  // a global option: kept in the preamble as written
        if (opt.rfind("#time=", 0) == 0) {
            std::uint64_t t = 0;
            std::size_t i = 6;
            while (i < opt.size() && IsHex(opt[i]) && i < 6 + 16) t = (t << 4) | static_cast<unsigned>(HexValue(opt[i++]));
            if (i == 6 || !OnlyBlanksFrom(opt, i)) return void(Fail(lineNo_, Quoted("Malformed time")));
            key_->modified = t;
        } else if (opt.rfind("#class=", 0) == 0) {
            std::size_t i = p + 8;
            std::u16string cls;
            std::string problem;
            if (opt.substr(7, 1) != "\"" || !ParseEscaped(line_, i, '"', cls, &problem))
                return void(Fail(lineNo_, Quoted("Malformed class")));
            if (problem.empty() && !OnlyBlanksFrom(line_, i)) problem = "text after the class";
            if (!problem.empty()) return void(Fail(lineNo_, Quoted("Malformed class", problem)));
            key_->keyClass = hive_.InternClass(cls);
        } else if (opt.rfind("#link", 0) == 0) {
            if (!OnlyBlanksFrom(opt, 5)) return void(Fail(lineNo_, Quoted("Malformed option")));
            key_->isLink = true;
        }
        // Other options are left as Wine leaves them: read past, and dropped with
        // the rest of the block when the key is written anew.
    }

    void LoadValue(std::size_t p) {
        std::u16string name;
        std::string problem;
        if (line_[p] == '@') {
            ++p;
        } else {
            ++p;
            if (!ParseEscaped(line_, p, '"', name, &problem)) return void(Fail(lineNo_, Quoted("Malformed value name")));
            if (!problem.empty()) return void(Fail(lineNo_, Quoted("Malformed value name", problem)));
        }
        while (p < line_.size() && IsSpace(line_[p])) ++p;
        if (p >= line_.size() || line_[p] != '=') return void(Fail(lineNo_, Quoted("Malformed value name")));
        ++p;
        while (p < line_.size() && IsSpace(line_[p])) ++p;
        const std::string_view rest = line_.substr(p);

        DWORD type = REG_NONE;
        std::vector<unsigned char> data;
        auto startsWith = [&](std::string_view tag) { return rest.substr(0, tag.size()) == tag; };
        if (startsWith("\"") || startsWith("str:\"") || startsWith("str(2):\"") ||
            startsWith("str(7):\"")) {
            std::size_t tag = 1;
            type = REG_SZ;
            if (startsWith("str:\"")) tag = 5;
            if (startsWith("str(2):\"")) { tag = 8; type = REG_EXPAND_SZ; }
            if (startsWith("str(7):\"")) { tag = 8; type = REG_MULTI_SZ; }
            std::size_t i = p + tag;
            std::u16string s;
            if (!ParseEscaped(line_, i, '"', s, &problem)) return void(Fail(lineNo_, Quoted("Malformed value")));
            if (problem.empty() && !OnlyBlanksFrom(line_, i)) problem = "text after the data";
            if (!problem.empty()) return void(Fail(lineNo_, Quoted("Malformed value", problem)));
            AppendUtf16Le(s, data);
            data.insert(data.end(), {0, 0});  // as loaded, a string gets its terminator
        } else if (startsWith("dword:")) {
            // As Wine reads it (a C hexadecimal number; nothing at all is 0), but
            // only a number that fits and nothing after it.
            type = REG_DWORD;
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
            if (v > 0xFFFFFFFFull) return void(Fail(lineNo_, Quoted("Malformed value", "the number does not fit in 32 bits")));
            if ((prefixed && i == digits) || !OnlyBlanksFrom(rest, i))
                return void(Fail(lineNo_, Quoted("Malformed value", "not a hexadecimal number")));
            data = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        } else if (startsWith("hex:") || startsWith("hex(")) {
            std::size_t i = 4;
            type = REG_BINARY;
            if (startsWith("hex(")) {
                std::uint64_t t = 0;
                const std::size_t digits = i;
                while (i < rest.size() && IsHex(rest[i]) && t <= 0xFFFFFFFFull)
                    t = (t << 4) | static_cast<unsigned>(HexValue(rest[i++]));
                if (i == digits || t > 0xFFFFFFFFull || rest.substr(i, 2) != "):")
                    return void(Fail(lineNo_, Quoted("Malformed value")));
                type = static_cast<DWORD>(t);
                i += 2;
            }
            if (!ParseHex(rest.substr(i), data)) return;
        } else {
            return void(Fail(lineNo_, Quoted("Malformed value")));
        }
        if (name.size() > kMaxValueNameLength) Fail(lineNo_, Quoted("Value name longer than 16383 characters"));
        key_->PutValue(std::move(name), type, std::move(data));
    }

    // Hex bytes separated by commas; a line that ends in `\` goes on in the next.
    bool ParseHex(std::string_view s, std::vector<unsigned char>& data) {
        const std::size_t valueLine = lineNo_;
        for (;;) {
            std::size_t i = 0;
            while (i < s.size() && IsHex(s[i])) {
                unsigned v = 0;
                while (i < s.size() && IsHex(s[i])) {
                    v = (v << 4) | static_cast<unsigned>(HexValue(s[i++]));
                    if (v > 0xFF) return Fail(lineNo_, Quoted("Malformed value", "a byte above ff"));
                }
                data.push_back(static_cast<unsigned char>(v));
                while (i < s.size() && IsSpace(s[i])) ++i;
                if (i < s.size() && s[i] == ',') ++i;
                while (i < s.size() && IsSpace(s[i])) ++i;
            }
            while (i < s.size() && IsSpace(s[i])) ++i;
            if (i == s.size()) return true;
            if (s[i] != '\\' || !OnlyBlanksFrom(s, i + 1)) return Fail(lineNo_, Quoted("Malformed value"));
            if (!NextLine()) return Fail(valueLine, Quoted("Malformed value", "the data goes on past the end"));
            if (line_.find('\0') != std::string_view::npos) return Fail(lineNo_, Quoted("Malformed value", "a NUL byte"));
            s = line_;
            std::size_t j = 0;
            while (j < s.size() && IsSpace(s[j])) ++j;
            s.remove_prefix(j);
        }
    }

    Hive& hive_;
    FileLayout& layout_;
    ParseError& error_;
    std::string_view text_;
    std::string_view line_;
    std::size_t lineBegin_ = 0;
    std::size_t next_ = 0;
    std::size_t lineNo_ = 0;
    std::size_t contentEnd_ = 0;
    HiveKey* key_ = nullptr;
    bool keyRefused_ = false;  // the last header was left out: so are its values
    bool writable_ = true;
    std::vector<HiveKey*> chain_;
};

bool NeedsBlock(const HiveKey& key) {
    return !key.values().empty() || key.children.empty() || key.keyClass || key.isLink;
}

// The root has no header of its own; it gets a block only for values of its own.
bool Writable(const HiveKey& key) { return NeedsBlock(key) && (key.parent || !key.values().empty()); }

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

void AppendBlockBody(std::string& out, const HiveKey& key) {
    out += '[';
    std::vector<const HiveKey*> chain;
    for (const HiveKey* k = &key; k->parent; k = k->parent) chain.push_back(k);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) out += "\\\\";
        AppendEscaped(out, (*it)->name, true);
    }
    out += "] ";
    const std::uint64_t secs =
        key.modified > kTicks1601To1970 ? (key.modified - kTicks1601To1970) / kTicksPerSecond : 0;
    out += std::to_string(static_cast<unsigned>(secs));
    out += "\n#time=";
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
    // Pre-order, siblings in the registry's order, without recursion: a key path
    // may be as deep as the file says.
    std::vector<const HiveKey*> stack{&hive.Root()};
    while (!stack.empty()) {
        const HiveKey* key = stack.back();
        stack.pop_back();
        if (Writable(*key)) {
            out += '\n';
            AppendBlockBody(out, *key);
        }
        for (auto it = key->children.rbegin(); it != key->children.rend(); ++it) stack.push_back(it->get());
    }
    return out;
}

void AppendEscaped(std::string& out, std::u16string_view s, bool keyName) {
    static const char escapes[32] = {0,   0, 0, 0, 0, 0, 0, 'a', 'b', 't', 'n', 'v', 'f', 'r', 0, 0,
                                     0,   0, 0, 0, 0, 0, 0, 0,   0,   0,   0,   'e', 0,   0,   0, 0};
    for (std::size_t i = 0; i < s.size(); ++i) {
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

namespace {

enum Action : unsigned char { kVerbatim, kRegenerate, kDrop };
constexpr std::uint32_t kAfterPreamble = HiveKey::kNoBlock;

// The key that comes just before `key` in the registry's pre-order walk.
const HiveKey* Predecessor(const HiveKey* key) {
    const HiveKey* parent = key->parent;
    if (!parent) return nullptr;
    const auto it = parent->children.find(std::u16string_view(key->name));
    if (it == parent->children.begin()) return parent;
    const HiveKey* p = std::prev(it)->get();
    while (!p->children.empty()) p = std::prev(p->children.end())->get();
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
void Decide(HiveKey& key, std::vector<unsigned char>& action,
            std::unordered_map<std::uint32_t, std::vector<HiveKey*>>& added, std::uint32_t anchor) {
    const std::uint32_t first = key.FirstBlock();
    if (first != HiveKey::kNoBlock) {
        action[first] = NeedsBlock(key) ? kRegenerate : kDrop;
        for (std::uint32_t more : key.MoreBlocks()) action[more] = kDrop;
        key.ClearBlocks();
        if (action[first] == kRegenerate) key.AddBlock(first);
    } else if (Writable(key)) {
        added[anchor].push_back(&key);
    }
}

// Renumbers the blocks in file order once dropped ones pile up.
void Compact(FileLayout& layout) {
    for (std::uint32_t id : layout.order) layout.blocks[id].key->ClearBlocks();
    std::vector<FileLayout::Block> blocks;
    blocks.reserve(layout.order.size());
    for (std::uint32_t id : layout.order) {
        blocks.push_back(layout.blocks[id]);
        blocks.back().key->AddBlock(static_cast<std::uint32_t>(blocks.size() - 1));
    }
    layout.blocks = std::move(blocks);
    for (std::uint32_t i = 0; i < layout.order.size(); ++i) layout.order[i] = i;
}

}  // namespace

const std::string& SaveRegistryText(Hive& hive, FileLayout& layout) {
    for (std::uint32_t b : hive.DroppedBlocks())
        if (b < layout.blocks.size()) layout.blocks[b].key = nullptr;
    hive.DroppedBlocks().clear();
    std::vector<unsigned char> action(layout.blocks.size(), kVerbatim);
    for (std::size_t i = 0; i < layout.blocks.size(); ++i)
        if (!layout.blocks[i].key) action[i] = kDrop;

    // Only the keys that changed are looked at, unless so many did that one walk
    // over the whole tree is cheaper than finding each one's place.
    std::unordered_map<std::uint32_t, std::vector<HiveKey*>> added;  // by the block they follow
    const auto& dirty = hive.DirtyKeys();
    if (dirty.size() * 16 > layout.order.size() + 16) {
        std::uint32_t anchor = kAfterPreamble;
        std::vector<HiveKey*> stack{&hive.Root()};
        while (!stack.empty()) {
            HiveKey* key = stack.back();
            stack.pop_back();
            const std::uint32_t first = key->FirstBlock();
            if (dirty.count(key)) Decide(*key, action, added, anchor);
            if (first != HiveKey::kNoBlock) anchor = first;
            for (auto it = key->children.rbegin(); it != key->children.rend(); ++it) stack.push_back(it->get());
        }
    } else {
        std::vector<std::pair<HiveKey*, std::uint32_t>> anchors;
        anchors.reserve(dirty.size());
        for (HiveKey* key : dirty)  // before any key's blocks change
            anchors.emplace_back(key, key->FirstBlock() == HiveKey::kNoBlock ? AnchorOf(key) : 0);
        for (auto& [key, anchor] : anchors) Decide(*key, action, added, anchor);
        for (auto& [anchor, keys] : added) std::sort(keys.begin(), keys.end(), PreorderLess);
    }
    hive.ClearDirty();

    const std::string old = std::move(layout.text);
    std::string& out = layout.text;
    out.clear();
    out.reserve(old.size() + dirty.size() * 160 + 256);
    out.append(old, 0, layout.preambleEnd);
    layout.preambleEnd = out.size();
    std::vector<std::uint32_t> order;
    order.reserve(layout.order.size() + added.size());

    auto emitGenerated = [&](HiveKey& key, std::string_view gap) {
        if (!out.empty() && out.back() != '\n') out += '\n';
        FileLayout::Block block{&key, out.size(), 0, 0};
        out += gap;
        block.bodyBegin = out.size();
        AppendBlockBody(out, key);
        block.bodyEnd = out.size();
        return block;
    };
    auto emitAdded = [&](std::uint32_t after) {
        const auto it = added.find(after);
        if (it == added.end()) return;
        for (HiveKey* key : it->second) {
            const auto id = static_cast<std::uint32_t>(layout.blocks.size());
            layout.blocks.push_back(emitGenerated(*key, "\n"));
            key->AddBlock(id);
            order.push_back(id);
        }
    };

    emitAdded(kAfterPreamble);
    for (const std::uint32_t id : layout.order) {
        const FileLayout::Block b = layout.blocks[id];
        const std::string_view gap(old.data() + b.gapBegin, b.bodyBegin - b.gapBegin);
        if (action[id] == kVerbatim) {
            FileLayout::Block moved{b.key, out.size(), 0, 0};
            out += gap;
            moved.bodyBegin = out.size();
            out.append(old, b.bodyBegin, b.bodyEnd - b.bodyBegin);
            moved.bodyEnd = out.size();
            layout.blocks[id] = moved;
            order.push_back(id);
        } else if (action[id] == kRegenerate) {
            layout.blocks[id] = emitGenerated(*b.key, gap);
            order.push_back(id);
        } else {
            layout.blocks[id].key = nullptr;
        }
        emitAdded(id);
    }
    const std::size_t trailerBegin = out.size();
    out.append(old, layout.trailerBegin, std::string::npos);
    layout.trailerBegin = trailerBegin;
    layout.order = std::move(order);
    if (layout.blocks.size() > 4096 && layout.blocks.size() > 2 * layout.order.size()) Compact(layout);
    hive.ClearChanged();
    return layout.text;
}

}  // namespace moatgate

#include "tools/moatgate-reg/RegFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>

#include "registry/store/AnsiBoundary.h"
#include "registry/store/Enumeration.h"
#include "registry/store/Unicode.h"

namespace moatgate {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
unsigned HexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// The file's text as UTF-8: UTF-16 behind a byte-order mark, UTF-8, or (for old
// REGEDIT4 files in a Western code page) Latin-1.
bool DecodeFile(std::string_view bytes, std::string& out) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2) return false;
        out = Utf16ToUtf8(FromUtf16Le(bytes.data() + 2, bytes.size() - 2));
        return true;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::u16string check;
    if (Utf8ToUtf16(bytes, check)) {
        out.assign(bytes);
        return true;
    }
    out.clear();
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return true;
}

class Parser {
public:
    // `more`, when given, adds the next piece of the file's text to what it is
    // given and says whether there was any: the text is then read piece by piece.
    Parser(std::string text, RegFileOps& ops, RegFileError& error,
           std::function<bool(std::string&)> more = nullptr)
        : text_(std::move(text)), ops_(ops), error_(error), more_(std::move(more)) {}

    bool Run() {
        if (!Next()) return Fail("the file is empty, not a registry file");
        std::string_view header = line_;
        while (!header.empty() && IsBlank(header.back())) header.remove_suffix(1);
        if (header == "Windows Registry Editor Version 5.00")
            unicode_ = true;
        else if (header == "REGEDIT4")
            unicode_ = false;
        else
            return Fail("not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
        while (Next()) {
            std::string_view s = line_;
            while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
            if (s.empty() || s.front() == ';') continue;
            const bool ok = s.front() == '[' ? KeyLine(s) : (s.front() == '"' || s.front() == '@') ? ValueLine(s)
                                                                                                   : Fail("unrecognised line");
            if (!ok) return false;
        }
        return true;
    }

private:
    bool Next() {
        std::size_t end = text_.find('\n', pos_);
        while (end == std::string::npos && more_) {
            // Only the line being read is kept from the piece before.
            text_.erase(0, std::min(pos_, text_.size()));
            pos_ = 0;
            if (!more_(text_)) more_ = nullptr;
            end = text_.find('\n', pos_);
        }
        if (pos_ >= text_.size()) return false;
        if (end == std::string::npos) end = text_.size();
        line_ = std::string_view(text_).substr(pos_, end - pos_);
        if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
        pos_ = end + 1;
        ++lineNo_;
        return true;
    }

    bool Fail(std::string message) {
        error_.line = lineNo_;
        error_.message = std::move(message);
        return false;
    }

    bool KeyLine(std::string_view s) {
        const std::size_t close = s.rfind(']');
        if (close == std::string_view::npos) return Fail("a key line must end in ']'");
        std::string_view rest = s.substr(close + 1);
        while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
        if (!rest.empty() && rest.front() != ';') return Fail("unexpected text after the key name");
        std::string_view name = s.substr(1, close - 1);
        const bool remove = !name.empty() && name.front() == '-';
        if (remove) name.remove_prefix(1);
        std::string path;
        switch (SplitRootedKey(name, path)) {
            case RootCheck::CurrentUser: break;
            case RootCheck::OtherRoot: return Fail("only keys under HKEY_CURRENT_USER can be imported");
            case RootCheck::NotAKey: return Fail("invalid key name");
        }
        // The platform's limits count UTF-16 units; an ASCII path has one a byte.
        const bool ascii = std::all_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        std::u16string& units = units_;
        if (!ascii && !Utf8ToUtf16(path, units)) return Fail("invalid key name");
        auto separatorFrom = [&](std::size_t from) {
            return ascii ? path.find('\\', from) : units.find(u'\\', from);
        };
        const std::size_t length = ascii ? path.size() : units.size();
        std::size_t depth = 0;
        for (std::size_t start = 0; start <= length;) {
            std::size_t end = separatorFrom(start);
            if (end == std::string::npos) end = length;
            if (end - start > kMaxKeyNameLength) return Fail("a key name is longer than 255 characters");
            if (end > start && ++depth > kMaxKeyDepth) return Fail("the key path is deeper than 512 levels");
            start = end + 1;
        }
        keyRemoved_ = remove;
        haveKey_ = true;
        if (!ops_.AddKey(remove ? RegFileOp::Kind::DeleteTree : RegFileOp::Kind::CreateKey, path))
            return Fail("the file is too large to be imported");
        return true;
    }

    // Reads a quoted string with the registry editor's escapes; `p` at the quote.
    bool Quoted(std::string_view s, std::size_t& p, std::string& out) {
        out.clear();
        for (++p; p < s.size(); ++p) {
            const char c = s[p];
            if (c == '"') {
                ++p;
                return true;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (++p >= s.size()) break;
            switch (s[p]) {
                case '\\': out.push_back('\\'); break;
                case '"': out.push_back('"'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case '0': out.push_back('\0'); break;
                default: return Fail("unrecognised escape sequence \\" + PrintableExcerpt(s.substr(p, 1)));
            }
        }
        return Fail("a quoted string has no closing quote");
    }

    bool OnlyCommentLeft(std::string_view s, std::size_t p) {
        while (p < s.size() && IsBlank(s[p])) ++p;
        return p == s.size() || s[p] == ';';
    }

    bool ValueLine(std::string_view s) {
        if (!haveKey_) return Fail("a value comes before any key");
        if (keyRemoved_) return Fail("a value follows a key that is being deleted");
        RegFileOp::Kind kind = RegFileOp::Kind::SetValue;
        DWORD type = 0;
        name_.clear();
        data_.clear();
        std::size_t p = 0;
        if (s[0] == '@') {
            p = 1;
        } else if (!Quoted(s, p, name_)) {
            return false;
        }
        while (p < s.size() && IsBlank(s[p])) ++p;
        if (p >= s.size() || s[p] != '=') return Fail("'=' expected after the value name");
        ++p;
        while (p < s.size() && IsBlank(s[p])) ++p;
        const std::string_view data = s.substr(p);
        if (data.substr(0, 1) == "-") {
            if (!OnlyCommentLeft(data, 1)) return Fail("unexpected text after '-'");
            kind = RegFileOp::Kind::DeleteValue;
        } else if (data.substr(0, 1) == "\"") {
            std::size_t q = 0;
            if (!Quoted(data, q, data_)) return false;
            if (!OnlyCommentLeft(data, q)) return Fail("unexpected text after the string");
            kind = RegFileOp::Kind::SetValue;
            type = REG_SZ;
            data_.push_back('\0');  // stored with its terminator, as the registry editor stores it
        } else if (data.substr(0, 6) == "dword:") {
            std::size_t q = 6;
            std::uint32_t v = 0;
            while (q < data.size() && IsHexDigit(data[q]) && q < 14) v = (v << 4) | HexDigit(data[q++]);
            if (q == 6 || !OnlyCommentLeft(data, q)) return Fail("invalid dword data (1 to 8 hexadecimal digits expected)");
            kind = RegFileOp::Kind::SetValue;
            type = REG_DWORD;
            data_ = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
        } else if (data.substr(0, 4) == "hex:" || data.substr(0, 4) == "hex(") {
            if (!HexValue(data, type)) return false;
        } else {
            return Fail("unrecognised value data");
        }
        if (!ops_.AddValue(kind, name_, type, data_)) return Fail("the file is too large to be imported");
        return true;
    }

    bool HexValue(std::string_view data, DWORD& type) {
        std::size_t q = 4;
        type = REG_BINARY;
        if (data[3] == '(') {
            std::uint64_t t = 0;
            const std::size_t start = q;
            while (q < data.size() && IsHexDigit(data[q]) && q - start < 8) t = (t << 4) | HexDigit(data[q++]);
            if (q == start || data.substr(q, 2) != "):") return Fail("invalid hex(type) prefix");
            type = static_cast<DWORD>(t);
            q += 2;
        }
        std::string bytes;
        std::string_view s = data.substr(q);
        for (;;) {
            std::size_t i = 0;
            for (;;) {
                while (i < s.size() && IsBlank(s[i])) ++i;
                if (i >= s.size() || !IsHexDigit(s[i])) break;
                unsigned v = HexDigit(s[i++]);
                if (i < s.size() && IsHexDigit(s[i])) v = (v << 4) | HexDigit(s[i++]);
                bytes.push_back(static_cast<char>(v));
                while (i < s.size() && IsBlank(s[i])) ++i;
                if (i < s.size() && s[i] == ',') ++i;
                else break;
            }
            while (i < s.size() && IsBlank(s[i])) ++i;
            if (i < s.size() && s[i] == '\\') {
                if (!OnlyCommentLeft(s, i + 1) || !Next()) return Fail("a continued hex line has no continuation");
                s = line_;
                continue;
            }
            if (!OnlyCommentLeft(s, i)) return Fail("invalid hex data");
            break;
        }
        if (unicode_ && IsStringType(type)) {
            // Version 5.00 files hold string types as UTF-16.
            if (bytes.size() % 2) return Fail("string data in UTF-16 must have an even number of bytes");
            const std::u16string units = FromUtf16Le(bytes.data(), bytes.size());
            for (std::size_t i = 0; i < units.size(); ++i) {
                const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
                const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
                if (low || (high && (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)))
                    return Fail("string data is not valid UTF-16");
                if (high) ++i;
            }
            data_ = Utf16ToUtf8(units);
        } else {
            data_ = std::move(bytes);
        }
        return true;
    }

    std::string text_;
    RegFileOps& ops_;
    RegFileError& error_;
    std::function<bool(std::string&)> more_;
    std::string_view line_;
    std::size_t pos_ = 0;
    std::size_t lineNo_ = 0;
    bool unicode_ = true;
    bool haveKey_ = false;
    bool keyRemoved_ = false;
    std::string name_, data_;  // the value being read
    std::u16string units_;     // the key being read, checked against the platform's limits
};

void AppendEscapedExport(std::string& out, std::string_view s) {
    for (char c : s) {
        if (c == '\0') break;
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            default: out += c;
        }
    }
}

std::string AsUtf16Bytes(std::string_view utf8) {
    std::string out;
    AppendUtf16Le(Utf8ToUtf16Lenient(utf8), out);
    return out;
}

void ExportValue(std::string& out, const std::string& name, DWORD type, const std::string& data) {
    const std::size_t lineStart = out.size();
    if (name.empty()) {
        out += "@=";
    } else {
        out += '"';
        AppendEscapedExport(out, name);
        out += "\"=";
    }
    std::size_t lineLen = out.size() - lineStart;
    if (type == REG_SZ) {
        out += '"';
        AppendEscapedExport(out, data);
        out += "\"\r\n";
        return;
    }
    if (type == REG_DWORD && data.size() == 4) {
        char buf[16];
        const auto v = static_cast<std::uint32_t>(static_cast<unsigned char>(data[0]) |
                                                  (static_cast<unsigned char>(data[1]) << 8) |
                                                  (static_cast<unsigned char>(data[2]) << 16)) |
                       (static_cast<std::uint32_t>(static_cast<unsigned char>(data[3])) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        out += buf;
        out += "\r\n";
        return;
    }
    const std::string bytes = IsStringType(type) ? AsUtf16Bytes(data) : data;
    char prefix[24];
    if (type == REG_BINARY)
        std::snprintf(prefix, sizeof prefix, "hex:");
    else
        std::snprintf(prefix, sizeof prefix, "hex(%x):", type);
    out += prefix;
    lineLen += std::string_view(prefix).size();
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
        if (i + 1 == bytes.size()) break;
        out += ',';
        lineLen += 3;
        if (lineLen >= 77) {
            out += "\\\r\n  ";
            lineLen = 2;
        }
    }
    out += "\r\n";
}

// A key's block, named `name` + `below`, added to `out`. A key with subkeys but
// no values gets none unless `always`: its subkeys' blocks create it, and the
// export of a deep key stays in proportion to it.
void ExportKey(RegistryApi& reg, HKEY key, const std::string& name, const std::string& below, std::string& out,
               bool always) {
    thread_local std::string values, valueName, data, firstSubkey;
    values.clear();
    DWORD type = 0;
    for (DWORD i = 0; ValueAt(reg, key, i, valueName, data, &type); ++i) ExportValue(values, valueName, type, data);
    if (values.empty() && !always && SubkeyAt(reg, key, 0, firstSubkey)) return;
    out += "\r\n[";
    out += name;
    if (!below.empty()) (out += '\\') += below;
    out += "]\r\n";
    out += values;
}

// The export of a key and everything below it, in pieces of whole keys: each
// piece goes to `emit` once it has grown (and the last at the end).
void ExportPieces(RegistryApi& reg, HKEY key, const std::string& name, const std::function<void(std::string&)>& emit) {
    constexpr std::size_t kPiece = 64 * 1024;
    std::string out = "Windows Registry Editor Version 5.00\r\n";
    ExportKey(reg, key, name, {}, out, true);
    ForEachKeyBelow(reg, key, [&](HKEY below, const std::string& path) {
        ExportKey(reg, below, name, path, out, false);
        if (out.size() >= kPiece) {
            emit(out);
            out.clear();
        }
    });
    out += "\r\n";
    emit(out);
}

// UTF-16 in the file: each unit of a UTF-16 file's text after its byte-order
// mark, turned into UTF-8 as it is read; pairs of surrogates give one character,
// a surrogate alone U+FFFD (as Utf16ToUtf8 has it).
class Utf16Reader {
public:
    void Feed(const unsigned char* bytes, std::size_t size, std::string& out) {
        std::size_t i = 0;
        if (odd_ >= 0 && size > 0) {
            Unit(static_cast<char16_t>(odd_ | (bytes[0] << 8)), out);
            odd_ = -1;
            i = 1;
        }
        while (i + 1 < size) {
            // Runs of ASCII, as most of a registry file is, go over four units at a time.
            if (!high_) {
                const std::size_t at = out.size();
                out.resize(at + (size - i) / 2);
                char* to = out.data() + at;
                std::uint64_t four = 0;
                while (i + 8 <= size && (std::memcpy(&four, bytes + i, 8), (four & 0xFF80FF80FF80FF80ull) == 0)) {
                    to[0] = static_cast<char>(bytes[i]);
                    to[1] = static_cast<char>(bytes[i + 2]);
                    to[2] = static_cast<char>(bytes[i + 4]);
                    to[3] = static_cast<char>(bytes[i + 6]);
                    to += 4;
                    i += 8;
                }
                while (i + 1 < size && bytes[i + 1] == 0 && bytes[i] < 0x80) {
                    *to++ = static_cast<char>(bytes[i]);
                    i += 2;
                }
                out.resize(static_cast<std::size_t>(to - out.data()));
                if (i + 1 >= size) break;
            }
            Unit(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)), out);
            i += 2;
        }
        if (i < size) odd_ = bytes[i];
    }
    // False when the bytes were an odd number.
    bool Finish(std::string& out) {
        if (high_) AppendUtf8(0xFFFD, out);
        high_ = 0;
        return odd_ < 0;
    }

private:
    void Unit(char16_t u, std::string& out) {
        if (high_) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                AppendUtf8(0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (u - 0xDC00u), out);
                high_ = 0;
                return;
            }
            AppendUtf8(0xFFFD, out);
            high_ = 0;
        }
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u >= 0xD800 && u <= 0xDBFF) {
            high_ = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            AppendUtf8(0xFFFD, out);
        } else {
            AppendUtf8(u, out);
        }
    }
    char16_t high_ = 0;
    int odd_ = -1;
};

// The file at `path` read as ParseRegFile reads its bytes; a UTF-16 file is
// turned into text and read piece by piece, so that neither its bytes nor its
// whole text are ever held.
bool ParseFileAt(const std::string& path, RegFileOps& ops, RegFileError& error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        error = {0, "cannot be opened"};
        return false;
    }
    std::vector<unsigned char> piece(1 << 16);
    std::size_t got = std::fread(piece.data(), 1, piece.size(), file.get());
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    ops.clear();
    if (got >= 2 && piece[0] == 0xFF && piece[1] == 0xFE) {
        if (!ec && size % 2) {
            error = {1, "the file is neither UTF-16 nor UTF-8 text"};
            return false;
        }
        Utf16Reader reader;
        std::string text;
        if (!ec) ops.Reserve(static_cast<std::size_t>(size / 2));
        reader.Feed(piece.data() + 2, got - 2, text);
        bool failed = false;
        auto more = [&](std::string& to) {
            got = std::fread(piece.data(), 1, piece.size(), file.get());
            if (got == 0) {
                failed = std::ferror(file.get()) != 0 || !reader.Finish(to);
                return false;
            }
            reader.Feed(piece.data(), got, to);
            return true;
        };
        const bool parsed = Parser(std::move(text), ops, error, more).Run();
        if (failed) {
            ops.clear();
            error = std::ferror(file.get()) ? RegFileError{0, "cannot be read"}
                                            : RegFileError{1, "the file is neither UTF-16 nor UTF-8 text"};
            return false;
        }
        return parsed;
    }
    std::string bytes;
    if (!ec) bytes.reserve(static_cast<std::size_t>(size));
    bytes.append(reinterpret_cast<const char*>(piece.data()), got);
    while ((got = std::fread(piece.data(), 1, piece.size(), file.get())) > 0)
        bytes.append(reinterpret_cast<const char*>(piece.data()), got);
    if (std::ferror(file.get())) {
        error = {0, "cannot be read"};
        return false;
    }
    return ParseRegFile(bytes, ops, error);
}

}  // namespace

RootCheck SplitRootedKey(std::string_view text, std::string& path) {
    const std::size_t sep = text.find('\\');
    const std::string_view root = text.substr(0, sep);
    if (root.empty()) return RootCheck::NotAKey;
    std::string_view rest = sep == std::string_view::npos ? std::string_view() : text.substr(sep + 1);
    while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
    if (EqualsNoCase(root, "HKCU") || EqualsNoCase(root, "HKEY_CURRENT_USER")) {
        if (!rest.empty() && rest.front() == '\\') return RootCheck::NotAKey;
        path.assign(rest);
        return RootCheck::CurrentUser;
    }
    for (const char* other : {"HKLM", "HKEY_LOCAL_MACHINE", "HKCR", "HKEY_CLASSES_ROOT", "HKU", "HKEY_USERS", "HKCC",
                              "HKEY_CURRENT_CONFIG"})
        if (EqualsNoCase(root, other)) return RootCheck::OtherRoot;
    return RootCheck::NotAKey;
}

void RegFileOps::clear() {
    std::vector<Step>().swap(steps_);
    std::string().swap(text_);
    std::string().swap(lastPath_);
}

void RegFileOps::Reserve(std::size_t bytes) {
    // A step takes a line of some twenty bytes at least; pages never written are
    // never given memory.
    steps_.reserve(bytes / 20 + 16);
    text_.reserve(bytes / 4 + 64);
}

bool RegFileOps::Append(std::string_view text, std::uint32_t& begin, std::uint32_t& size, bool terminated) {
    // Positions are kept in 32 bits: a file that would need more is refused.
    if (text_.size() + text.size() + 1 > 0xFFFFFFFFu) return false;
    begin = static_cast<std::uint32_t>(text_.size());
    size = static_cast<std::uint32_t>(text.size());
    text_.append(text);
    if (terminated) text_.push_back('\0');
    return true;
}

bool RegFileOps::AddKey(RegFileOp::Kind kind, std::string_view path) {
    std::size_t shared = 0;
    const std::size_t most = std::min(path.size(), lastPath_.size());
    while (shared + 8 <= most && std::memcmp(path.data() + shared, lastPath_.data() + shared, 8) == 0) shared += 8;
    while (shared < most && path[shared] == lastPath_[shared]) ++shared;
    Step step{kind, static_cast<DWORD>(shared), 0, 0, 0, 0};
    if (path.size() > 0xFFFFFFFFu || !Append(path.substr(shared), step.aBegin, step.aSize, false)) return false;
    lastPath_.assign(path);
    steps_.push_back(step);
    return true;
}

bool RegFileOps::AddValue(RegFileOp::Kind kind, std::string_view name, DWORD type, std::string_view data) {
    Step step{kind, type, 0, 0, 0, 0};
    // Data is followed by a NUL, as a C string's is: RegSetValueExA may look one
    // byte past a string's end.
    if (!Append(name, step.aBegin, step.aSize, false) || !Append(data, step.bBegin, step.bSize, true)) return false;
    steps_.push_back(step);
    return true;
}

bool RegFileOps::Reader::Next(RegFileOp& op) {
    if (next_ >= ops_.steps_.size()) return false;
    const Step& s = ops_.steps_[next_++];
    const std::string_view text(ops_.text_);
    op.kind = s.kind;
    if (s.kind == RegFileOp::Kind::CreateKey || s.kind == RegFileOp::Kind::DeleteTree) {
        key_.resize(s.type);
        key_.append(text.substr(s.aBegin, s.aSize));
        op.name = op.data = {};
        op.type = 0;
    } else {
        op.name = text.substr(s.aBegin, s.aSize);
        op.data = text.substr(s.bBegin, s.bSize);
        op.type = s.type;
    }
    op.key = key_;
    return true;
}

bool ParseRegFile(std::string_view bytes, RegFileOps& ops, RegFileError& error) {
    std::string text;
    if (!DecodeFile(bytes, text)) {
        error = {1, "the file is neither UTF-16 nor UTF-8 text"};
        return false;
    }
    ops.clear();
    ops.Reserve(text.size());
    return Parser(std::move(text), ops, error).Run();
}

bool ParseRegFileAt(const std::string& path, RegFileOps& ops, RegFileError& error) {
    return ParseFileAt(path, ops, error);
}

LONG DeleteKeyTree(RegistryApi& reg, const std::string& path) {
    // Depth first without recursion: the deepest key open is emptied of its
    // subkeys, then deleted through its parent's handle.
    struct Level {
        HKEY handle;
        std::size_t pathLength;  // `below` cut to this length names the level's key
    };
    HKEY top = 0;
    LONG status = reg.RegOpenKeyA(HKEY_CURRENT_USER, path, &top);
    if (status) return status;
    std::vector<Level> levels{{top, 0}};
    std::string below, name;  // the path from `path` down to a key
    while (!levels.empty()) {
        below.resize(levels.back().pathLength);
        if (SubkeyAt(reg, levels.back().handle, 0, name)) {
            HKEY child = 0;
            status = reg.RegOpenKeyA(levels.back().handle, name, &child);
            if (status) break;
            if (!below.empty()) below += '\\';
            below += name;
            levels.push_back({child, below.size()});
            continue;
        }
        reg.RegCloseKey(levels.back().handle);
        levels.pop_back();
        if (levels.empty()) {
            status = reg.RegDeleteKeyA(HKEY_CURRENT_USER, path);
        } else {
            const std::size_t parent = levels.back().pathLength;
            status = reg.RegDeleteKeyA(levels.back().handle, below.substr(parent ? parent + 1 : 0));
        }
        if (status) break;
    }
    for (const Level& open : levels) reg.RegCloseKey(open.handle);
    return status;
}

LONG ApplyRegFile(RegistryApi& reg, RegFileOps ops, std::string& error) {
    StoreScope scope(reg, true);
    HKEY current = 0;
    // The parents of the last keys made, kept open: files list keys in order, so
    // most keys are made with one name below a parent already open (a domain's
    // subdomains alternate with the domains themselves).
    struct Parent {
        std::string path;
        HKEY handle = 0;
        std::size_t used = 0;  // when last used: the least recent goes first
    };
    Parent parents[4];
    std::size_t clock = 0;
    auto closeAll = [&] {
        if (current) reg.RegCloseKey(current);
        current = 0;
        for (Parent& p : parents) {
            if (p.handle) reg.RegCloseKey(p.handle);
            p = Parent{};
        }
    };
    auto fail = [&](LONG status, const std::string& what) {
        closeAll();
        scope.End(false);
        const std::string detail = reg.LastErrorText();
        error = what + " (status " + std::to_string(status) + ")" + (detail.empty() ? "" : ": " + detail);
        return status;
    };
    auto createKey = [&](std::string_view path) {
        const std::size_t split = path.rfind('\\');
        if (split == std::string_view::npos)
            return reg.RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, "", 0, KEY_ALL_KEY_RIGHTS, nullptr, &current, nullptr);
        const std::string_view above = path.substr(0, split);
        Parent* parent = nullptr;
        Parent* oldest = &parents[0];
        for (Parent& p : parents) {
            if (p.handle && p.path == above) parent = &p;
            if (p.used < oldest->used) oldest = &p;
        }
        if (parent) {
            parent->used = ++clock;
        } else {
            parent = oldest;
            parent->used = ++clock;
            if (parent->handle) reg.RegCloseKey(parent->handle);
            parent->handle = 0;
            parent->path.assign(above);
            if (const LONG status = reg.RegCreateKeyExA(HKEY_CURRENT_USER, above, 0, "", 0, KEY_ALL_KEY_RIGHTS, nullptr,
                                                        &parent->handle, nullptr))
                return status;
        }
        return reg.RegCreateKeyExA(parent->handle, path.substr(split + 1), 0, "", 0, KEY_ALL_KEY_RIGHTS, nullptr,
                                   &current, nullptr);
    };
    RegFileOps::Reader steps(ops);
    for (RegFileOp op; steps.Next(op);) {
        LONG status = ERROR_SUCCESS;
        switch (op.kind) {
            case RegFileOp::Kind::DeleteTree:
                closeAll();
                status = DeleteKeyTree(reg, std::string(op.key));
                if (status && status != ERROR_FILE_NOT_FOUND)
                    return fail(status, "cannot delete HKEY_CURRENT_USER\\" + PrintableExcerpt(op.key, 80));
                break;
            case RegFileOp::Kind::CreateKey:
                if (current) reg.RegCloseKey(current);
                current = 0;
                status = createKey(op.key);
                if (status) return fail(status, "cannot create HKEY_CURRENT_USER\\" + PrintableExcerpt(op.key, 80));
                break;
            case RegFileOp::Kind::SetValue:
                status = reg.RegSetValueExA(current, op.name, 0, op.type,
                                            reinterpret_cast<const unsigned char*>(op.data.data()),
                                            static_cast<DWORD>(op.data.size()));
                if (status) return fail(status, "cannot set value \"" + PrintableExcerpt(op.name, 80) + "\" in HKEY_CURRENT_USER\\" + PrintableExcerpt(op.key, 80));
                break;
            case RegFileOp::Kind::DeleteValue:
                status = reg.RegDeleteValueA(current, op.name);
                if (status && status != ERROR_FILE_NOT_FOUND)
                    return fail(status, "cannot delete value \"" + PrintableExcerpt(op.name, 80) + "\" in HKEY_CURRENT_USER\\" + PrintableExcerpt(op.key, 80));
                break;
        }
    }
    closeAll();
    ops.clear();  // before the store's new text is made
    const LONG status = scope.End();
    if (status) {
        const std::string detail = reg.LastErrorText();
        error = "cannot save the changes (status " + std::to_string(status) + ")" + (detail.empty() ? "" : ": " + detail);
    }
    return status;
}

std::string ExportRegText(RegistryApi& reg, HKEY key, const std::string& name) {
    std::string out;
    ExportPieces(reg, key, name, [&out](std::string& piece) { out += piece; });
    return out;
}

bool ExportRegFile(RegistryApi& reg, HKEY key, const std::string& name, std::ostream& out) {
    std::string bytes = "\xFF\xFE";
    ExportPieces(reg, key, name, [&](std::string& piece) {
        // Each piece is whole keys of whole characters: turned into UTF-16 on its
        // own, it gives what the whole text would.
        AppendUtf16Le(Utf8ToUtf16Lenient(piece), bytes);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.clear();
    });
    return static_cast<bool>(out);
}

std::string EncodeRegFile(std::string_view utf8) {
    std::string out = "\xFF\xFE";
    out += AsUtf16Bytes(utf8);
    return out;
}

}  // namespace moatgate

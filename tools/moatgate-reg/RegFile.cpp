#include "tools/moatgate-reg/RegFile.h"

#include <algorithm>
#include <cstdio>
#include <functional>

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
    Parser(std::string text, std::vector<RegFileOp>& ops, RegFileError& error)
        : text_(std::move(text)), ops_(ops), error_(error) {}

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
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
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
        std::u16string units;
        if (!Utf8ToUtf16(path, units)) return Fail("invalid key name");
        std::size_t depth = 0;
        for (std::size_t start = 0; start <= units.size();) {
            std::size_t end = units.find(u'\\', start);
            if (end == std::u16string::npos) end = units.size();
            if (end - start > kMaxKeyNameLength) return Fail("a key name is longer than 255 characters");
            if (end > start && ++depth > kMaxKeyDepth) return Fail("the key path is deeper than 512 levels");
            start = end + 1;
        }
        key_ = path;
        keyRemoved_ = remove;
        haveKey_ = true;
        RegFileOp op;
        op.kind = remove ? RegFileOp::Kind::DeleteTree : RegFileOp::Kind::CreateKey;
        op.key = std::move(path);
        ops_.push_back(std::move(op));
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
        RegFileOp op;
        op.key = key_;
        std::size_t p = 0;
        if (s[0] == '@') {
            p = 1;
        } else if (!Quoted(s, p, op.name)) {
            return false;
        }
        while (p < s.size() && IsBlank(s[p])) ++p;
        if (p >= s.size() || s[p] != '=') return Fail("'=' expected after the value name");
        ++p;
        while (p < s.size() && IsBlank(s[p])) ++p;
        const std::string_view data = s.substr(p);
        if (data.substr(0, 1) == "-") {
            if (!OnlyCommentLeft(data, 1)) return Fail("unexpected text after '-'");
            op.kind = RegFileOp::Kind::DeleteValue;
        } else if (data.substr(0, 1) == "\"") {
            std::size_t q = 0;
            if (!Quoted(data, q, op.data)) return false;
            if (!OnlyCommentLeft(data, q)) return Fail("unexpected text after the string");
            op.kind = RegFileOp::Kind::SetValue;
            op.type = REG_SZ;
            op.data.push_back('\0');  // stored with its terminator, as the registry editor stores it
        } else if (data.substr(0, 6) == "dword:") {
            std::size_t q = 6;
            std::uint32_t v = 0;
            while (q < data.size() && IsHexDigit(data[q]) && q < 14) v = (v << 4) | HexDigit(data[q++]);
            if (q == 6 || !OnlyCommentLeft(data, q)) return Fail("invalid dword data (1 to 8 hexadecimal digits expected)");
            op.kind = RegFileOp::Kind::SetValue;
            op.type = REG_DWORD;
            op.data = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
        } else if (data.substr(0, 4) == "hex:" || data.substr(0, 4) == "hex(") {
            if (!HexValue(data, op)) return false;
        } else {
            return Fail("unrecognised value data");
        }
        ops_.push_back(std::move(op));
        return true;
    }

    bool HexValue(std::string_view data, RegFileOp& op) {
        std::size_t q = 4;
        op.type = REG_BINARY;
        if (data[3] == '(') {
            std::uint64_t t = 0;
            const std::size_t start = q;
            while (q < data.size() && IsHexDigit(data[q]) && q - start < 8) t = (t << 4) | HexDigit(data[q++]);
            if (q == start || data.substr(q, 2) != "):") return Fail("invalid hex(type) prefix");
            op.type = static_cast<DWORD>(t);
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
        op.kind = RegFileOp::Kind::SetValue;
        if (unicode_ && IsStringType(op.type)) {
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
            op.data = Utf16ToUtf8(units);
        } else {
            op.data = std::move(bytes);
        }
        return true;
    }

    std::string text_;
    std::vector<RegFileOp>& ops_;
    RegFileError& error_;
    std::string_view line_;
    std::size_t pos_ = 0;
    std::size_t lineNo_ = 0;
    bool unicode_ = true;
    bool haveKey_ = false;
    bool keyRemoved_ = false;
    std::string key_;
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

// A key's block, named `name` + `below`. A key with subkeys but no values gets
// none unless `always`: its subkeys' blocks create it, and the export of a deep
// key stays in proportion to it.
void ExportKey(RegistryApi& reg, HKEY key, const std::string& name, const std::string& below, std::string& out,
               bool always) {
    std::string values, valueName, data;
    DWORD type = 0;
    for (DWORD i = 0; ValueAt(reg, key, i, valueName, data, &type); ++i) ExportValue(values, valueName, type, data);
    std::string firstSubkey;
    if (values.empty() && !always && SubkeyAt(reg, key, 0, firstSubkey)) return;
    out += "\r\n[";
    out += name;
    if (!below.empty()) (out += '\\') += below;
    out += "]\r\n";
    out += values;
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

bool ParseRegFile(std::string_view bytes, std::vector<RegFileOp>& ops, RegFileError& error) {
    std::string text;
    if (!DecodeFile(bytes, text)) {
        error = {1, "the file is neither UTF-16 nor UTF-8 text"};
        return false;
    }
    ops.clear();
    return Parser(std::move(text), ops, error).Run();
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

LONG ApplyRegFile(RegistryApi& reg, const std::vector<RegFileOp>& ops, std::string& error) {
    StoreScope scope(reg, true);
    HKEY current = 0;
    auto fail = [&](LONG status, const std::string& what) {
        if (current) reg.RegCloseKey(current);
        scope.End(false);
        const std::string detail = reg.LastErrorText();
        error = what + " (status " + std::to_string(status) + ")" + (detail.empty() ? "" : ": " + detail);
        return status;
    };
    for (const RegFileOp& op : ops) {
        LONG status = ERROR_SUCCESS;
        switch (op.kind) {
            case RegFileOp::Kind::DeleteTree:
                if (current) reg.RegCloseKey(current);
                current = 0;
                status = DeleteKeyTree(reg, op.key);
                if (status && status != ERROR_FILE_NOT_FOUND)
                    return fail(status, "cannot delete HKEY_CURRENT_USER\\" + PrintableExcerpt(op.key, 80));
                break;
            case RegFileOp::Kind::CreateKey:
                if (current) reg.RegCloseKey(current);
                current = 0;
                status = reg.RegCreateKeyExA(HKEY_CURRENT_USER, op.key, 0, "", 0, KEY_ALL_KEY_RIGHTS, nullptr, &current,
                                             nullptr);
                if (status) return fail(status, "cannot create HKEY_CURRENT_USER\\" + PrintableExcerpt(op.key, 80));
                break;
            case RegFileOp::Kind::SetValue:
                status = reg.RegSetValueExA(current, op.name, 0, op.type,
                                            reinterpret_cast<const unsigned char*>(op.data.c_str()),
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
    if (current) reg.RegCloseKey(current);
    const LONG status = scope.End();
    if (status) {
        const std::string detail = reg.LastErrorText();
        error = "cannot save the changes (status " + std::to_string(status) + ")" + (detail.empty() ? "" : ": " + detail);
    }
    return status;
}

std::string ExportRegText(RegistryApi& reg, HKEY key, const std::string& name) {
    std::string out = "Windows Registry Editor Version 5.00\r\n";
    ExportKey(reg, key, name, {}, out, true);
    ForEachKeyBelow(reg, key, [&](HKEY below, const std::string& path) { ExportKey(reg, below, name, path, out, false); });
    out += "\r\n";
    return out;
}

std::string EncodeRegFile(std::string_view utf8) {
    std::string out = "\xFF\xFE";
    out += AsUtf16Bytes(utf8);
    return out;
}

}  // namespace moatgate

#include "tools/moatgate-reg/RegTool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "registry/store/AnsiBoundary.h"
#include "registry/store/Enumeration.h"
#include "registry/store/Unicode.h"
#include "tools/moatgate-reg/RegFile.h"

namespace moatgate {

namespace {

constexpr const char* kDone = "The operation completed successfully.\n";
constexpr const char* kCancelled = "The operation was cancelled.\n";

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// A piece of the user's input as an error message quotes it: short, and with
// control characters shown escaped.
std::string Shown(std::string_view text) { return PrintableExcerpt(text, 80); }

struct Options {
    std::vector<std::string> positional;
    bool hasV = false, ve = false, va = false, s = false, f = false, y = false;
    bool hasT = false, hasD = false, hasSep = false;
    std::string v, t, d, sep;
};

class Tool {
public:
    Tool(RegistryApi& reg, std::istream& in, std::ostream& out, std::ostream& err)
        : reg_(reg), in_(in), out_(out), err_(err) {}

    int Run(const std::vector<std::string>& args) {
        if (args.empty()) return Usage(1);
        const std::string command = Lower(args[0]);
        if (command == "/?" || command == "-?" || command == "/h" || command == "-h" || command == "--help")
            return Usage(0);
        Options o;
        std::string error;
        if (!Parse(command, args, o, error)) return Fail(error.empty() ? "Invalid syntax." : error, true);
        if (command == "query") return Query(o);
        if (command == "add") return Add(o);
        if (command == "delete") return Delete(o);
        if (command == "export") return Export(o);
        return Import(o);
    }

private:
    int Usage(int code) {
        (code ? err_ : out_) << RegToolUsage();
        return code;
    }

    int Fail(const std::string& message, bool withUsage = false) {
        err_ << "moatgate-reg: " << message << "\n";
        if (withUsage) err_ << "Type \"moatgate-reg /?\" for usage.\n";
        return 1;
    }

    bool Parse(const std::string& command, const std::vector<std::string>& args, Options& o, std::string& error) {
        static const std::vector<std::string> commands{"query", "add", "delete", "export", "import"};
        if (std::find(commands.begin(), commands.end(), command) == commands.end()) {
            error = "Unknown command '" + Shown(args[0]) + "'.";
            return false;
        }
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string& a = args[i];
            // Only the known switches are switches: "/tmp/list.reg" is a file name.
            static const std::vector<std::string> switches{"v", "ve", "va", "s", "f", "t", "d", "y"};
            const std::string sw = a.size() >= 2 ? Lower(a.substr(1)) : std::string();
            if ((a[0] != '/' && a[0] != '-') || std::find(switches.begin(), switches.end(), sw) == switches.end()) {
                o.positional.push_back(a);
                continue;
            }
            auto takeValue = [&](bool& has, std::string& value) {
                if (has || i + 1 >= args.size()) return false;
                has = true;
                value = args[++i];
                return true;
            };
            auto flag = [&](bool& f) {
                if (f) return false;
                f = true;
                return true;
            };
            bool ok = false;
            if (sw == "v" && command != "export" && command != "import") ok = takeValue(o.hasV, o.v);
            else if (sw == "ve" && command != "export" && command != "import") ok = flag(o.ve);
            else if (sw == "va" && command == "delete") ok = flag(o.va);
            else if (sw == "s" && command == "query") ok = flag(o.s);
            else if (sw == "s" && command == "add") ok = takeValue(o.hasSep, o.sep);
            else if (sw == "f" && (command == "add" || command == "delete")) ok = flag(o.f);
            else if (sw == "t" && command == "add") ok = takeValue(o.hasT, o.t);
            else if (sw == "d" && command == "add") ok = takeValue(o.hasD, o.d);
            else if (sw == "y" && command == "export") ok = flag(o.y);
            if (!ok) {
                error = "Invalid syntax: '" + Shown(a) + "'.";
                return false;
            }
        }
        const std::size_t wanted = command == "export" ? 2 : 1;
        if (o.positional.size() != wanted) return false;
        if ((o.hasV ? 1 : 0) + (o.ve ? 1 : 0) + (o.va ? 1 : 0) > 1) {
            error = "Use only one of /v, /ve and /va.";
            return false;
        }
        return true;
    }

    // The key named on the command line, relative to the current user's root.
    bool KeyArg(const Options& o, std::string& path, std::string& display) {
        switch (SplitRootedKey(o.positional[0], path)) {
            case RootCheck::CurrentUser:
                display = "HKEY_CURRENT_USER" + (path.empty() ? std::string() : "\\" + path);
                return true;
            case RootCheck::OtherRoot:
                Fail("Only HKEY_CURRENT_USER (HKCU) is kept in Moatgate's store: '" + Shown(o.positional[0]) + "'.");
                return false;
            case RootCheck::NotAKey:
                break;
        }
        Fail("Invalid key name '" + Shown(o.positional[0]) + "': write HKCU\\... or HKEY_CURRENT_USER\\....");
        return false;
    }

    bool Ask(const std::string& question) {
        out_ << question << " (Yes/No)? " << std::flush;
        std::string answer;
        if (!std::getline(in_, answer)) {
            out_ << "\n";
            return false;
        }
        while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
        const std::string a = Lower(answer);
        return a == "y" || a == "yes";
    }

    static std::string TypeName(DWORD type) {
        switch (type) {
            case 0: return "REG_NONE";
            case 1: return "REG_SZ";
            case 2: return "REG_EXPAND_SZ";
            case 3: return "REG_BINARY";
            case 4: return "REG_DWORD";
            case 5: return "REG_DWORD_BIG_ENDIAN";
            case 6: return "REG_LINK";
            case 7: return "REG_MULTI_SZ";
            case 11: return "REG_QWORD";
            default: {
                char buf[16];
                std::snprintf(buf, sizeof buf, "0x%x", type);
                return buf;
            }
        }
    }

    static std::string DataText(DWORD type, const std::string& data) {
        auto number = [&](std::size_t bytes, bool bigEndian) {
            unsigned long long v = 0;
            for (std::size_t i = 0; i < bytes; ++i) {
                const auto b = static_cast<unsigned char>(data[bigEndian ? i : bytes - 1 - i]);
                v = (v << 8) | b;
            }
            char buf[24];
            std::snprintf(buf, sizeof buf, "0x%llx", v);
            return std::string(buf);
        };
        if (type == REG_SZ || type == REG_EXPAND_SZ) return data.substr(0, data.find('\0'));
        if (type == REG_DWORD && data.size() == 4) return number(4, false);
        if (type == 5 && data.size() == 4) return number(4, true);
        if (type == REG_QWORD && data.size() == 8) return number(8, false);
        if (type == REG_MULTI_SZ) {
            std::string text = data;
            while (!text.empty() && text.back() == '\0') text.pop_back();
            std::string shown;
            for (char c : text) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
            return shown;
        }
        std::string hex;
        char buf[4];
        for (char c : data) {
            std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
            hex += buf;
        }
        return hex;
    }

    void ValueLine(const std::string& name, DWORD type, const std::string& data) {
        out_ << "    " << (name.empty() ? "(Default)" : name) << "    " << TypeName(type) << "    "
             << DataText(type, data) << "\n";
    }

    static bool ReadValue(RegistryApi& reg, HKEY key, const std::string& name, DWORD& type, std::string& data) {
        DWORD size = 0;
        if (reg.RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
        data.assign(size, '\0');
        if (reg.RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<unsigned char*>(data.data()), &size) !=
            ERROR_SUCCESS)
            return false;
        data.resize(size);
        return true;
    }

    // The value's name as stored, if the key has it (names match without regard to case).
    static const std::string* FindName(const std::vector<std::string>& names, const std::string& name) {
        const std::u16string wanted = Utf8ToUtf16Lenient(name);
        for (const auto& n : names)
            if (CompareNames(Utf8ToUtf16Lenient(n), wanted) == 0) return &n;
        return nullptr;
    }
    static std::string StoredName(RegistryApi& reg, HKEY key, const std::string& name) {
        const std::vector<std::string> names = ValueNames(reg, key);
        const std::string* stored = FindName(names, name);
        return stored ? *stored : name;
    }

    // The key's name and values, as reg prints them; a key without values is
    // named only when `always`.
    void PrintKey(HKEY key, const std::string& display, bool always) {
        const std::vector<std::string> values = ValueNames(reg_, key);
        if (!values.empty() || always) out_ << display << "\n";
        for (const auto& name : values) {
            DWORD type = 0;
            std::string data;
            if (ReadValue(reg_, key, name, type, data)) ValueLine(name, type, data);
        }
        if (!values.empty() || always) out_ << "\n";
    }

    void QueryAll(HKEY key, const std::string& display, bool recurse) {
        PrintKey(key, display, false);
        if (!recurse) {
            for (const auto& sub : SubkeyNames(reg_, key)) out_ << display << "\\" << sub << "\n";
            return;
        }
        ForEachKeyBelow(reg_, key, [&](HKEY below, const std::string& path) {
            PrintKey(below, display + "\\" + path, true);
        });
    }

    // Prints the key's value of that name as a block of its own, if it has one;
    // the key is named `display` + `below` (put together only when printed).
    bool PrintValue(HKEY key, const std::string& display, const std::string& name, const std::string& below = {}) {
        DWORD type = 0;
        std::string data;
        if (!ReadValue(reg_, key, name, type, data)) return false;
        out_ << display << (below.empty() ? "" : "\\") << below << "\n";
        ValueLine(StoredName(reg_, key, name), type, data);
        out_ << "\n";
        return true;
    }

    std::size_t SearchValue(HKEY key, const std::string& display, const std::string& name) {
        std::size_t found = PrintValue(key, display, name) ? 1 : 0;
        ForEachKeyBelow(reg_, key, [&](HKEY below, const std::string& path) {
            if (PrintValue(below, display, name, path)) ++found;
        });
        return found;
    }

    int Query(const Options& o) {
        std::string path, display;
        if (!KeyArg(o, path, display)) return 1;
        StoreScope scope(reg_, false);
        HKEY key = 0;
        if (reg_.RegOpenKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS)
            return Fail(StoreProblem("Unable to find the specified registry key."));
        int code = 0;
        out_ << "\n";
        if (o.hasV || o.ve) {
            const std::string name = o.hasV ? o.v : std::string();
            if (o.s) {
                const std::size_t found = SearchValue(key, display, name);
                out_ << "End of search: " << found << " match(es) found.\n";
                code = found ? 0 : 1;
            } else if (!PrintValue(key, display, name)) {
                if (o.ve) {
                    out_ << display << "\n    (Default)    REG_SZ    (value not set)\n\n";
                } else {
                    code = Fail("Unable to find the specified registry value.");
                }
            }
        } else {
            QueryAll(key, display, o.s);
        }
        reg_.RegCloseKey(key);
        NoteUnwritable();
        return code;
    }

    std::string StoreProblem(const std::string& fallback) const {
        const std::string detail = reg_.LastErrorText();
        if (detail.empty()) return fallback;
        if (!reg_.UnwritableReason().empty())
            return detail + "\nThe store could be read only in part, so nothing is written to it until that line is mended.";
        return detail;
    }

    // Said after a read from a store that refuses every write.
    void NoteUnwritable() {
        const std::string why = reg_.UnwritableReason();
        if (!why.empty())
            err_ << "moatgate-reg: warning: " << why
                 << "\nmoatgate-reg: the store was read as far as it could be; nothing is written to it until that "
                    "line is mended.\n";
    }

    // Why a key path cannot be created, as the registry's limits have it, or empty.
    static std::string BeyondLimits(const std::string& path) {
        std::vector<std::u16string> names;
        if (SplitKeyPath(path, names)) return "it is not UTF-8 text";
        if (names.size() > kMaxKeyDepth) return "a key path may be at most 512 levels deep";
        for (const auto& n : names)
            if (n.size() > kMaxKeyNameLength) return "a key name may be at most 255 characters long";
        return {};
    }

    static bool ParseUnsigned(const std::string& text, unsigned long long max, unsigned long long& v) {
        // Digits only, as reg takes them: no sign, no blank or tab in front.
        if (text.empty() || text[0] < '0' || text[0] > '9') return false;
        errno = 0;
        char* end = nullptr;
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
        return errno == 0 && end && *end == '\0' && v <= max;
    }

    // The bytes `add` stores for /t and /d; false with `error` for bad input.
    bool AddData(const Options& o, DWORD& type, std::string& data, std::string& error) {
        const std::string t = o.hasT ? Lower(o.t) : "reg_sz";
        const std::string& d = o.d;
        if (t == "reg_sz" || t == "reg_expand_sz") {
            type = t == "reg_sz" ? REG_SZ : REG_EXPAND_SZ;
            data = d;
        } else if (t == "reg_dword" || t == "reg_dword_little_endian" || t == "reg_dword_big_endian") {
            unsigned long long v = 0;
            if (!ParseUnsigned(o.hasD ? d : "0", 0xFFFFFFFFull, v)) {
                error = "Invalid DWORD data '" + Shown(d) + "': give a number from 0 to 4294967295 (or 0x0 to 0xffffffff).";
                return false;
            }
            type = t == "reg_dword_big_endian" ? 5 : REG_DWORD;
            data.clear();
            for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
            if (type == 5) std::reverse(data.begin(), data.end());
        } else if (t == "reg_qword" || t == "reg_qword_little_endian") {
            unsigned long long v = 0;
            if (!ParseUnsigned(o.hasD ? d : "0", ~0ull, v)) {
                error = "Invalid QWORD data '" + Shown(d) + "'.";
                return false;
            }
            type = REG_QWORD;
            data.clear();
            for (int i = 0; i < 8; ++i) data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        } else if (t == "reg_binary" || t == "reg_none") {
            type = t == "reg_binary" ? REG_BINARY : REG_NONE;
            data.clear();
            if (d.size() % 2 || d.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                error = "Invalid binary data '" + Shown(d) + "': give an even number of hexadecimal digits.";
                return false;
            }
            for (std::size_t i = 0; i < d.size(); i += 2)
                data.push_back(static_cast<char>(std::stoi(d.substr(i, 2), nullptr, 16)));
        } else if (t == "reg_multi_sz") {
            type = REG_MULTI_SZ;
            const std::string sep = o.hasSep ? o.sep : "\\0";
            if (sep.empty()) {
                error = "The separator of /s must not be empty.";
                return false;
            }
            data.clear();
            std::size_t start = 0;
            while (!d.empty() && start <= d.size()) {
                std::size_t end = d.find(sep, start);
                if (end == std::string::npos) end = d.size();
                const std::string piece = d.substr(start, end - start);
                if (piece.empty() && end != d.size()) {
                    error = "REG_MULTI_SZ data cannot hold an empty string between separators.";
                    return false;
                }
                if (!piece.empty()) data += piece + '\0';
                start = end + sep.size();
            }
            data += '\0';
        } else {
            error = "Unsupported registry data type [" + Shown(o.t) + "].";
            return false;
        }
        return true;
    }

    int Add(const Options& o) {
        std::string path, display;
        if (!KeyArg(o, path, display)) return 1;
        if (const std::string why = BeyondLimits(path); !why.empty())
            return Fail("Invalid key name '" + Shown(display) + "': " + why + " (status 87).");
        if (o.va) return Fail("Invalid syntax: /va belongs to delete.", true);
        const bool setsValue = o.hasV || o.ve || o.hasD || o.hasT;
        DWORD type = 0;
        std::string data, error;
        if (setsValue && !AddData(o, type, data, error)) return Fail(error);
        const std::string name = o.hasV ? o.v : std::string();

        if (setsValue && !o.f) {
            HKEY key = 0;
            DWORD oldType = 0;
            std::string old;
            if (reg_.RegOpenKeyA(HKEY_CURRENT_USER, path, &key) == ERROR_SUCCESS) {
                const bool exists = ReadValue(reg_, key, name, oldType, old);
                reg_.RegCloseKey(key);
                if (exists && !Ask("The value " + (name.empty() ? std::string("(Default)") : name) +
                                   " already exists. Overwrite it")) {
                    out_ << kCancelled;
                    return 0;
                }
            }
        }
        StoreScope scope(reg_, true);
        HKEY key = 0;
        LONG status = reg_.RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, "", 0, KEY_ALL_KEY_RIGHTS, nullptr, &key,
                                           nullptr);
        if (status == ERROR_SUCCESS && setsValue) {
            // A string is stored with its terminator, as reg stores it (an empty
            // one too: two bytes, not none).
            const bool text = type == REG_SZ || type == REG_EXPAND_SZ;
            status = reg_.RegSetValueExA(key, name, 0, type, reinterpret_cast<const unsigned char*>(data.c_str()),
                                         static_cast<DWORD>(data.size() + (text ? 1 : 0)));
        }
        if (key) reg_.RegCloseKey(key);
        if (status) {
            scope.End(false);
            return Fail(StoreProblem("Cannot write " + Shown(display) + " (status " + std::to_string(status) + ")."));
        }
        if ((status = scope.End())) return Fail(StoreProblem("Cannot save the change."));
        out_ << kDone;
        return 0;
    }

    int Delete(const Options& o) {
        std::string path, display;
        if (!KeyArg(o, path, display)) return 1;
        if (o.hasT || o.hasD || o.hasSep) return Fail("Invalid syntax.", true);
        HKEY key = 0;
        if (reg_.RegOpenKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS)
            return Fail(StoreProblem("Unable to find the specified registry key."));
        const std::vector<std::string> values = ValueNames(reg_, key);
        reg_.RegCloseKey(key);

        if (o.hasV || o.ve) {
            const std::string name = o.hasV ? o.v : std::string();
            const std::string shown = name.empty() ? "(Default)" : name;
            if (!FindName(values, name)) return Fail("Unable to find the specified registry value.");
            if (!o.f && !Ask("Delete the registry value " + shown)) {
                out_ << kCancelled;
                return 0;
            }
        } else if (o.va) {
            if (!o.f && !Ask("Delete all values under the registry key " + display)) {
                out_ << kCancelled;
                return 0;
            }
        } else {
            if (path.empty()) return Fail("The root key HKEY_CURRENT_USER cannot be deleted.");
            if (!o.f && !Ask("Permanently delete the registry key " + display)) {
                out_ << kCancelled;
                return 0;
            }
        }

        StoreScope scope(reg_, true);
        LONG status = ERROR_SUCCESS;
        if (o.hasV || o.ve || o.va) {
            status = reg_.RegOpenKeyA(HKEY_CURRENT_USER, path, &key);
            if (status == ERROR_SUCCESS) {
                if (o.va) {
                    for (const auto& name : values)
                        if ((status = reg_.RegDeleteValueA(key, name))) break;
                } else {
                    status = reg_.RegDeleteValueA(key, o.hasV ? o.v : std::string());
                }
                reg_.RegCloseKey(key);
            }
        } else {
            status = DeleteKeyTree(reg_, path);
        }
        if (status) {
            scope.End(false);
            return Fail(StoreProblem("Cannot delete from " + Shown(display) + " (status " + std::to_string(status) + ")."));
        }
        if (scope.End()) return Fail(StoreProblem("Cannot save the change."));
        out_ << kDone;
        return 0;
    }

    int Export(const Options& o) {
        std::string path, display;
        if (!KeyArg(o, path, display)) return 1;
        const std::string& file = o.positional[1];
        // One reading of the store, written out as it is read rather than kept whole.
        StoreScope scope(reg_, false);
        HKEY key = 0;
        if (reg_.RegOpenKeyA(HKEY_CURRENT_USER, path, &key) != ERROR_SUCCESS)
            return Fail(StoreProblem("Unable to find the specified registry key."));
        NoteUnwritable();
        std::error_code ec;
        if (std::filesystem::exists(file, ec) && !o.y && !Ask("The file " + file + " already exists. Overwrite it")) {
            reg_.RegCloseKey(key);
            out_ << kCancelled;
            return 0;
        }
        std::ofstream stream(file, std::ios::binary | std::ios::trunc);
        const bool written = stream && ExportRegFile(reg_, key, display, stream);
        reg_.RegCloseKey(key);
        stream.close();
        if (!written || !stream) return Fail("Cannot write " + Shown(file) + ".");
        out_ << kDone;
        return 0;
    }

    int Import(const Options& o) {
        const std::string& file = o.positional[0];
        RegFileOps ops;
        RegFileError error;
        if (!ParseRegFileAt(file, ops, error)) {
            if (error.line == 0)
                return Fail((error.message == "cannot be opened" ? "Cannot open " : "Cannot read ") + Shown(file) + ".");
            return Fail(Shown(file) + ":" + std::to_string(error.line) + ": " + error.message + ". Nothing was imported.");
        }
        std::string problem;
        if (ApplyRegFile(reg_, std::move(ops), problem)) return Fail(problem + ". Nothing was imported.");
        out_ << kDone;
        return 0;
    }

    RegistryApi& reg_;
    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

bool RegToolMovesAFile(const std::vector<std::string>& args) {
    const std::string command = args.empty() ? std::string() : Lower(args[0]);
    return command == "export" || command == "import";
}

std::string RegToolUsage() {
    return "Usage: moatgate-reg COMMAND ...\n"
           "Reads and changes Moatgate's registry store (the current user's settings).\n"
           "\n"
           "  moatgate-reg query KEY [/v NAME | /ve] [/s]\n"
           "  moatgate-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
           "  moatgate-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
           "  moatgate-reg export KEY FILE [/y]\n"
           "  moatgate-reg import FILE\n"
           "\n"
           "  KEY    HKCU\\SUBKEY or HKEY_CURRENT_USER\\SUBKEY\n"
           "  /v     the value NAME; /ve the unnamed (default) value; /va every value\n"
           "  /s     query: this key and every key below it; add: the REG_MULTI_SZ separator (default \\0)\n"
           "  /t     REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD,\n"
           "         REG_DWORD_BIG_ENDIAN, REG_QWORD or REG_NONE\n"
           "  /d     the data: text, a number (decimal or 0x hexadecimal), or hexadecimal bytes\n"
           "  /f     do not ask before overwriting or deleting\n"
           "  /y     export: overwrite FILE without asking\n"
           "  FILE   a .reg file (\"Windows Registry Editor Version 5.00\" or \"REGEDIT4\");\n"
           "         an import is applied whole or not at all\n"
           "\n"
           "The store is $MOATGATE_REGISTRY if set, else $WINEPREFIX/user.reg if set, else\n"
           "$XDG_DATA_HOME/moatgate/user.reg (~/.local/share/moatgate/user.reg).\n";
}

int RunRegTool(const std::vector<std::string>& args, RegistryApi& reg, std::istream& in, std::ostream& out,
               std::ostream& err) {
    return Tool(reg, in, out, err).Run(args);
}

}  // namespace moatgate

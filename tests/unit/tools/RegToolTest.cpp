// moatgate-reg: reg-compatible output, bad input refused without changes, imports
// applied whole or not at all; .reg files read piece by piece from disk as they
// read whole from memory, applied with parents kept open, exported as they are
// made. (The steps a file is read into, kept compactly, come back whole in every
// import test.)
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "registry/Registry.h"
#include "registry/store/FileStore.h"
#include "registry/store/HiveRegistry.h"
#include "registry/store/Unicode.h"
#include "tests/unit/TestSupport.h"
#include "tools/moatgate-reg/RegFile.h"
#include "tools/moatgate-reg/RegTool.h"

namespace moatgate {
namespace {

using namespace test;
using Args = std::vector<std::string>;

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n";

struct Result {
    int code;
    std::string out, err;
};

Result Tool(RegistryApi& reg, const Args& args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int code = RunRegTool(args, reg, in, out, err);
    return {code, out.str(), err.str()};
}

// A command line whose arguments hold no spaces.
Result Cmd(RegistryApi& reg, const std::string& line, const std::string& input = "") {
    Args args;
    std::istringstream words(line);
    for (std::string w; std::getline(words, w, ' ');) args.push_back(w);
    return Tool(reg, args, input);
}

::testing::AssertionResult Has(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" not in: " << text.substr(0, 400);
}

// The command failed and said so.
::testing::AssertionResult Fails(const Result& r, const std::string& part) {
    if (r.code == 1) return Has(r.err, part);
    return ::testing::AssertionFailure() << "exit code " << r.code << ": " << r.err.substr(0, 400);
}

// Every key and value of the store, as query lists them.
std::string All(RegistryApi& reg) { return Cmd(reg, "query HKCU /s").out; }

std::string Chain(std::size_t levels) {
    std::string path = "k";
    for (std::size_t i = 1; i < levels; ++i) path += "\\k";
    return path;
}

class RegToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY k = Create(reg, "Software\\Test");
        SetBytes(reg, k, "Test1", REG_SZ, "Hello, World");
        SetDword(reg, k, "Test2", 0x123);
        HKEY sub = Create(reg, "subkey", k);
        SetBytes(reg, sub, "Test3", REG_SZ, "Some string data");
        SetDword(reg, sub, "Test4", 0xabc);
        reg.RegCloseKey(sub);
        reg.RegCloseKey(k);
    }
    MemoryStore reg;
    TempDir dir;
};

// (Listings of values of every type: Wine's reg, in the agreement test.)
TEST_F(RegToolTest, QueryPrintsWhatRegPrints) {
    const std::string sub = "HKEY_CURRENT_USER\\Software\\Test\\subkey\n";
    const struct {
        std::string line;
        int code;
        std::string out;
    } rows[] = {
        {"HKCU\\Software\\Test", 0,
         "\nHKEY_CURRENT_USER\\Software\\Test\n    Test1    REG_SZ    Hello, World\n    Test2    REG_DWORD    0x123\n\n"
         "HKEY_CURRENT_USER\\Software\\Test\\subkey\n"},
        {"HKCU\\Software -V test3 -S", 0,
         "\n" + sub + "    Test3    REG_SZ    Some string data\n\nEnd of search: 1 match(es) found.\n"},
        {"HKCU\\Software /v Nope /s", 1, "\nEnd of search: 0 match(es) found.\n"},  // fails, as reg's does
        {"HKCU\\Software\\Missing", 1, ""},
    };
    for (const auto& row : rows) {
        const Result r = Cmd(reg, "query " + row.line);
        EXPECT_EQ(r.code, row.code) << row.line;
        EXPECT_EQ(r.out, row.out) << row.line;
    }
    EXPECT_TRUE(Has(Cmd(reg, "query HKCU\\Software\\Missing").err, "Unable to find the specified registry key"));
}

TEST_F(RegToolTest, AddStoresEachTypeAndRefusesBadInputWithoutChanges) {
    const struct {
        std::string args, shown;
    } good[] = {
        {"/v d /t reg_dword /d 0x10000", "d    REG_DWORD    0x10000"},
        {"/v dd /t REG_DWORD /d 4294967295", "dd    REG_DWORD    0xffffffff"},
        {"/v o /t REG_DWORD /d 010", "o    REG_DWORD    0xa"},  // decimal, not octal
        {"/v m /t REG_MULTI_SZ /s | /d one|two", "m    REG_MULTI_SZ    one\\0two"},
        {"/ve /d dflt", "(Default)    REG_SZ    dflt"},
    };
    for (const auto& c : good) {
        const Result r = Cmd(reg, "add HKCU\\Software\\Added " + c.args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "The operation completed successfully.\n");
    }
    const std::string listing = Cmd(reg, "query HKCU\\Software\\Added").out;
    for (const auto& c : good) EXPECT_TRUE(Has(listing, "\n    " + c.shown + "\n"));

    // Errors show what was given short and escaped: no terminal control reaches the screen.
    const std::string add = "add HKCU\\Software\\New ", dword = add + "/v d /t REG_DWORD /d ",
                      evil = "\x1b]0;owned\x07\x1b[2J" + std::string(400, 'x');
    const std::string before = All(reg);
    for (const std::string& line :
         Args{dword + "12x", dword + "-1", dword + "4294967296", dword + "\t1", add + "/v b /t REG_BINARY /d abc",
          add + "/v x /t REG_WHATEVER /d 1", "add HKLM\\Software\\New", add + "/v", "frobnicate HKCU\\Software\\New",
          dword + evil, "add HKLM\\" + evil, "query " + evil, evil}) {
        const Result r = Cmd(reg, line);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_EQ(r.err.rfind("moatgate-reg: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
        EXPECT_LT(r.err.size(), 300u) << r.err;
    }
    EXPECT_TRUE(Has(Cmd(reg, "query " + evil).err, "\\x1b]0;owned\\x07\\x1b[2J"));
    EXPECT_EQ(All(reg), before);
}

TEST_F(RegToolTest, OverwritingAndDeletingAskFirst) {
    const std::string test = "HKCU\\Software\\Test";
    EXPECT_EQ(Cmd(reg, "add " + test + " /v Test1 /d new", "no\n").out,
              "The value Test1 already exists. Overwrite it (Yes/No)? The operation was cancelled.\n");
    EXPECT_TRUE(Has(Cmd(reg, "query " + test + " /v Test1").out, "Hello, World"));

    EXPECT_EQ(Cmd(reg, "delete " + test).code, 0);  // no answer: nothing deleted
    EXPECT_EQ(Cmd(reg, "query " + test + "\\subkey").code, 0);
    EXPECT_EQ(Cmd(reg, "delete " + test + " /v Test2", "yes\n").code, 0);
    EXPECT_EQ(Cmd(reg, "query " + test + " /v Test2").code, 1);
    EXPECT_EQ(Cmd(reg, "delete " + test + " /f").code, 0);  // with its subkey
    EXPECT_EQ(Cmd(reg, "query " + test).code, 1);
    EXPECT_EQ(Cmd(reg, "delete HKCU /f").code, 1);
}

TEST_F(RegToolTest, ExportWritesWhatTheRegistryEditorWritesAndImportReadsItBack) {
    HKEY k = Create(reg, "Software\\Test");
    SetBytes(reg, k, "", REG_SZ, "quote \" and \\ back");
    // The registry editor breaks a hex line once it reaches 77 characters, not only past them.
    SetBytes(reg, k, "bin2", REG_BINARY, std::string(23, '\x7f'));
    SetBytes(reg, k, "lines", REG_SZ, std::string("one\r\ntwo\rthree\nfour\tend\0", 25));
    reg.RegSetValueExA(k, "multi", 0, REG_MULTI_SZ, reinterpret_cast<const unsigned char*>("a\0b\0"), 5);
    reg.RegCloseKey(k);
    const std::string file = dir.file("out.reg");
    ASSERT_EQ(Tool(reg, {"export", "HKCU\\Software\\Test", file}).code, 0);
    EXPECT_EQ(ReadFile(file),
              EncodeRegFile(kHead + "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                            "@=\"quote \\\" and \\\\ back\"\r\n"
                            "\"bin2\"=hex:7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,\\\r\n"
                            "  7f\r\n"
                            "\"lines\"=\"one\\r\\ntwo\\rthree\\nfour\tend\"\r\n"
                            "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                            "\"Test1\"=\"Hello, World\"\r\n"
                            "\"Test2\"=dword:00000123\r\n"
                            "\r\n[HKEY_CURRENT_USER\\Software\\Test\\subkey]\r\n"
                            "\"Test3\"=\"Some string data\"\r\n"
                            "\"Test4\"=dword:00000abc\r\n\r\n"));
    EXPECT_EQ(Tool(reg, {"export", "HKCU\\Software\\Test", file}, "n\n").out,
              "The file " + file + " already exists. Overwrite it (Yes/No)? The operation was cancelled.\n");
    EXPECT_EQ(Tool(reg, {"export", "HKCU\\Software\\Test", file, "/y"}, "n\n").out,
              "The operation completed successfully.\n");  // /y: without asking

    MemoryStore other;
    ASSERT_EQ(Tool(other, {"import", file}).code, 0);
    EXPECT_EQ(Cmd(other, "query HKCU\\Software\\Test /s").out, Cmd(reg, "query HKCU\\Software\\Test /s").out);
}

TEST(RegToolDelete, AValueTheStoreRefusesToDeleteFailsTheCommand) {
    struct RefusingStore : MemoryStore {
        LONG RegDeleteValueA(HKEY key, std::string_view name) override {
            return name == "b" ? ERROR_ACCESS_DENIED : MemoryStore::RegDeleteValueA(key, name);
        }
    } reg;
    HKEY k = Create(reg, "Software\\Three");
    for (const char* name : {"a", "b", "c"}) SetDword(reg, k, name, 1);
    reg.RegCloseKey(k);
    for (const char* line : {"delete HKCU\\Software\\Three /va /f", "delete HKCU\\Software\\Three /v b /f"}) {
        const Result r = Cmd(reg, line);
        EXPECT_EQ(r.out, "") << line;
        EXPECT_TRUE(Fails(r, "Cannot delete from HKEY_CURRENT_USER\\Software\\Three (status 5)"));
    }
}

// A new store file, to see that a failed command leaves it byte for byte.
class RegToolFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        reg = FileStore::Open(store, error);
        ASSERT_TRUE(reg) << error;
    }
    TempDir dir;
    const std::string store = dir.file("user.reg");
    const std::string file = dir.file("in.reg");
    std::unique_ptr<FileStore> reg;
};

// Every step taken but the save failing on the disk: the command fails, the store keeps what it had.
TEST_F(RegToolFileTest, ASaveThatFailsOnTheDiskFailsTheCommand) {
    ASSERT_EQ(Cmd(*reg, "add HKCU\\Software\\Kept /v x /t REG_DWORD /d 1 /f").code, 0);
    const std::string before = ReadFile(store);
    WriteFile(file, kHead + "[HKEY_CURRENT_USER\\Software\\New]\r\n\"y\"=dword:00000002\r\n");
    FileStore::WriteCalls full;
    full.rename = [](const char*, const char*) {
        errno = ENOSPC;
        return -1;
    };
    reg->SetWriteCalls(full);
    for (const std::string& line : Args{"add HKCU\\Software\\New /v y /t REG_DWORD /d 2 /f",
                                        "delete HKCU\\Software\\Kept /f", "import " + file}) {
        const Result r = Cmd(*reg, line);
        EXPECT_EQ(r.out, "") << line;
        EXPECT_TRUE(Fails(r, "No space left on device")) << line;
        EXPECT_EQ(ReadFile(store), before) << line;
    }
    EXPECT_EQ(Cmd(*reg, "query HKCU\\Software\\New").code, 1);
    EXPECT_EQ(Cmd(*reg, "query HKCU\\Software\\Kept").code, 0);
}

TEST_F(RegToolFileTest, ImportABadFileChangesNothingAtAll) {
    const std::string before = ReadFile(store), a = "[HKEY_CURRENT_USER\\A]\r\n";
    const struct {
        std::string text, message;
    } cases[] = {
        {kHead + "[HKEY_CURRENT_USER\\Software\\A]\r\n\"x\"=dword:1\r\n[HKEY_CURRENT_USER\\Software\\B]\r\n"
                 "\"y\"=dword:123456789\r\n",
         ":6: invalid dword data"},
        {kHead + "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n", ":3: only keys under HKEY_CURRENT_USER"},
        {kHead + "\"x\"=\"orphan\"\r\n", ":3: a value comes before any key"},
        {kHead + a + "\"x\"=hex:0g\r\n", ":4: invalid hex data"},
        {"WINE REGISTRY Version 2\n[Software\\\\A]\n", ":1: not a registry file"},
    };
    for (const auto& c : cases) {
        WriteFile(file, c.text);
        EXPECT_TRUE(Fails(Tool(*reg, {"import", file}), file + c.message));
        EXPECT_EQ(ReadFile(store), before);
    }
}

// A file that reads well but that the store refuses part of (a value name over
// the limit, after keys and values that could be made): nothing of it is stored.
TEST_F(RegToolFileTest, ImportAFileTheStoreRefusesPartOfChangesNothingAtAll) {
    const std::string before = ReadFile(store);
    WriteFile(file, kHead + "[HKEY_CURRENT_USER\\Software\\Good]\r\n\"x\"=dword:00000001\r\n\r\n" +
                        "[HKEY_CURRENT_USER\\Software\\Good\\Below]\r\n\"y\"=\"text\"\r\n\"" + std::string(16384, 'n') +
                        "\"=dword:00000002\r\n");
    const Result r = Tool(*reg, {"import", file});
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Fails(r, "cannot set value \"nnnn"));
    EXPECT_TRUE(Has(r.err, "(status 87). Nothing was imported."));
    EXPECT_EQ(ReadFile(store), before);
    EXPECT_EQ(Cmd(*reg, "query HKCU\\Software\\Good").code, 1);
}

// What reg refuses as bad syntax (a switch twice, switches that contradict each
// other, one the command does not take, too many or too few names) is refused
// with the usage hint and changes nothing.
TEST_F(RegToolTest, ArgumentsRegRefusesAreRefusedAndChangeNothing) {
    const std::string key = " HKCU\\Software\\Test ", file = dir.file("out.reg");
    const std::string importable = kHead + "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"New\"=\"x\"\r\n";
    WriteFile(file, importable);
    const std::string before = All(reg);
    for (const std::string& line :
         Args{"add" + key + "/v a /v b /d 1 /f", "add" + key + "/v a /ve /d 1 /f", "add /v a /d 1 /f",
          "delete" + key + "/v Test1 /va /f", "export" + key + file + " extra /y", "import " + file + " extra"}) {
        const Result r = Cmd(reg, line);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_TRUE(Has(r.err, "Type \"moatgate-reg /?\" for usage.")) << line;
    }
    EXPECT_EQ(All(reg), before);
    EXPECT_EQ(ReadFile(file), importable);  // no export was written over it
}

// The platform's limits (512 levels, key names of 255 characters, value names of
// 16383) hold at add and below an open key, with status 87; up to them everything
// works. (At import: the store refuses the same, and nothing is imported.)
TEST(RegToolDeep, AddRefusesWhatThePlatformRefuses) {
    MemoryStore reg;
    HKEY deep = Create(reg, Chain(500)), k = 0;  // the limit counts from the root
    ASSERT_NE(deep, 0u);
    EXPECT_EQ(reg.RegCreateKeyExA(deep, Chain(13), 0, "", 0, 0x3F, nullptr, &k, nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(reg.RegCreateKeyExA(deep, Chain(12), 0, "", 0, 0x3F, nullptr, &k, nullptr), 0);
    reg.RegCloseKey(k);
    reg.RegCloseKey(deep);
    const std::string n255(255, 'n'), v16383(16383, 'v');
    const struct {
        std::string line, error;  // error: "" when it works
    } rows[] = {
        {"add HKCU\\x\\" + Chain(512) + " /f", "a key path may be at most 512 levels deep (status 87)"},
        {"add HKCU\\Software\\" + n255 + "n /f", "a key name may be at most 255 characters long (status 87)"},
        {"add HKCU\\k /v " + v16383 + "v /d x /f", "(status 87)"},
        {"add HKCU\\x\\" + Chain(511) + " /v v /d x /f", ""},
        {"add HKCU\\Software\\" + n255 + " /f", ""},
        {"add HKCU\\k /v " + v16383 + " /d x /f", ""},
    };
    for (const auto& row : rows) {
        const std::string before = All(reg);
        const Result r = Cmd(reg, row.line);
        EXPECT_EQ(r.code, row.error.empty() ? 0 : 1) << row.line.substr(0, 40);
        EXPECT_EQ(All(reg) != before, row.error.empty()) << row.line.substr(0, 40);
        EXPECT_TRUE(row.error.empty() || Fails(r, row.error));
        EXPECT_LT(r.err.size(), 300u);  // long names are not echoed whole
    }

}


std::vector<std::string> Steps(const RegFileOps& ops) {
    std::vector<std::string> out;
    RegFileOps::Reader reader(ops);
    for (RegFileOp op; reader.Next(op);)
        out.push_back(std::to_string(static_cast<int>(op.kind)) + "|" + std::string(op.key) + "|" +
                      std::string(op.name) + "|" + std::to_string(op.type) + "|" + std::string(op.data));
    return out;
}

TEST(RegFileRead, AFileOnDiskReadsAsItsBytesDo) {
    TempDir dir;
    const std::string path = dir.file("list.reg");
    // Read from disk and from memory: the same steps, or the same error.
    auto same = [&](const std::u16string& units, const std::string& tail, bool ok) {
        std::string bytes = "\xFF\xFE";
        AppendUtf16Le(units, bytes);
        WriteFile(path, bytes += tail);
        RegFileOps fromDisk, fromMemory;
        RegFileError diskError, memoryError;
        EXPECT_EQ(ParseRegFileAt(path, fromDisk, diskError), ok);
        EXPECT_EQ(ParseRegFile(bytes, fromMemory, memoryError), ok) << memoryError.message;
        EXPECT_EQ(diskError.line, memoryError.line);
        EXPECT_EQ(diskError.message, memoryError.message);
        EXPECT_EQ(Steps(fromDisk), Steps(fromMemory));
        return Steps(fromMemory);
    };
    // Long enough to be read in several pieces; characters beyond ASCII, pairs of
    // surrogates (some straddling the pieces' edges).
    const std::u16string head = u"Windows Registry Editor Version 5.00\r\n";
    std::u16string text, pairs;
    for (int i = 0; i < 20; ++i) pairs += u"\U0001F600";
    for (int i = 0; i < 3000; ++i) {
        text += u"\r\n[HKEY_CURRENT_USER\\Software\\Test\\k" + Utf8ToUtf16Lenient(std::to_string(i)) + u"]\r\n";
        text += u"\"caf\u00e9 \U0001F600\"=\"v" + Utf8ToUtf16Lenient(std::to_string(i)) + u"\"\r\n";
        if (i % 2 == 0) text += u"\"pairs\"=\"" + pairs + u"\"\r\n";
    }
    same(head + u" " + text, "", true);  // moved by a unit, so that other characters fall on the pieces' edges
    text = head + text;
    const std::vector<std::string> steps = same(text, "", true);
    EXPECT_EQ(steps[0], "0|Software\\Test\\k0||0|");
    EXPECT_EQ(steps[1], "2|Software\\Test\\k0|caf\xc3\xa9 \xf0\x9f\x98\x80|1|v0" + std::string(1, '\0'));
    // Bad files fail as their bytes do: an odd size, a line in error far in, no lines at all.
    same(text, "x", false);
    same(text + u"\"x\"=dword:zz\r\n", "", false);
    same(u"", "", false);
}

TEST(RegFileRead, KeysMadeBelowParentsKeptOpenAreMadeAsFromTheRoot) {
    // Domains and their subdomains alternate; a parent deleted meanwhile is made
    // again; deleting a key that is not there is no error. (An old file, as the
    // registry editor of Windows 95 wrote them.)
    std::string text = "REGEDIT4\r\n";
    const std::string sites = "Software\\Sites", base = "HKEY_CURRENT_USER\\" + sites;
    for (int i = 0; i < 30; ++i) {
        const std::string domain = base + "\\d" + std::to_string(i % 7) + ".example";
        text += "\r\n[" + domain + "]\r\n\"*\"=dword:00000002\r\n" + (i == 29 ? "\"*\"=-\r\n" : "");
        text += "\r\n[" + domain + "\\www]\r\n\"http\"=dword:0000000" + std::to_string(i % 10) + "\r\n";
        if (i == 20) text += "\r\n[-" + base + "\\never-there]\r\n[-" + base + "]\r\n";
    }
    MemoryStore store;
    RegFileOps ops;
    RegFileError error;
    ASSERT_TRUE(ParseRegFile(text, ops, error)) << error.message;
    std::string problem;
    ASSERT_EQ(ApplyRegFile(store, ops, problem), 0) << problem;
    EXPECT_EQ(store.OpenHandleCount(), 0u);
    // d0 written again at i = 28, after the deletion at 20; d1's "*" deleted at 29.
    EXPECT_EQ(ReadRegistryValueText(store, HKEY_CURRENT_USER, sites + "\\d0.example\\www", "http"), "8");
    EXPECT_EQ(ReadRegistryValueText(store, HKEY_CURRENT_USER, sites + "\\d1.example", "*"), "");
    EXPECT_EQ(ReadRegistryValueText(store, HKEY_CURRENT_USER, sites + "\\d2.example", "*"), "2");
}

TEST(RegFileRead, AnExportWrittenAsItIsMadeIsTheWholeExport) {
    MemoryStore store;
    HKEY k = Create(store, "Software\\Export");
    for (int i = 0; i < 2500; ++i) {
        HKEY sub = Create(store, "k\xc3\xa9" + std::to_string(i), k);
        SetBytes(store, sub, "bin", REG_BINARY, std::string(40, static_cast<char>(i)));
        store.RegCloseKey(sub);
    }
    std::ostringstream written;
    ASSERT_TRUE(ExportRegFile(store, k, "HKEY_CURRENT_USER\\Software\\Export", written));
    const std::string whole = EncodeRegFile(ExportRegText(store, k, "HKEY_CURRENT_USER\\Software\\Export"));
    EXPECT_GT(whole.size(), 4u * 64 * 1024);  // many pieces
    EXPECT_EQ(written.str(), whole);
    store.RegCloseKey(k);
}

}  // namespace
}  // namespace moatgate

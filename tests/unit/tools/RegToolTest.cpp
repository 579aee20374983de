// moatgate-reg: reg-compatible output, bad input refused without changes, imports
// applied whole or not at all.
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "registry/store/FileStore.h"
#include "registry/store/HiveRegistry.h"
#include "tests/unit/TestSupport.h"
#include "tools/moatgate-reg/RegFile.h"
#include "tools/moatgate-reg/RegTool.h"

namespace moatgate {
namespace {

using namespace test;
using Args = std::vector<std::string>;

const std::string kV5 = "Windows Registry Editor Version 5.00\r\n";
const std::string kHead = kV5 + "\r\n";

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

// The arguments of a command line that hold no spaces.
Args Words(const std::string& line) {
    Args args;
    std::istringstream words(line);
    for (std::string w; std::getline(words, w, ' ');) args.push_back(w);
    return args;
}

Result Cmd(RegistryApi& reg, const std::string& line, const std::string& input = "") {
    return Tool(reg, Words(line), input);
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

// A value's bytes, or "<no key>".
std::string ValueOf(RegistryApi& reg, const std::string& path, const std::string& name) {
    HKEY k = 0;
    if (reg.RegOpenKeyA(HKEY_CURRENT_USER, path, &k) != 0) return "<no key>";
    const std::string bytes = Query(reg, k, name);
    reg.RegCloseKey(k);
    return bytes;
}

std::string Chain(std::size_t levels, const std::string& name = "k", const std::string& separator = "\\") {
    std::string path;
    for (std::size_t i = 0; i < levels; ++i) path += (i ? separator : "") + name;
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

TEST_F(RegToolTest, QueryPrintsWhatRegPrints) {
    HKEY k = Create(reg, "Software\\Only");
    reg.RegCloseKey(Create(reg, "a", k));
    reg.RegCloseKey(Create(reg, "b", k));
    reg.RegCloseKey(k);
    const std::string test = "\nHKEY_CURRENT_USER\\Software\\Test\n    Test1    REG_SZ    Hello, World\n"
                             "    Test2    REG_DWORD    0x123\n\n",
                      sub = "HKEY_CURRENT_USER\\Software\\Test\\subkey\n",
                      test3 = "    Test3    REG_SZ    Some string data\n", only = "HKEY_CURRENT_USER\\Software\\Only\\";
    const struct {
        std::string line;
        int code;
        std::string out;
    } rows[] = {
        {"HKCU\\Software\\Test", 0, test + sub},
        {"HKEY_CURRENT_USER\\Software\\Test\\ /s", 0, test + sub + test3 + "    Test4    REG_DWORD    0xabc\n\n"},
        {"hkcu\\software\\test\\SUBKEY /v Test4", 0,
         "\nHKEY_CURRENT_USER\\software\\test\\SUBKEY\n    Test4    REG_DWORD    0xabc\n\n"},
        {"HKCU\\Software -V test3 -S", 0, "\n" + sub + test3 + "\nEnd of search: 1 match(es) found.\n"},
        {"HKCU\\Software /v Nope /s", 1, "\nEnd of search: 0 match(es) found.\n"},  // fails, as reg's does
        {"HKCU\\Software\\Test /ve", 0,
         "\nHKEY_CURRENT_USER\\Software\\Test\n    (Default)    REG_SZ    (value not set)\n\n"},
        {"HKCU\\Software\\Only", 0, "\n" + only + "a\n" + only + "b\n"},  // subkeys only: no header of its own
        {"HKCU\\Software\\Only /s", 0, "\n" + only + "a\n\n" + only + "b\n\n"},
        {"HKCU\\Software\\Test /v Nope", 1, "\n"},
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
        {"/v s /d text", "s    REG_SZ    text"},
        {"/v e /t REG_EXPAND_SZ /d %TEMP%\\x", "e    REG_EXPAND_SZ    %TEMP%\\x"},
        {"/v d /t reg_dword /d 0x10000", "d    REG_DWORD    0x10000"},
        {"/v dd /t REG_DWORD /d 4294967295", "dd    REG_DWORD    0xffffffff"},
        {"/v be /t REG_DWORD_BIG_ENDIAN /d 0x10203", "be    REG_DWORD_BIG_ENDIAN    0x10203"},
        {"/v o /t REG_DWORD /d 010", "o    REG_DWORD    0xa"},  // decimal, not octal
        {"/v b /t REG_BINARY /d 0000010A", "b    REG_BINARY    0000010A"},
        {"/v m /t REG_MULTI_SZ /s | /d one|two", "m    REG_MULTI_SZ    one\\0two"},
        {"/v q /t REG_QWORD /d 0x100000000", "q    REG_QWORD    0x100000000"},
        {"/ve /d dflt", "(Default)    REG_SZ    dflt"},
    };
    for (const auto& c : good) {
        const Result r = Cmd(reg, "add HKCU\\Software\\Added " + c.args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "The operation completed successfully.\n");
    }
    const std::string listing = Cmd(reg, "query HKCU\\Software\\Added").out;
    for (const auto& c : good) EXPECT_TRUE(Has(listing, "\n    " + c.shown + "\n"));
    EXPECT_EQ(ValueOf(reg, "Software\\Added", "d"), std::string("\0\0\1\0", 4));

    const std::string add = "add HKCU\\Software\\New ", dword = add + "/v d /t REG_DWORD /d ";
    const std::vector<std::string> bad = {
        dword + "12x", dword + "-1", dword + "4294967296", dword + "\t1", dword + "\n1",
        add + "/v q /t REG_QWORD /d \t1", add + "/v b /t REG_BINARY /d abc", add + "/v x /t REG_WHATEVER /d 1",
        "add HKLM\\Software\\New", "add HKXX\\Software\\New", add + "/v", add + "/v a /ve",
        "frobnicate HKCU\\Software\\New"};
    reg.GetHive().ClearChanged();
    for (const std::string& line : bad) {
        const Result r = Cmd(reg, line);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_EQ(r.err.rfind("moatgate-reg: ", 0), 0u) << r.err;
    }
    EXPECT_FALSE(reg.GetHive().Changed());
}

TEST_F(RegToolTest, OverwritingAndDeletingAskFirst) {
    const std::string test = "HKCU\\Software\\Test";
    EXPECT_EQ(Cmd(reg, "add " + test + " /v Test1 /d new", "no\n").out,
              "The value Test1 already exists. Overwrite it (Yes/No)? The operation was cancelled.\n");
    EXPECT_TRUE(Has(Cmd(reg, "query " + test + " /v Test1").out, "Hello, World"));
    EXPECT_EQ(Cmd(reg, "add " + test + " /v Test1 /d new", "y\n").code, 0);
    EXPECT_TRUE(Has(Cmd(reg, "query " + test + " /v Test1").out, "REG_SZ    new"));

    EXPECT_EQ(Cmd(reg, "delete " + test).code, 0);  // no answer: nothing deleted
    EXPECT_EQ(Cmd(reg, "query " + test + "\\subkey").code, 0);
    EXPECT_EQ(Cmd(reg, "delete " + test + " /v Test2", "yes\n").code, 0);
    EXPECT_EQ(Cmd(reg, "query " + test + " /v Test2").code, 1);
    EXPECT_EQ(Cmd(reg, "delete " + test + " /v Test2 /f").code, 1);
    EXPECT_EQ(Cmd(reg, "delete " + test + "\\subkey /va /f").code, 0);
    EXPECT_EQ(Cmd(reg, "query " + test + "\\subkey").out, "\n");
    EXPECT_EQ(Cmd(reg, "delete " + test + " /f").code, 0);  // with its subkey
    EXPECT_EQ(Cmd(reg, "query " + test).code, 1);
    EXPECT_EQ(Cmd(reg, "delete HKCU /f").code, 1);
}

TEST_F(RegToolTest, ExportWritesWhatTheRegistryEditorWritesAndImportReadsItBack) {
    HKEY k = Create(reg, "Software\\Test");
    SetBytes(reg, k, "", REG_SZ, "quote \" and \\ back");
    SetBytes(reg, k, "bin", REG_BINARY, std::string(30, '\x7f'));
    // The registry editor breaks a hex line once it reaches 77 characters, not only past them.
    SetBytes(reg, k, "bin2", REG_BINARY, std::string(23, '\x7f'));
    reg.RegSetValueExA(k, "multi", 0, REG_MULTI_SZ, reinterpret_cast<const unsigned char*>("a\0b\0"), 5);
    SetBytes(reg, k, "path", REG_EXPAND_SZ, "%TEMP%");
    reg.RegCloseKey(k);
    const std::string file = dir.file("out.reg");
    ASSERT_EQ(Tool(reg, {"export", "HKCU\\Software\\Test", file}).code, 0);
    EXPECT_EQ(ReadFile(file),
              EncodeRegFile(kHead + "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                            "@=\"quote \\\" and \\\\ back\"\r\n"
                            "\"bin\"=hex:7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,\\\r\n"
                            "  7f,7f,7f,7f,7f,7f,7f\r\n"
                            "\"bin2\"=hex:7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,7f,\\\r\n"
                            "  7f\r\n"
                            "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                            "\"path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\r\n"
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
    EXPECT_EQ(ValueOf(other, "Software\\Test", "multi"), std::string("a\0b\0\0", 5));

    // Line breaks and tabs inside a string go out escaped and come back as they were.
    const std::string lines("one\r\ntwo\rthree\nfour\tend", 24);
    k = Create(reg, "Software\\Lines");
    SetBytes(reg, k, "text", REG_SZ, lines);
    reg.RegCloseKey(k);
    ASSERT_EQ(Tool(reg, {"export", "HKCU\\Software\\Lines", file, "/y"}).code, 0);
    ASSERT_EQ(Tool(other, {"import", file}).code, 0);
    EXPECT_EQ(ValueOf(other, "Software\\Lines", "text"), lines);
}

TEST_F(RegToolTest, ImportHandlesOldFilesDeletionsAndContinuations) {
    const std::string file = dir.file("old.reg");
    WriteFile(file,
              "REGEDIT4\r\n\r\n"
              "; a comment\r\n"
              "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
              "\"Test1\"=-\r\n"
              "\"Caf\xe9\"=\"cr\xe8me\"\r\n"  // Latin-1, as old files in a Western code page are
              "\"wrapped\"=hex:01,02,\\\r\n"
              "    03,04\r\n"
              "\"commented\"=hex:05,\\ ; the rest follows\r\n"
              "    06\r\n"
              "[-HKEY_CURRENT_USER\\Software\\Test\\subkey]\r\n"
              "[-HKEY_CURRENT_USER\\Software\\Test\\never-there]\r\n"  // nothing to delete: no error
              "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\"
              "bad.example]\r\n"
              "\"*\"=dword:00000004\r\n");
    const Result r = Tool(reg, {"import", file});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Cmd(reg, "query HKCU\\Software\\Test /s").out,
              "\nHKEY_CURRENT_USER\\Software\\Test\n"
              "    Caf\xc3\xa9    REG_SZ    cr\xc3\xa8me\n"
              "    commented    REG_BINARY    0506\n"
              "    Test2    REG_DWORD    0x123\n"
              "    wrapped    REG_BINARY    01020304\n\n");
    EXPECT_EQ(ValueOf(reg, std::string(kZoneMapKey) + "\\bad.example", "*"), std::string("\4\0\0\0", 4));
}

// Saved as UTF-8 by an editor, with or without the byte-order mark some put in front.
TEST_F(RegToolTest, ImportReadsUtf8WithOrWithoutAByteOrderMark) {
    for (const std::string mark : {"\xef\xbb\xbf", ""}) {
        const std::string file = dir.file("utf8.reg");
        WriteFile(file, mark + kHead + "[HKEY_CURRENT_USER\\Software\\Utf8]\r\n\"Caf\xc3\xa9\"=\"cr\xc3\xa8me\"\r\n");
        const Result r = Tool(reg, {"import", file});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Cmd(reg, "query HKCU\\Software\\Utf8").out,
                  "\nHKEY_CURRENT_USER\\Software\\Utf8\n    Caf\xc3\xa9    REG_SZ    cr\xc3\xa8me\n\n");
        EXPECT_EQ(Cmd(reg, "delete HKCU\\Software\\Utf8 /f").code, 0);
    }
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
    for (const Args& args : {Args{"add", "HKCU\\Software\\New", "/v", "y", "/t", "REG_DWORD", "/d", "2", "/f"},
                             Args{"delete", "HKCU\\Software\\Kept", "/f"}, Args{"import", file}}) {
        const Result r = Tool(*reg, args);
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_TRUE(Fails(r, "No space left on device")) << args[0];
        EXPECT_EQ(ReadFile(store), before) << args[0];
    }
}

TEST_F(RegToolFileTest, ImportABadFileChangesNothingAtAll) {
    const std::string before = ReadFile(store), a = "[HKEY_CURRENT_USER\\A]\r\n";
    const struct {
        std::string text, message;
    } cases[] = {
        {kHead + "[HKEY_CURRENT_USER\\Software\\A]\r\n\"x\"=dword:1\r\n[HKEY_CURRENT_USER\\Software\\B]\r\n"
                 "\"y\"=dword:123456789\r\n",
         ":6: invalid dword data"},
        {kV5 + "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n", ":2: only keys under HKEY_CURRENT_USER"},
        {kV5 + "\"x\"=\"orphan\"\r\n", ":2: a value comes before any key"},
        {kV5 + a + "\"x\"=hex:0g\r\n", ":3: invalid hex data"},
        {kV5 + a + "\"x\"=\"open\r\n", ":3: a quoted string"},
        {kV5 + a + "\"x\"=hex(2):41\r\n", ":3: string data"},
        {"WINE REGISTRY Version 2\n[Software\\\\A]\n", ":1: not a registry file"},
    };
    for (const auto& c : cases) {
        WriteFile(file, c.text);
        const Result r = Tool(*reg, {"import", file});
        EXPECT_TRUE(Fails(r, file + c.message));
        EXPECT_EQ(ReadFile(store), before);
    }
}

// A file that reads well but that the store refuses part of (a value name over
// the limit, after keys and values that could be made): nothing of it is stored.
TEST_F(RegToolFileTest, ImportAFileTheStoreRefusesPartOfChangesNothingAtAll) {
    const std::string before = ReadFile(store),
                      good = kHead + "[HKEY_CURRENT_USER\\Software\\Good]\r\n\"x\"=dword:00000001\r\n";
    WriteFile(file, good + "\r\n[HKEY_CURRENT_USER\\Software\\Good\\Below]\r\n\"y\"=\"text\"\r\n\"" +
                        std::string(16384, 'n') + "\"=dword:00000002\r\n");
    const Result r = Tool(*reg, {"import", file});
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Fails(r, "cannot set value \"nnnn"));
    EXPECT_TRUE(Has(r.err, "(status 87). Nothing was imported."));
    EXPECT_EQ(ReadFile(store), before);
    EXPECT_EQ(Cmd(*reg, "query HKCU\\Software\\Good").code, 1);
    // Nor does a file whose every step works but whose save the store refuses.
    WriteFile(file, good);
    ASSERT_EQ(::chmod(store.c_str(), 0444), 0);
    EXPECT_TRUE(Fails(Tool(*reg, {"import", file}), "is read-only"));
    EXPECT_EQ(ReadFile(store), before);
    ASSERT_EQ(::chmod(store.c_str(), 0600), 0);
    EXPECT_EQ(Cmd(*reg, "query HKCU\\Software\\Good").code, 1);
}

// What reg refuses as bad syntax (a switch twice, switches that contradict each
// other, one the command does not take, too many or too few names) is refused
// with the usage hint and changes nothing. K: the key, F: a file.
TEST_F(RegToolTest, ArgumentsRegRefusesAreRefusedAndChangeNothing) {
    const std::string key = "HKCU\\Software\\Test", file = dir.file("out.reg");
    const char* refused[] = {
        "add K /v a /v b /d 1 /f", "add K /ve /ve /d 1 /f", "add K /v a /ve /d 1 /f", "add K /ve /v a /d 1 /f",
        "add K /v a /t REG_SZ /t REG_DWORD /d 1 /f", "add K /v a /d 1 /d 2 /f", "add K /v a /d 1 /f /f",
        "add K /v a /t REG_MULTI_SZ /s , /s ; /d x,y /f", "add K /va /f", "add K /v a /d 1 /y",
        "add K extra /v a /d 1 /f", "add /v a /d 1 /f", "query K /v Test1 /ve", "query K /v Test1 /v Test2",
        "query K /s /s", "query K /va", "query K /f", "delete K /v Test1 /va /f", "delete K /ve /va /f",
        "delete K /va /va /f", "delete K /v Test1 /v Test2 /f", "delete K /f /f", "delete K /v Test1 /d 1 /f",
        "delete K /t REG_SZ /f", "delete K /s /f", "export K", "export K F extra /y", "export K F /v Test1",
        "export K F /f", "import F extra", "import F /f", "import"};
    const std::string importable = kHead + "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"New\"=\"x\"\r\n";
    WriteFile(file, importable);
    const std::string listing = Cmd(reg, "query " + key + " /s").out;
    reg.GetHive().ClearChanged();
    for (const std::string line : refused) {
        Args args = Words(line);
        for (std::string& w : args) w = w == "K" ? key : w == "F" ? file : w;
        const Result r = Tool(reg, args);
        EXPECT_EQ(r.code, 1) << line;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_TRUE(r.err.rfind("moatgate-reg: Invalid syntax", 0) == 0 ||
                    r.err.rfind("moatgate-reg: Use only one of /v, /ve and /va.", 0) == 0)
            << line << ": " << r.err;
        EXPECT_TRUE(Has(r.err, "Type \"moatgate-reg /?\" for usage.")) << line;
    }
    EXPECT_FALSE(reg.GetHive().Changed());
    EXPECT_EQ(Cmd(reg, "query " + key + " /s").out, listing);
    EXPECT_EQ(ReadFile(file), importable);  // no export was written over it
}

// Keys as deep as a store file may hold them: query and export walk them without
// recursion (and without a whole path per level); the export is in proportion.
TEST(RegToolDeep, QueryAndExportWalkKeysDeeperThanTheLimit) {
    TempDir dir;
    const std::string store = dir.file("user.reg"), file = dir.file("deep.reg");
    WriteFile(store, "WINE REGISTRY Version 2\n\n[" + Chain(50000, "k", "\\\\") +
                         "] 1796554876\n\"v\"=dword:00000007\n\n[Other] 1796554876\n\"x\"=dword:00000001\n");
    std::string error;
    auto reg = FileStore::Open(store, error);
    ASSERT_TRUE(reg) << error;
    Result r = Cmd(*reg, "query HKCU\\k /v v /s");
    EXPECT_TRUE(Has(r.out, "    v    REG_DWORD    0x7\n\nEnd of search: 1 match(es) found.\n"));
    EXPECT_TRUE(Has(r.err, "moatgate-reg: warning: " + store + ":3: Key path deeper than 512 levels"));
    EXPECT_EQ(Cmd(*reg, "query HKCU\\Other").out, "\nHKEY_CURRENT_USER\\Other\n    x    REG_DWORD    0x1\n\n");

    r = Tool(*reg, {"export", "HKCU\\k", file});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string exported = ReadFile(file);
    EXPECT_LT(exported.size(), 2 * ReadFile(store).size());
    EXPECT_EQ(exported, EncodeRegFile(kHead + "[HKEY_CURRENT_USER\\k]\r\n\r\n[HKEY_CURRENT_USER\\" + Chain(50000) +
                                      "]\r\n\"v\"=dword:00000007\r\n\r\n"));

    // The store is not written: the refusal says why and where.
    const std::string before = ReadFile(store);
    r = Cmd(*reg, "add HKCU\\Other /v y /d 1 /f");
    EXPECT_TRUE(Fails(r, store + ":3: Key path deeper than 512 levels"));
    EXPECT_TRUE(Has(r.err, "nothing is written to it until that line is mended"));
    EXPECT_EQ(ReadFile(store), before);
}

// The platform's limits (512 levels, key names of 255 characters, value names of
// 16383) hold at add and at import, with status 87; up to them everything works.
TEST(RegToolDeep, AddAndImportRefuseWhatThePlatformRefuses) {
    MemoryStore reg;
    Result r = Cmd(reg, "add HKCU\\" + Chain(513) + " /f");
    EXPECT_TRUE(Fails(r, "a key path may be at most 512 levels deep (status 87)"));
    EXPECT_LT(r.err.size(), 300u);  // the 513 levels are not echoed whole
    EXPECT_TRUE(Fails(Cmd(reg, "add HKCU\\Software\\" + std::string(256, 'n') + " /f"),
                      "a key name may be at most 255 characters long (status 87)"));
    EXPECT_EQ(Cmd(reg, "query HKCU\\k").code, 1);
    EXPECT_EQ(Cmd(reg, "query HKCU\\Software").code, 1);
    EXPECT_EQ(Cmd(reg, "add HKCU\\Software\\" + std::string(255, 'n') + " /f").code, 0);
    EXPECT_TRUE(Fails(Cmd(reg, "add HKCU\\Software\\Names /v " + std::string(16384, 'v') + " /d x /f"), "(status 87)"));
    EXPECT_EQ(Cmd(reg, "add HKCU\\Software\\Names /v " + std::string(16383, 'v') + " /d x /f").code, 0);

    // Below a key opened deep down, the limit counts from the root.
    HKEY deep = Create(reg, Chain(500));
    ASSERT_NE(deep, 0u);
    HKEY k = 0;
    EXPECT_EQ(reg.RegCreateKeyExA(deep, Chain(13), 0, "", 0, 0x3F, nullptr, &k, nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(reg.RegCreateKeyExA(deep, Chain(12), 0, "", 0, 0x3F, nullptr, &k, nullptr), 0);
    reg.RegCloseKey(k);
    reg.RegCloseKey(deep);
    EXPECT_EQ(Cmd(reg, "add HKCU\\" + Chain(512) + " /v v /d x /f").code, 0);
    EXPECT_EQ(Cmd(reg, "delete HKCU\\k /f").code, 0);
    EXPECT_EQ(Cmd(reg, "query HKCU\\k").code, 1);

    TempDir dir;
    const std::string file = dir.file("deep.reg");
    auto import = [&](const std::string& keys) {
        WriteFile(file, EncodeRegFile(kHead + keys));
        return Tool(reg, {"import", file});
    };
    reg.GetHive().ClearChanged();
    EXPECT_TRUE(Fails(import("[HKEY_CURRENT_USER\\Software\\Fine]\r\n\"x\"=dword:00000001\r\n\r\n[HKEY_CURRENT_USER\\" +
                             Chain(513) + "]\r\n"),
                      file + ":6: the key path is deeper than 512 levels. Nothing was imported."));
    EXPECT_FALSE(reg.GetHive().Changed());
    EXPECT_EQ(Cmd(reg, "query HKCU\\Software\\Fine").code, 1);
    EXPECT_EQ(import("[HKEY_CURRENT_USER\\" + Chain(512) + "]\r\n\"x\"=dword:00000001\r\n").code, 0);
    EXPECT_EQ(Cmd(reg, "query HKCU\\" + Chain(512) + " /v x").code, 0);
    // Key names are counted in characters, not in UTF-8 bytes.
    for (const std::string& unit : {std::string("n"), std::string("\xc3\xbc")}) {
        std::string n255;
        for (int i = 0; i < 255; ++i) n255 += unit;
        EXPECT_TRUE(Fails(import("[HKEY_CURRENT_USER\\Long\\" + n255 + unit + "]\r\n"),
                          ":3: a key name is longer than 255 characters"));
        EXPECT_EQ(import("[HKEY_CURRENT_USER\\Long\\" + n255 + "]\r\n").code, 0);
        EXPECT_EQ(Tool(reg, {"query", "HKCU\\Long\\" + n255}).code, 0);
    }
}

// Strings are stored with their terminator, as reg and the registry editor store
// them: an empty one is "" in the file, as Wine writes it, not hex(1):.
TEST_F(RegToolFileTest, EmptyStringsAreWrittenAsWineWritesThem) {
    ASSERT_EQ(Tool(*reg, {"add", "HKCU\\Software\\S", "/v", "e", "/d", "", "/f"}).code, 0);
    ASSERT_EQ(Tool(*reg, {"add", "HKCU\\Software\\S", "/v", "x", "/t", "REG_EXPAND_SZ", "/d", "", "/f"}).code, 0);
    ASSERT_EQ(Cmd(*reg, "add HKCU\\Software\\S /v t /d text /f").code, 0);
    WriteFile(file, kHead + "[HKEY_CURRENT_USER\\Software\\S]\r\n\"i\"=\"\"\r\n");
    ASSERT_EQ(Tool(*reg, {"import", file}).code, 0);
    EXPECT_TRUE(Has(ReadFile(store), "\n\"e\"=\"\"\n\"i\"=\"\"\n\"t\"=\"text\"\n\"x\"=str(2):\"\"\n"));
}

TEST(RegToolFile, ErrorsShowInputShortAndEscaped) {
    MemoryStore reg;
    const std::string evil = "\x1b]0;owned\x07\x1b[2J" + std::string(400, 'x');
    for (const Args& args : {Args{"add", "HKCU\\Software\\New", "/v", "d", "/t", "REG_DWORD", "/d", evil},
                             Args{"add", "HKLM\\" + evil}, Args{"query", evil}, Args{evil}}) {
        const Result r = Tool(reg, args);
        EXPECT_TRUE(Fails(r, "\\x1b]0;owned\\x07\\x1b[2J"));
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
        EXPECT_LT(r.err.size(), 300u) << r.err;
    }
}

}  // namespace
}  // namespace moatgate

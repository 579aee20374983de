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

struct Result {
    int code;
    std::string out, err;
};

Result Tool(RegistryApi& reg, std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int code = RunRegTool(args, reg, in, out, err);
    return {code, out.str(), err.str()};
}

std::string Utf16File(const std::string& utf8) { return EncodeRegFile(utf8); }

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
    Result r = Tool(reg, {"query", "HKCU\\Software\\Test"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "\nHKEY_CURRENT_USER\\Software\\Test\n"
              "    Test1    REG_SZ    Hello, World\n"
              "    Test2    REG_DWORD    0x123\n\n"
              "HKEY_CURRENT_USER\\Software\\Test\\subkey\n");
    r = Tool(reg, {"query", "HKEY_CURRENT_USER\\Software\\Test\\", "/s"});
    EXPECT_EQ(r.out,
              "\nHKEY_CURRENT_USER\\Software\\Test\n"
              "    Test1    REG_SZ    Hello, World\n"
              "    Test2    REG_DWORD    0x123\n\n"
              "HKEY_CURRENT_USER\\Software\\Test\\subkey\n"
              "    Test3    REG_SZ    Some string data\n"
              "    Test4    REG_DWORD    0xabc\n\n");
    r = Tool(reg, {"query", "hkcu\\software\\test\\SUBKEY", "/v", "Test4"});
    EXPECT_EQ(r.out, "\nHKEY_CURRENT_USER\\software\\test\\SUBKEY\n    Test4    REG_DWORD    0xabc\n\n");
    r = Tool(reg, {"query", "HKCU\\Software", "-V", "test3", "-S"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "\nHKEY_CURRENT_USER\\Software\\Test\\subkey\n    Test3    REG_SZ    Some string data\n\n"
              "End of search: 1 match(es) found.\n");
    // A search that finds nothing fails, as reg's does.
    r = Tool(reg, {"query", "HKCU\\Software", "/v", "Nope", "/s"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "\nEnd of search: 0 match(es) found.\n");
    r = Tool(reg, {"query", "HKCU\\Software\\Test", "/ve"});
    EXPECT_EQ(r.out, "\nHKEY_CURRENT_USER\\Software\\Test\n    (Default)    REG_SZ    (value not set)\n\n");

    // Subkeys only: no header for the key itself, as reg does.
    HKEY k = Create(reg, "Software\\Only");
    reg.RegCloseKey(Create(reg, "a", k));
    reg.RegCloseKey(Create(reg, "b", k));
    reg.RegCloseKey(k);
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Only"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Only\\a\nHKEY_CURRENT_USER\\Software\\Only\\b\n");
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Only", "/s"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Only\\a\n\nHKEY_CURRENT_USER\\Software\\Only\\b\n\n");

    r = Tool(reg, {"query", "HKCU\\Software\\Missing"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Unable to find the specified registry key"), std::string::npos);
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Test", "/v", "Nope"}).code, 1);
}

TEST_F(RegToolTest, AddStoresEachTypeAndRefusesBadInputWithoutChanges) {
    struct Case {
        std::vector<std::string> args;
        std::string shown;
    };
    const std::vector<Case> good = {
        {{"/v", "s", "/d", "text"}, "    s    REG_SZ    text"},
        {{"/v", "e", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x"}, "    e    REG_EXPAND_SZ    %TEMP%\\x"},
        {{"/v", "d", "/t", "reg_dword", "/d", "0x10000"}, "    d    REG_DWORD    0x10000"},
        {{"/v", "dd", "/t", "REG_DWORD", "/d", "4294967295"}, "    dd    REG_DWORD    0xffffffff"},
        {{"/v", "be", "/t", "REG_DWORD_BIG_ENDIAN", "/d", "0x10203"}, "    be    REG_DWORD_BIG_ENDIAN    0x10203"},
        {{"/v", "o", "/t", "REG_DWORD", "/d", "010"}, "    o    REG_DWORD    0xa"},  // decimal, not octal
        {{"/v", "b", "/t", "REG_BINARY", "/d", "0000010A"}, "    b    REG_BINARY    0000010A"},
        {{"/v", "m", "/t", "REG_MULTI_SZ", "/s", "|", "/d", "one|two"}, "    m    REG_MULTI_SZ    one\\0two"},
        {{"/v", "q", "/t", "REG_QWORD", "/d", "0x100000000"}, "    q    REG_QWORD    0x100000000"},
        {{"/ve", "/d", "dflt"}, "    (Default)    REG_SZ    dflt"},
    };
    for (const Case& c : good) {
        std::vector<std::string> args{"add", "HKCU\\Software\\Added"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = Tool(reg, args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "The operation completed successfully.\n");
    }
    const std::string listing = Tool(reg, {"query", "HKCU\\Software\\Added"}).out;
    for (const Case& c : good) EXPECT_NE(listing.find(c.shown + "\n"), std::string::npos) << c.shown;
    HKEY k = 0;
    ASSERT_EQ(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Added", &k), 0);
    EXPECT_EQ(Query(reg, k, "d"), std::string("\0\0\1\0", 4));
    reg.RegCloseKey(k);

    const std::vector<std::vector<std::string>> bad = {
        {"add", "HKCU\\Software\\New", "/v", "d", "/t", "REG_DWORD", "/d", "12x"},
        {"add", "HKCU\\Software\\New", "/v", "d", "/t", "REG_DWORD", "/d", "-1"},
        {"add", "HKCU\\Software\\New", "/v", "d", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", "HKCU\\Software\\New", "/v", "d", "/t", "REG_DWORD", "/d", "\t1"},
        {"add", "HKCU\\Software\\New", "/v", "d", "/t", "REG_DWORD", "/d", "\n1"},
        {"add", "HKCU\\Software\\New", "/v", "q", "/t", "REG_QWORD", "/d", "\t1"},
        {"add", "HKCU\\Software\\New", "/v", "b", "/t", "REG_BINARY", "/d", "abc"},
        {"add", "HKCU\\Software\\New", "/v", "x", "/t", "REG_WHATEVER", "/d", "1"},
        {"add", "HKLM\\Software\\New"},
        {"add", "HKXX\\Software\\New"},
        {"add", "HKCU\\Software\\New", "/v"},
        {"add", "HKCU\\Software\\New", "/v", "a", "/ve"},
        {"frobnicate", "HKCU\\Software\\New"},
    };
    reg.GetHive().ClearChanged();
    for (const auto& args : bad) {
        const Result r = Tool(reg, args);
        EXPECT_EQ(r.code, 1) << args[0] << " " << args.back();
        EXPECT_EQ(r.err.rfind("moatgate-reg: ", 0), 0u) << r.err;
    }
    EXPECT_FALSE(reg.GetHive().Changed());
}

TEST_F(RegToolTest, OverwritingAndDeletingAskFirst) {
    EXPECT_EQ(Tool(reg, {"add", "HKCU\\Software\\Test", "/v", "Test1", "/d", "new"}, "no\n").out,
              "The value Test1 already exists. Overwrite it (Yes/No)? The operation was cancelled.\n");
    EXPECT_NE(Tool(reg, {"query", "HKCU\\Software\\Test", "/v", "Test1"}).out.find("Hello, World"), std::string::npos);
    EXPECT_EQ(Tool(reg, {"add", "HKCU\\Software\\Test", "/v", "Test1", "/d", "new"}, "y\n").code, 0);
    EXPECT_NE(Tool(reg, {"query", "HKCU\\Software\\Test", "/v", "Test1"}).out.find("REG_SZ    new"), std::string::npos);

    EXPECT_EQ(Tool(reg, {"delete", "HKCU\\Software\\Test"}).code, 0);  // no answer: nothing deleted
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Test\\subkey"}).code, 0);
    EXPECT_EQ(Tool(reg, {"delete", "HKCU\\Software\\Test", "/v", "Test2"}, "yes\n").code, 0);
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Test", "/v", "Test2"}).code, 1);
    EXPECT_EQ(Tool(reg, {"delete", "HKCU\\Software\\Test", "/v", "Test2", "/f"}).code, 1);
    EXPECT_EQ(Tool(reg, {"delete", "HKCU\\Software\\Test\\subkey", "/va", "/f"}).code, 0);
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Test\\subkey"}).out, "\n");
    EXPECT_EQ(Tool(reg, {"delete", "HKCU\\Software\\Test", "/f"}).code, 0);  // with its subkey
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Test"}).code, 1);
    EXPECT_EQ(Tool(reg, {"delete", "HKCU", "/f"}).code, 1);
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
    const std::string bytes = ReadFile(file);
    EXPECT_EQ(bytes,
              Utf16File("Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
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
    EXPECT_EQ(Tool(other, {"query", "HKCU\\Software\\Test", "/s"}).out, Tool(reg, {"query", "HKCU\\Software\\Test", "/s"}).out);
    HKEY ok = 0;
    ASSERT_EQ(other.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Test", &ok), 0);
    EXPECT_EQ(Query(other, ok, "multi"), std::string("a\0b\0\0", 5));
    other.RegCloseKey(ok);

    // Line breaks and tabs inside a string go out escaped and come back as they were.
    HKEY lines = Create(reg, "Software\\Lines");
    SetBytes(reg, lines, "text", REG_SZ, std::string("one\r\ntwo\rthree\nfour\tend", 24));
    reg.RegCloseKey(lines);
    const std::string linesFile = dir.file("lines.reg");
    ASSERT_EQ(Tool(reg, {"export", "HKCU\\Software\\Lines", linesFile}).code, 0);
    ASSERT_EQ(Tool(other, {"import", linesFile}).code, 0);
    ASSERT_EQ(other.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Lines", &ok), 0);
    EXPECT_EQ(Query(other, ok, "text"), std::string("one\r\ntwo\rthree\nfour\tend", 24));
    other.RegCloseKey(ok);
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
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Test", "/s"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Test\n"
              "    Caf\xc3\xa9    REG_SZ    cr\xc3\xa8me\n"
              "    commented    REG_BINARY    0506\n"
              "    Test2    REG_DWORD    0x123\n"
              "    wrapped    REG_BINARY    01020304\n\n");
    EXPECT_NE(Tool(reg, {"query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                             "Settings\\ZoneMap\\Domains\\bad.example"})
                  .out.find("*    REG_DWORD    0x4"),
              std::string::npos);
}

// A file saved as UTF-8 by an editor, with or without the byte-order mark some
// editors put in front, is read as UTF-8.
TEST_F(RegToolTest, ImportReadsUtf8WithOrWithoutAByteOrderMark) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Utf8]\r\n"
                             "\"Caf\xc3\xa9\"=\"cr\xc3\xa8me\"\r\n";
    for (const std::string& mark : {std::string("\xef\xbb\xbf"), std::string()}) {
        const std::string file = dir.file("utf8.reg");
        WriteFile(file, mark + text);
        const Result r = Tool(reg, {"import", file});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Utf8"}).out,
                  "\nHKEY_CURRENT_USER\\Software\\Utf8\n    Caf\xc3\xa9    REG_SZ    cr\xc3\xa8me\n\n");
        EXPECT_EQ(Tool(reg, {"delete", "HKCU\\Software\\Utf8", "/f"}).code, 0);
    }
}

// A deletion the store refuses fails the command: nothing is reported as done.
TEST(RegToolDelete, AValueTheStoreRefusesToDeleteFailsTheCommand) {
    struct RefusingStore : MemoryStore {
        LONG RegDeleteValueA(HKEY key, std::string_view name) override {
            return name == "b" ? ERROR_ACCESS_DENIED : MemoryStore::RegDeleteValueA(key, name);
        }
    } reg;
    HKEY k = Create(reg, "Software\\Three");
    for (const char* name : {"a", "b", "c"}) SetDword(reg, k, name, 1);
    reg.RegCloseKey(k);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"delete", "HKCU\\Software\\Three", "/va", "/f"},
                                                 std::vector<std::string>{"delete", "HKCU\\Software\\Three", "/v", "b", "/f"}}) {
        const Result r = Tool(reg, args);
        EXPECT_EQ(r.code, 1) << args[2];
        EXPECT_EQ(r.out, "") << args[2];
        EXPECT_NE(r.err.find("Cannot delete from HKEY_CURRENT_USER\\Software\\Three (status 5)"), std::string::npos)
            << r.err;
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
    std::unique_ptr<FileStore> reg;
};

// A change whose every step was taken but whose save fails on the disk fails the
// command, and the store keeps what it had.
TEST_F(RegToolFileTest, ASaveThatFailsOnTheDiskFailsTheCommand) {
    ASSERT_EQ(Tool(*reg, {"add", "HKCU\\Software\\Kept", "/v", "x", "/t", "REG_DWORD", "/d", "1", "/f"}).code, 0);
    const std::string before = ReadFile(store);
    const std::string file = dir.file("one.reg");
    WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\New]\r\n"
                    "\"y\"=dword:00000002\r\n");
    FileStore::WriteCalls full;
    full.rename = [](const char*, const char*) {
        errno = ENOSPC;
        return -1;
    };
    reg->SetWriteCalls(full);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"add", "HKCU\\Software\\New", "/v", "y", "/t", "REG_DWORD", "/d", "2", "/f"},
          std::vector<std::string>{"delete", "HKCU\\Software\\Kept", "/f"}, std::vector<std::string>{"import", file}}) {
        const Result r = Tool(*reg, args);
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << args[0] << ": " << r.err;
        EXPECT_EQ(ReadFile(store), before) << args[0];
    }
}

TEST_F(RegToolFileTest, ImportABadFileChangesNothingAtAll) {
    const std::string before = ReadFile(store);
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"x\"=dword:1\r\n"
         "[HKEY_CURRENT_USER\\Software\\B]\r\n\"y\"=dword:123456789\r\n",
         ":6: invalid dword data"},
        {"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n",
         ":2: only keys under HKEY_CURRENT_USER"},
        {"Windows Registry Editor Version 5.00\r\n\"x\"=\"orphan\"\r\n", ":2: a value comes before any key"},
        {"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=hex:0g\r\n", ":3: invalid hex data"},
        {"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=\"open\r\n", ":3: a quoted string"},
        {"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=hex(2):41\r\n", ":3: string data"},
        {"WINE REGISTRY Version 2\n[Software\\\\A]\n", ":1: not a registry file"},
    };
    for (const Case& c : cases) {
        const std::string file = dir.file("bad.reg");
        WriteFile(file, c.text);
        const Result r = Tool(*reg, {"import", file});
        EXPECT_EQ(r.code, 1) << c.text;
        EXPECT_NE(r.err.find(file + c.message), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(store), before);
    }
}

// A file that reads well but that the store refuses part of (a value name over
// the limit, after keys and values that could be made): nothing of it is stored.
TEST_F(RegToolFileTest, ImportAFileTheStoreRefusesPartOfChangesNothingAtAll) {
    const std::string before = ReadFile(store);
    const std::string file = dir.file("late.reg");
    WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Good]\r\n"
                    "\"x\"=dword:00000001\r\n\r\n[HKEY_CURRENT_USER\\Software\\Good\\Below]\r\n\"y\"=\"text\"\r\n"
                    "\"" + std::string(16384, 'n') + "\"=dword:00000002\r\n");
    const Result r = Tool(*reg, {"import", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot set value \"nnnn"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(status 87). Nothing was imported."), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(store), before);
    EXPECT_EQ(Tool(*reg, {"query", "HKCU\\Software\\Good"}).code, 1);
    // Nor does a file whose every step works but whose save the store refuses.
    WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Good]\r\n"
                    "\"x\"=dword:00000001\r\n");
    ASSERT_EQ(::chmod(store.c_str(), 0444), 0);
    const Result refused = Tool(*reg, {"import", file});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("is read-only"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(store), before);
    ASSERT_EQ(::chmod(store.c_str(), 0600), 0);
    EXPECT_EQ(Tool(*reg, {"query", "HKCU\\Software\\Good"}).code, 1);
}

// What Windows' reg refuses as bad syntax (Wine's reg agrees): a switch given
// twice, switches that contradict each other, a switch the command does not
// take, too many or too few names. Refused with the usage hint; nothing changes.
TEST_F(RegToolTest, ArgumentsRegRefusesAreRefusedAndChangeNothing) {
    const std::string key = "HKCU\\Software\\Test";
    const std::string file = dir.file("out.reg");
    const std::vector<std::vector<std::string>> refused = {
        {"add", key, "/v", "a", "/v", "b", "/d", "1", "/f"},
        {"add", key, "/ve", "/ve", "/d", "1", "/f"},
        {"add", key, "/v", "a", "/ve", "/d", "1", "/f"},
        {"add", key, "/ve", "/v", "a", "/d", "1", "/f"},
        {"add", key, "/v", "a", "/t", "REG_SZ", "/t", "REG_DWORD", "/d", "1", "/f"},
        {"add", key, "/v", "a", "/d", "1", "/d", "2", "/f"},
        {"add", key, "/v", "a", "/d", "1", "/f", "/f"},
        {"add", key, "/v", "a", "/t", "REG_MULTI_SZ", "/s", ",", "/s", ";", "/d", "x,y", "/f"},
        {"add", key, "/va", "/f"},
        {"add", key, "/v", "a", "/d", "1", "/y"},
        {"add", key, "extra", "/v", "a", "/d", "1", "/f"},
        {"add", "/v", "a", "/d", "1", "/f"},
        {"query", key, "/v", "Test1", "/ve"},
        {"query", key, "/v", "Test1", "/v", "Test2"},
        {"query", key, "/s", "/s"},
        {"query", key, "/va"},
        {"query", key, "/f"},
        {"delete", key, "/v", "Test1", "/va", "/f"},
        {"delete", key, "/ve", "/va", "/f"},
        {"delete", key, "/va", "/va", "/f"},
        {"delete", key, "/v", "Test1", "/v", "Test2", "/f"},
        {"delete", key, "/f", "/f"},
        {"delete", key, "/v", "Test1", "/d", "1", "/f"},
        {"delete", key, "/t", "REG_SZ", "/f"},
        {"delete", key, "/s", "/f"},
        {"export", key},
        {"export", key, file, "extra", "/y"},
        {"export", key, file, "/v", "Test1"},
        {"export", key, file, "/f"},
        {"import", file, "extra"},
        {"import", file, "/f"},
        {"import"},
    };
    const std::string importable =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n\"New\"=\"x\"\r\n";
    WriteFile(file, importable);
    const std::string listing = Tool(reg, {"query", key, "/s"}).out;
    reg.GetHive().ClearChanged();
    for (const auto& args : refused) {
        const Result r = Tool(reg, args);
        const std::string shown = ::testing::PrintToString(args);
        EXPECT_EQ(r.code, 1) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(r.err.rfind("moatgate-reg: Invalid syntax", 0) == 0 ||
                      r.err.rfind("moatgate-reg: Use only one of /v, /ve and /va.", 0) == 0,
                  true)
            << shown << ": " << r.err;
        EXPECT_NE(r.err.find("Type \"moatgate-reg /?\" for usage."), std::string::npos) << shown << ": " << r.err;
    }
    EXPECT_FALSE(reg.GetHive().Changed());
    EXPECT_EQ(Tool(reg, {"query", key, "/s"}).out, listing);
    EXPECT_EQ(ReadFile(file), importable);  // no export was written over it
}

std::string Chain(std::size_t levels, const std::string& name = "k", const std::string& separator = "\\") {
    std::string path;
    for (std::size_t i = 0; i < levels; ++i) path += (i ? separator : "") + name;
    return path;
}

// Keys as deep as a store file may hold them: query and export walk them without
// recursion (and without a whole path per level); the export is in proportion.
TEST(RegToolDeep, QueryAndExportWalkKeysDeeperThanTheLimit) {
    TempDir dir;
    const std::string store = dir.file("user.reg");
    WriteFile(store, "WINE REGISTRY Version 2\n\n[" + Chain(50000, "k", "\\\\") +
                         "] 1796554876\n\"v\"=dword:00000007\n\n[Other] 1796554876\n\"x\"=dword:00000001\n");
    std::string error;
    auto reg = FileStore::Open(store, error);
    ASSERT_TRUE(reg) << error;
    Result r = Tool(*reg, {"query", "HKCU\\k", "/v", "v", "/s"});
    EXPECT_NE(r.out.find("    v    REG_DWORD    0x7\n\nEnd of search: 1 match(es) found.\n"), std::string::npos);
    EXPECT_NE(r.err.find("moatgate-reg: warning: " + store + ":3: Key path deeper than 512 levels"), std::string::npos)
        << r.err;
    EXPECT_EQ(Tool(*reg, {"query", "HKCU\\Other"}).out, "\nHKEY_CURRENT_USER\\Other\n    x    REG_DWORD    0x1\n\n");

    const std::string file = dir.file("deep.reg");
    r = Tool(*reg, {"export", "HKCU\\k", file});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string exported = ReadFile(file);
    EXPECT_LT(exported.size(), 2 * ReadFile(store).size());
    const std::string leaf = "[HKEY_CURRENT_USER\\" + Chain(50000) + "]\r\n\"v\"=dword:00000007\r\n";
    EXPECT_EQ(exported, Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\k]\r\n\r\n" + leaf + "\r\n"));

    // The store is not written: the refusal says why and where.
    const std::string before = ReadFile(store);
    r = Tool(*reg, {"add", "HKCU\\Other", "/v", "y", "/d", "1", "/f"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(store + ":3: Key path deeper than 512 levels"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing is written to it until that line is mended"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(store), before);
}

// The platform's limits (512 levels, key names of 255 characters, value names of
// 16383) hold at add and at
// import, with status 87; up to them everything works, deleting included.
TEST(RegToolDeep, AddAndImportRefuseWhatThePlatformRefuses) {
    MemoryStore reg;
    Result r = Tool(reg, {"add", "HKCU\\" + Chain(513), "/f"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("a key path may be at most 512 levels deep (status 87)"), std::string::npos) << r.err;
    EXPECT_LT(r.err.size(), 300u);  // the 513 levels are not echoed whole
    r = Tool(reg, {"add", "HKCU\\Software\\" + std::string(256, 'n'), "/f"});
    EXPECT_NE(r.err.find("a key name may be at most 255 characters long (status 87)"), std::string::npos) << r.err;
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\k"}).code, 1);
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software"}).code, 1);
    EXPECT_EQ(Tool(reg, {"add", "HKCU\\Software\\" + std::string(255, 'n'), "/f"}).code, 0);

    // Below a key opened deep down, the limit counts from the root.
    HKEY deep = Create(reg, Chain(500));
    ASSERT_NE(deep, 0u);
    HKEY k = 0;
    EXPECT_EQ(reg.RegCreateKeyExA(deep, Chain(13), 0, "", 0, 0x3F, nullptr, &k, nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(reg.RegCreateKeyExA(deep, Chain(12), 0, "", 0, 0x3F, nullptr, &k, nullptr), 0);
    reg.RegCloseKey(k);
    reg.RegCloseKey(deep);
    r = Tool(reg, {"add", "HKCU\\" + Chain(512), "/v", "v", "/d", "x", "/f"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Tool(reg, {"delete", "HKCU\\k", "/f"}).code, 0);
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\k"}).code, 1);

    TempDir dir;
    const std::string file = dir.file("deep.reg");
    WriteFile(file, Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Fine]\r\n"
                              "\"x\"=dword:00000001\r\n\r\n[HKEY_CURRENT_USER\\" + Chain(513) + "]\r\n"));
    reg.GetHive().ClearChanged();
    r = Tool(reg, {"import", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(file + ":6: the key path is deeper than 512 levels. Nothing was imported."), std::string::npos)
        << r.err;
    EXPECT_FALSE(reg.GetHive().Changed());
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Fine"}).code, 1);
    // Exactly as deep as the platform allows is imported.
    WriteFile(file, Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" + Chain(512) +
                              "]\r\n\"x\"=dword:00000001\r\n"));
    r = Tool(reg, {"import", file});
    EXPECT_EQ(r.code, 0) << r.err.substr(0, 300);
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\" + Chain(512), "/v", "x"}).code, 0);
    // A key name of 255 characters is imported and one of 256 is not, counted in
    // characters, not in UTF-8 bytes.
    for (const std::string& unit : {std::string("n"), std::string("\xc3\xbc")}) {
        auto repeated = [&unit](int times) {
            std::string s;
            for (int i = 0; i < times; ++i) s += unit;
            return s;
        };
        WriteFile(file, Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Long\\" +
                                  repeated(256) + "]\r\n"));
        r = Tool(reg, {"import", file});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(":3: a key name is longer than 255 characters"), std::string::npos) << r.err.substr(0, 300);
        WriteFile(file, Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Long\\" +
                                  repeated(255) + "]\r\n"));
        r = Tool(reg, {"import", file});
        EXPECT_EQ(r.code, 0) << r.err.substr(0, 300);
        EXPECT_EQ(Tool(reg, {"query", "HKCU\\Long\\" + repeated(255)}).code, 0);
    }

    // A value name: 16383 characters at most.
    r = Tool(reg, {"add", "HKCU\\Software\\Names", "/v", std::string(16384, 'v'), "/d", "x", "/f"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("(status 87)"), std::string::npos) << r.err.substr(0, 300);
    r = Tool(reg, {"add", "HKCU\\Software\\Names", "/v", std::string(16383, 'v'), "/d", "x", "/f"});
    EXPECT_EQ(r.code, 0) << r.err.substr(0, 300);
}

// Strings are stored with their terminator, as reg and the registry editor store
// them: an empty one is "" in the file, as Wine writes it, not hex(1):.
TEST_F(RegToolFileTest, EmptyStringsAreWrittenAsWineWritesThem) {
    ASSERT_EQ(Tool(*reg, {"add", "HKCU\\Software\\S", "/v", "e", "/d", "", "/f"}).code, 0);
    ASSERT_EQ(Tool(*reg, {"add", "HKCU\\Software\\S", "/v", "x", "/t", "REG_EXPAND_SZ", "/d", "", "/f"}).code, 0);
    ASSERT_EQ(Tool(*reg, {"add", "HKCU\\Software\\S", "/v", "t", "/d", "text", "/f"}).code, 0);
    const std::string file = dir.file("in.reg");
    WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\S]\r\n\"i\"=\"\"\r\n");
    ASSERT_EQ(Tool(*reg, {"import", file}).code, 0);
    const std::string text = ReadFile(store);
    EXPECT_NE(text.find("\n\"e\"=\"\"\n\"i\"=\"\"\n\"t\"=\"text\"\n\"x\"=str(2):\"\"\n"), std::string::npos) << text;
}

TEST(RegToolFile, ErrorsShowInputShortAndEscaped) {
    MemoryStore reg;
    const std::string evil = "\x1b]0;owned\x07\x1b[2J" + std::string(400, 'x');
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"add", "HKCU\\Software\\New", "/v", "d", "/t", "REG_DWORD", "/d", evil},
             {"add", "HKLM\\" + evil},
             {"query", evil},
             {evil}}) {
        const Result r = Tool(reg, args);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
        EXPECT_LT(r.err.size(), 300u) << r.err;
    }
}

}  // namespace
}  // namespace moatgate

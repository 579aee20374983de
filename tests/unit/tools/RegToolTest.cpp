// moatgate-reg: reg-compatible output, bad input refused without changes, imports
// applied whole or not at all.
#include <gtest/gtest.h>

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
    EXPECT_EQ(r.out,
              "\nHKEY_CURRENT_USER\\Software\\Test\\subkey\n    Test3    REG_SZ    Some string data\n\n"
              "End of search: 1 match(es) found.\n");
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
    reg.RegSetValueExA(k, "multi", 0, REG_MULTI_SZ, reinterpret_cast<const unsigned char*>("a\0b\0"), 5);
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
                        "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                        "\"Test1\"=\"Hello, World\"\r\n"
                        "\"Test2\"=dword:00000123\r\n"
                        "\r\n[HKEY_CURRENT_USER\\Software\\Test\\subkey]\r\n"
                        "\"Test3\"=\"Some string data\"\r\n"
                        "\"Test4\"=dword:00000abc\r\n\r\n"));
    EXPECT_EQ(Tool(reg, {"export", "HKCU\\Software\\Test", file}, "n\n").out,
              "The file " + file + " already exists. Overwrite it (Yes/No)? The operation was cancelled.\n");

    MemoryStore other;
    ASSERT_EQ(Tool(other, {"import", file}).code, 0);
    EXPECT_EQ(Tool(other, {"query", "HKCU\\Software\\Test", "/s"}).out, Tool(reg, {"query", "HKCU\\Software\\Test", "/s"}).out);
    HKEY ok = 0;
    ASSERT_EQ(other.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Test", &ok), 0);
    EXPECT_EQ(Query(other, ok, "multi"), std::string("a\0b\0\0", 5));
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
              "[-HKEY_CURRENT_USER\\Software\\Test\\subkey]\r\n"
              "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\"
              "bad.example]\r\n"
              "\"*\"=dword:00000004\r\n");
    const Result r = Tool(reg, {"import", file});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Tool(reg, {"query", "HKCU\\Software\\Test", "/s"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Test\n"
              "    Caf\xc3\xa9    REG_SZ    cr\xc3\xa8me\n"
              "    Test2    REG_DWORD    0x123\n"
              "    wrapped    REG_BINARY    01020304\n\n");
    EXPECT_NE(Tool(reg, {"query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                             "Settings\\ZoneMap\\Domains\\bad.example"})
                  .out.find("*    REG_DWORD    0x4"),
              std::string::npos);
}

TEST(RegToolImport, ABadFileChangesNothingAtAll) {
    TempDir dir;
    const std::string store = dir.file("user.reg");
    std::string error;
    auto reg = FileStore::Open(store, error);
    ASSERT_TRUE(reg) << error;
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

}  // namespace
}  // namespace moatgate

// .reg files read piece by piece from disk as they read whole from memory; applied
// with parents kept open; exported as they are made. (Their steps, kept compactly,
// come back whole in every import test.)
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "registry/Registry.h"
#include "registry/store/HiveRegistry.h"
#include "registry/store/Unicode.h"
#include "tests/unit/TestSupport.h"
#include "tools/moatgate-reg/RegFile.h"

namespace moatgate {
namespace {

using namespace test;

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
    // surrogates (some straddling the pieces' edges), and lone surrogates.
    const std::u16string head = u"Windows Registry Editor Version 5.00\r\n";
    std::u16string text, pairs;
    for (int i = 0; i < 20; ++i) pairs += u"\U0001F600";
    for (int i = 0; i < 3000; ++i) {
        text += u"\r\n[HKEY_CURRENT_USER\\Software\\Test\\k" + Utf8ToUtf16Lenient(std::to_string(i)) + u"]\r\n";
        text += u"\"caf\u00e9 \U0001F600\"=\"v" + Utf8ToUtf16Lenient(std::to_string(i)) + u"\"\r\n";
        if (i % 97 == 0) text += u"\"lone\xD800\"=\"x\xDC00y\"\r\n";
        if (i % 2 == 0) text += u"\"pairs\"=\"" + pairs + u"\"\r\n";
    }
    same(head + u" " + text, "", true);  // moved by a unit, so that other characters fall on the pieces' edges
    text = head + text;
    const std::vector<std::string> steps = same(text, "", true);
    EXPECT_EQ(steps[0], "0|Software\\Test\\k0||0|");
    EXPECT_EQ(steps[1], "2|Software\\Test\\k0|caf\xc3\xa9 \xf0\x9f\x98\x80|1|v0" + std::string(1, '\0'));
    EXPECT_EQ(steps[2], "2|Software\\Test\\k0|lone\xef\xbf\xbd|1|x\xef\xbf\xbdy" + std::string(1, '\0'));
    // Bad files fail as their bytes do: an odd size, a line in error far in, no lines at all.
    same(text, "x", false);
    same(text + u"\"x\"=dword:zz\r\n", "", false);
    same(u"", "", false);
}

TEST(RegFileRead, KeysMadeBelowParentsKeptOpenAreMadeAsFromTheRoot) {
    // Domains and their subdomains alternate; a parent deleted meanwhile is made again.
    std::string text = "Windows Registry Editor Version 5.00\r\n";
    const std::string base = "HKEY_CURRENT_USER\\Software\\Sites";
    for (int i = 0; i < 30; ++i) {
        const std::string domain = base + "\\d" + std::to_string(i % 7) + ".example";
        text += "\r\n[" + domain + "]\r\n\"*\"=dword:00000002\r\n";
        text += "\r\n[" + domain + "\\www]\r\n\"http\"=dword:0000000" + std::to_string(i % 10) + "\r\n";
        if (i == 20) text += "\r\n[-" + base + "]\r\n";
    }
    MemoryStore store;
    RegFileOps ops;
    RegFileError error;
    ASSERT_TRUE(ParseRegFile(text, ops, error)) << error.message;
    std::string problem;
    ASSERT_EQ(ApplyRegFile(store, ops, problem), 0) << problem;
    EXPECT_EQ(store.OpenHandleCount(), 0u);
    // Written again after the deletion at i = 20: d0 at 28, d6 at 27.
    for (const auto& [domain, http] : {std::pair{"d0", "8"}, std::pair{"d6", "7"}})
        EXPECT_EQ(ReadRegistryValueText(store, HKEY_CURRENT_USER, "Software\\Sites\\" + std::string(domain) + ".example\\www",
                                        "http"), http);
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

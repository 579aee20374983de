// Values left in the file's text until asked for: read then as reading the whole file takes them, however the
// file is laid out and after saves have moved the text about; enumerated from the text as the key would give them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/store/FileStore.h"
#include "registry/store/Unicode.h"
#include "registry/store/WineRegFormat.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

// "name=type:hex bytes" for each value, in order.
template <typename Values>
std::vector<std::string> Described(const Values& values) {
    std::vector<std::string> out;
    for (const HiveValue& v : values) {
        std::string d = Utf16ToUtf8(v.name) + "=" + std::to_string(v.type) + ":";
        for (unsigned char b : v.data) d += "0123456789abcdef"[b >> 4], d += "0123456789abcdef"[b & 15];
        out.push_back(d);
    }
    return out;
}

const HiveKey& Key(const Hive& hive, const std::u16string& path) {
    const HiveKey* key = hive.Find(path);
    if (!key) throw std::runtime_error("no key " + Utf16ToUtf8(path));
    return *key;
}

TEST(ValuesInText, KeysReadTheirValuesAsAWholeReadingWouldHaveThem) {
    // Values spread, repeated, out of order, cut short by a header Wine leaves out, continued over lines.
    const std::string text =
        "WINE REGISTRY Version 2\n[A] 1796554876\n#time=1dd85711d4b34f6\n\"b\"=dword:00000002\n\"A\"=dword:00000001\n"
        "\"B\"=\"again\"\n\"h\"=hex:01,02,\\\n  03\n[B] 1796554876\n\"x\"=dword:00000005\n"
        "[Software\\Open\n\"stray\"=dword:00000009\n"      // left out: what follows belongs to no key
        "[a] 1796554876\n\"c\"=str(2):\"%X%\"\n\"a\"=dword:00000007\n";  // the first key under another spelling
    Hive hive;
    FileLayout layout;
    ParseError error;
    EXPECT_FALSE(LoadRegistryText(text, hive, layout, error));
    ASSERT_TRUE(error.partlyRead) << error.message;
    EXPECT_TRUE(Key(hive, u"A").ValuesInText());
    // A name given twice: its first spelling, its last data; "again" terminated.
    EXPECT_EQ(Described(Key(hive, u"A").values()), (std::vector<std::string>{"A=4:07000000", "b=1:61006700610069006e000000",
                                                                     "c=2:2500580025000000", "h=3:010203"}));
    EXPECT_FALSE(Key(hive, u"A").ValuesInText());
    EXPECT_EQ(Described(Key(hive, u"B").values()), std::vector<std::string>{"x=4:05000000"});
}

TEST(ValuesInText, ValuesNotYetReadSurviveSavesThatMoveAndRenumberTheirText) {
    // Enough keys for the blocks to be renumbered once most are gone.
    std::string text = "WINE REGISTRY Version 2\n";
    constexpr int kKeys = 9000;
    auto name = [](int i) { return u"K\\k" + Utf8ToUtf16Lenient(std::to_string(100000 + i)); };
    for (int i = 0; i < kKeys; ++i)
        text += "\n[K\\\\k" + std::to_string(100000 + i) + "] 1796554876\n\"v\"=dword:0000000" + std::to_string(i % 10) +
                "\n\"w\"=\"" + std::to_string(i) + "\"\n";
    Hive hive;
    FileLayout layout;
    ParseError error;
    ASSERT_TRUE(LoadRegistryText(text, hive, layout, error)) << error.message;
    // Change one early key, add one before all, delete two thirds: the rest's text moves and is renumbered.
    hive.SetValue(*hive.Find(u"K\\k100001"), u"v", REG_DWORD, {9, 0, 0, 0});
    hive.CreateSubkey(*hive.Find(u"K"), u"a-first", u"", false);
    SaveRegistryText(hive, layout);
    for (int i = 0; i < kKeys; ++i)
        if (i % 3 != 0) hive.DeleteKey(*hive.Find(name(i)));
    const std::string saved = SaveRegistryText(hive, layout);
    for (int i = 0; i < kKeys; i += 3) {
        const HiveKey& key = Key(hive, name(i));
        ASSERT_TRUE(key.ValuesInText()) << i;
        const std::vector<std::string> got = Described(key.values());
        ASSERT_EQ(got.size(), 2u) << i;
        EXPECT_EQ(got[0] + got[1].substr(0, 4), "v=4:0" + std::to_string(i % 10) + "000000w=1:") << i;
    }
    Hive again;  // what was saved reads back the same
    ASSERT_TRUE(LoadRegistryText(saved, again, layout, error)) << error.message;
    EXPECT_EQ(Described(Key(again, u"K\\k100003").values()), Described(Key(hive, u"K\\k100003").values()));
    EXPECT_EQ(SaveRegistryText(again, layout), saved);
}

// Values enumerated from the text (the peek at a key not yet read) are what the key gives once it has read them,
// key after key: nothing of the key peeked before is left over.
TEST(ValuesInText, EnumeratedValuesAreTheKeysOwn) {
    const std::vector<std::string> blocks = {
        "\"b\"=dword:00000002\n\"a\"=dword:00000001\n",                   // out of order
        "\"a\"=dword:00000001\n\"A\"=\"three\"\n\"b\"=dword:00000002\n",  // a name twice
        "\"a\"=dword:00000001\n\"bad\"=dword:zz\n\"c\"=\"3\"\n",          // a line left out
        "@=\"default\"\n\"h\"=hex:00,\\\n  01\n#class=\"c\"\n; note\n\"x\\\\y\"=\"\\xe9\"\n",
        "\"a\"=dword:00000001\n",  // fewer than the key before
        "\"1\"=dword:1\n\"2\"=dword:2\n\"3\"=dword:3\n\"4\"=dword:4\n\"5\"=dword:5\n\"6\"=dword:6\n\"7\"=dword:7\n"
        "\"8\"=dword:8\n\"9\"=dword:9\n",  // more than a few
    };
    std::string text = "WINE REGISTRY Version 2\n";
    for (std::size_t i = 0; i < blocks.size(); ++i) text += "[K" + std::to_string(i) + "] 1796554876\n" + blocks[i];
    TempDir dir;
    WriteFile(dir.file("user.reg"), text);
    std::string error, name, data;
    auto store = FileStore::Open(dir.file("user.reg"), error);
    ASSERT_TRUE(store) << error;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE(blocks[i]);
        HKEY k = 0;
        ASSERT_EQ(store->RegOpenKeyA(HKEY_CURRENT_USER, "K" + std::to_string(i), &k), 0);
        std::vector<std::string> enumerated, queried;
        DWORD type = 0;
        for (DWORD v = 0; ValueAt(*store, k, v, name, data, &type); ++v)
            enumerated.push_back(name + "=" + std::to_string(type) + ":" + data);
        for (const std::string& n : ValueNames(*store, k)) {  // asked for by name, which reads them into the key
            data = Query(*store, k, n, &type);
            queried.push_back(n + "=" + std::to_string(type) + ":" + data);
        }
        EXPECT_EQ(enumerated, queried);
        EXPECT_EQ(enumerated.size(), Key(store->GetHive(), u"K" + Utf8ToUtf16Lenient(std::to_string(i))).values().size());
        store->RegCloseKey(k);
    }
}

}  // namespace
}  // namespace moatgate

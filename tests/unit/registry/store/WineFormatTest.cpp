// Reading and writing Wine's registry text format, checked against files Wine wrote.
#include <gtest/gtest.h>

#include "registry/store/FileStore.h"
#include "registry/store/HiveRegistry.h"
#include "registry/store/Unicode.h"
#include "registry/store/WineRegFormat.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

constexpr std::uint64_t kFixedTime = 0x1dd860000000000ull;  // some moment in 2026
const std::string kHead = "WINE REGISTRY Version 2\n";

std::string Fixture(const std::string& name) { return ReadFile(std::string(MOATGATE_TEST_DATA) + "/" + name); }

struct Loaded {
    explicit Loaded(const std::string& text) : ok(LoadRegistryText(text, hive, layout, error)) {}
    const HiveValue* Value(const std::u16string& path, const std::u16string& name) const {
        const HiveKey* key = hive.Find(path);
        return key ? key->FindValue(name) : nullptr;
    }
    Hive hive;
    FileLayout layout;
    ParseError error;
    bool ok;
};

// The end of a key's header line and the #time line Wine writes for a key stamped at kFixedTime.
const std::string kStamp = "] 1796616244\n#time=1dd860000000000\n";

TEST(WineFormat, UnchangedFilesAreWrittenBackByteForByte) {
    const std::string crlfAndOddities =
        "WINE REGISTRY Version 2\r\n;; comment\r\n#arch=win64\r\n"
        "[Software\\\\Zeta] 1796554203 trailing junk here\r\n  \"x\"=dword:4\r\n; a comment inside\r\n\r\n\r\n"
        "[Software\\\\Alpha]\r\n\"y\"=hex:00,01,\\\r\n   02\r\n"
        "[software\\\\zeta]\n\"HTTP\"=dword:00000002";  // no final newline
    for (const std::string& text : {Fixture("wine-fresh-user.reg"), Fixture("all-types.reg"), crlfAndOddities}) {
        Loaded f(text);
        ASSERT_TRUE(f.ok) << f.error.line << ": " << f.error.message;
        EXPECT_EQ(SaveRegistryText(f.hive, f.layout), text);
        EXPECT_EQ(SaveRegistryText(f.hive, f.layout), text);  // and again from the new layout
    }
}

// A save handed on in parts, however small, is the text a save kept whole makes: line ends between blocks
// included where a part ended (the last block here has none). A part that could not be taken ends the save.
TEST(WineFormat, ATextHandedOnInPartsIsTheTextKeptWhole) {
    const std::string text = kHead + "[A] 1796554203\n\"x\"=dword:00000004\n\n[B\\\\Old] 1796554203\n\n"
                             "[C] 1796554203\n\"y\"=dword:00000001";
    auto change = [](Loaded& f) {
        f.hive.SetClock([] { return kFixedTime; });
        f.hive.SetValue(*f.hive.Find(u"A"), u"x", REG_DWORD, {5, 0, 0, 0});
        f.hive.DeleteKey(*f.hive.Find(u"B\\Old"));
        for (const char16_t* name : {u"0", u"B2", u"D"})
            f.hive.SetValue(*f.hive.CreateSubkey(f.hive.Root(), name, u"", false), u"v", REG_DWORD, {1, 0, 0, 0});
    };
    Loaded whole(text);
    ASSERT_TRUE(whole.ok) << whole.error.message;
    change(whole);
    const std::string expected = SaveRegistryText(whole.hive, whole.layout);
    for (const std::size_t part : {std::size_t{1}, std::size_t{40}, std::size_t{1} << 20}) {
        SCOPED_TRACE(part);
        Loaded f(text);
        change(f);
        std::string handed;
        std::size_t parts = 0;
        EXPECT_TRUE(StreamRegistryText(f.hive, f.layout, [&](std::string_view t) {
            handed += t;
            return ++parts > 0;
        }, part));
        EXPECT_EQ(handed, expected);
        EXPECT_EQ(parts > 1, part < expected.size());
    }
    Loaded refused(text);
    change(refused);
    std::size_t asked = 0;
    EXPECT_FALSE(StreamRegistryText(refused.hive, refused.layout, [&](std::string_view) { return ++asked < 2; }, 1));
    EXPECT_EQ(asked, 2u);
}

TEST(WineFormat, KeysWrittenAnewComeOutAsWineWroteThem) {
    for (const std::string name : {"wine-fresh-user.reg", "all-types.reg"}) {
        const std::string text = Fixture(name);
        Loaded f(text);
        ASSERT_TRUE(f.ok) << f.error.message;
        EXPECT_EQ(WriteHiveText(f.hive, std::string_view(text).substr(0, f.layout.preambleEnd)), text) << name;
    }
    // The root's own block, when it holds a class.
    const std::string rootClass = kHead + "\n[" + kStamp + "#class=\"c\"\n\n[A" + kStamp + "\"x\"=dword:00000001\n";
    Loaded f(rootClass);
    ASSERT_TRUE(f.ok) << f.error.message;
    EXPECT_EQ(WriteHiveText(f.hive, kHead), rootClass);
    // A control character without a letter of its own goes in octal, with three digits whenever a digit that
    // would read as part of it follows: 0 as well as 7.
    MemoryStore reg;
    HKEY k = Create(reg, "K");
    ASSERT_EQ(SetBytes(reg, k, "v", REG_SZ, "\x01" "0 \x01" "7 \x01" "8 \x01"), 0);
    reg.RegCloseKey(k);
    const std::string written = WriteHiveText(reg.GetHive(), "");
    EXPECT_NE(written.find("\n\"v\"=\"\\0010 \\0017 \\18 \\1\"\n"), std::string::npos) << written;
}

class StoredFile : public ::testing::Test {
protected:
    void Open(const std::string& text) {
        original = text;
        WriteFile(path, text);
        std::string error;
        store = FileStore::Open(path, error);
        ASSERT_TRUE(store) << error;
        store->SetClock([] { return kFixedTime; });
    }
    // A key's block of the text, from the newline before its header to the next header.
    static std::string Block(const std::string& text, const std::string& header) {
        const std::size_t at = text.find("\n[" + header + "]");
        return at == std::string::npos ? std::string() : text.substr(at, text.find("\n[", at + 1) - at);
    }
    static std::string Replaced(std::string text, const std::string& old, const std::string& now) {
        return text.replace(text.find(old), old.size(), now);
    }
    TempDir dir;
    std::string path = dir.file("user.reg");
    std::string original;
    std::unique_ptr<FileStore> store;
};

const std::string kSettings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
std::string Escaped(std::string path) {
    for (std::size_t at = 0; (at = path.find('\\', at)) != std::string::npos; at += 2) path.insert(at, "\\");
    return path;
}

TEST_F(StoredFile, ChangingAValueRewritesOnlyThatKey) {
    Open(Fixture("wine-fresh-user.reg"));
    const std::string zone3 = Escaped(kSettings + "\\Zones\\3");
    auto set = [&] {
        HKEY k = 0;
        ASSERT_EQ(store->RegOpenKeyExA(HKEY_CURRENT_USER, kSettings + "\\Zones\\3", 0, 0x3F, &k), 0);
        ASSERT_EQ(SetDword(*store, k, "1400", 3), 0);
        store->RegCloseKey(k);
    };
    set();
    const std::string oldBlock = Block(original, zone3);
    ASSERT_FALSE(oldBlock.empty());
    std::string newBlock = oldBlock;
    newBlock.replace(0, newBlock.find("\n@=") + 1, "\n[" + zone3 + kStamp);
    newBlock = Replaced(newBlock, "\"1400\"=dword:00000000", "\"1400\"=dword:00000003");
    EXPECT_EQ(ReadFile(path), Replaced(original, oldBlock, newBlock));
    // Writing the same data again changes nothing at all, as in Wine.
    const auto before = std::filesystem::last_write_time(path);
    WriteFile(dir.file("marker"), "");
    set();
    EXPECT_EQ(std::filesystem::last_write_time(path), before);
}

TEST_F(StoredFile, NewKeysGoWhereWinePutsThemAndStampTheirParent) {
    Open(Fixture("wine-fresh-user.reg"));
    const std::string domains = kSettings + "\\ZoneMap\\Domains", escaped = Escaped(domains);
    HKEY k = 0;
    ASSERT_EQ(store->RegCreateKeyExA(HKEY_CURRENT_USER, domains + "\\example.com\\www", 0, "REG_DWORD", 0, 0x3F,
                                     nullptr, &k, nullptr),
              0);
    ASSERT_EQ(SetDword(*store, k, "http", 2), 0);
    store->RegCloseKey(k);
    const std::string oldDomains = Block(original, escaped);
    const std::string newDomains = "\n[" + escaped + kStamp + "@=\"\"\n";
    // Both keys were created with the class, and a key with a class gets a block.
    const std::string added = "\n[" + escaped + "\\\\example.com" + kStamp + "#class=\"REG_DWORD\"\n" + "\n[" +
                              escaped + "\\\\example.com\\\\www" + kStamp +
                              "#class=\"REG_DWORD\"\n\"http\"=dword:00000002\n";
    EXPECT_EQ(ReadFile(path), Replaced(original, oldDomains, newDomains + added));
    // Deleting the keys again takes their blocks and stamps the parent.
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_CURRENT_USER, domains + "\\example.com\\www"), 0);
    ASSERT_EQ(store->RegDeleteKeyA(HKEY_CURRENT_USER, domains + "\\example.com"), 0);
    EXPECT_EQ(ReadFile(path), Replaced(original, oldDomains, newDomains));
}

TEST(WineFormat, FilesWineWouldRejectOrCouldNotTakeAreRefusedWithTheirLine) {
    const struct {
        std::string text;
        std::size_t line;
        std::string message;
        bool partlyRead = true;  // false: Wine rejects the file whole
    } cases[] = {
        {"Windows Registry Editor Version 5.00\n", 1, "not a valid registry file", false},
        {kHead + "\"orphan\"=dword:00000001\n", 2, "Value without key"},
        {kHead + "[A]\n\"bin\"=hex:00,01,\\\n", 3, "Malformed value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Loaded f(c.text);
        EXPECT_FALSE(f.ok);
        EXPECT_EQ(f.error.line, c.line);
        EXPECT_EQ(f.error.message.rfind(c.message, 0), 0u) << f.error.message;
        EXPECT_EQ(f.error.partlyRead, c.partlyRead);
    }
}

// A line that would not be written back as it reads (Wine would read something else, or something in it would be
// lost) leaves the file readable but not writable; the error names the first such line.
TEST(WineFormat, LinesThatWouldChangeWhenWrittenLeaveTheFileReadOnly) {
    const std::string notHex = "Malformed value: not a hexadecimal number";
    const struct {
        std::string line, message;
    } cases[] = {
        {"\"x\"=dword:zzzz", notHex},
        {"\"x\"=hex:00,1ff", "Malformed value: a byte above ff"},
        {"\"x\"=dword:100000000", "Malformed value: the number does not fit in 32 bits"},
        {"\"x\"=\"a\" junk", "Malformed value: text after the data"},
        {"\"x\"=\"bad \xc3(\"", "Malformed value: not valid UTF-8"},
        {"\"b\xff" "ad\"=dword:00000001", "Malformed value name: not valid UTF-8"},
        {std::string("\"x\"=\"a\0b\"", 9), "Unrecognized input: a NUL byte"},
        {"[Software\\\\b\xff" "ad]", "Malformed key: not valid UTF-8"},
        {"[Software\\\\Open", "Malformed key"},
        {"\"x\"=\"\\q\"", "Malformed value: unknown escape \\q"},
        {"[Software\\Microsoft]", "Malformed key: unknown escape \\M"},  // one backslash, as a hand might write
        {"\"x\"=\"\\x\"", "Malformed value: \\x without hexadecimal digits"},
        {"#time=zz", "Malformed time"},
        {"#class=\"c\" junk", "Malformed class: text after the class"},
        {"#linked", "Malformed option"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Loaded f(kHead + "[Software\\\\Kept] 1796554876\n\"before\"=dword:00000001\n" + c.line +
                       "\n\"after\"=dword:00000002\n[Software\\\\Next]\n\"n\"=dword:00000003\n");
        EXPECT_FALSE(f.ok);
        EXPECT_TRUE(f.error.partlyRead);
        EXPECT_EQ(f.error.line, 4u);
        EXPECT_EQ(f.error.message.rfind(c.message + " '", 0), 0u) << f.error.message;
        // The rest is read as Wine reads it; values after a key line that was left out go with it.
        EXPECT_NE(f.Value(u"Software\\Kept", u"before"), nullptr);
        EXPECT_EQ(f.Value(u"Software\\Kept", u"after") != nullptr, c.line[0] != '[');
        EXPECT_NE(f.Value(u"Software\\Next", u"n"), nullptr);
        EXPECT_EQ(f.Value(u"Software\\Kept", u"x"), nullptr);
    }
}

// What Wine writes, and what it reads just as written (loose spacing and spellings too), stays writable: numbers
// up to the largest they hold (a key's #time whole up to sixteen digits, or else the seconds after its name),
// escapes, options.
TEST(WineFormat, InputIsReadAsWineReadsItAndStaysWritable) {
    const std::string text =
        kHead + "#arch=win64\n[Software\\\\A\\[b\\] \\\"q\\\" \\x1f600 \\7] 1796554876 trailing words\n"
        "#time=ffffffffffffffff\n#class=\"c\\\"l\\\\s\"\n#unknown=option\n"
        "\"\\[n\\]\"=\"\\a\\b\\t\\n\\v\\f\\r\\e \\0017 \\18 \\777 \\x00e9a \\xd83d\\xde00 \x7f caf\xc3\xa9\"  \n"
        "\"a\"=dword:4\n\"b\"=dword:0X4\n  \"c\" = dword:00000004\n\"d\"=hex(4):04,00,00,00\n\"e\"=str:\"4\"\n"
        "\"f\"=hex:04,00,\\\n  00, 00\n\"g\"=dword:\n\"h\"=dword: ffffffff  \n\"i\"=dword:0xFFFFFFFF\n"
        "\"j\"=hex(12345):0A, 0b ,\\\n   FF\n@=str(7):\"a\\0b\\0\"\n[Z] 1796554876\n\"x\"=dword:1\n[z] 1796554876\n\"y\"=dword:2\n";
    Loaded f(text);
    ASSERT_TRUE(f.ok) << f.error.line << ": " << f.error.message;
    const HiveKey* key = f.hive.Find(u"Software\\A[b] \"q\" \x1f60" u"0 \x07");
    ASSERT_TRUE(key && key->keyClass && key->FindValue(u"[n]"));
    EXPECT_EQ(*key->keyClass, u"c\"l\\s");
    EXPECT_EQ(key->modified, 0xffffffffffffffffull);
    EXPECT_EQ(f.hive.Find(u"Z")->modified, 1796554876ull * 10000000 + 116444736000000000ull);
    EXPECT_EQ(f.hive.Root().children.size(), 2u);  // [z] is [Z] again
    EXPECT_EQ(f.hive.Find(u"Z")->values().size(), 2u);
    const std::vector<unsigned char> four{4, 0, 0, 0}, all{0xff, 0xff, 0xff, 0xff};
    const std::pair<std::u16string, std::vector<unsigned char>> rows[] = {
        {u"a", four}, {u"b", four}, {u"c", four}, {u"d", four}, {u"e", {'4', 0, 0, 0}}, {u"f", four},
        {u"g", {0, 0, 0, 0}}, {u"h", all}, {u"i", all}, {u"j", {0x0a, 0x0b, 0xff}}};
    for (const auto& [name, data] : rows) {
        const HiveValue* v = key->FindValue(name);
        EXPECT_EQ(v ? v->data : std::vector<unsigned char>{}, data) << Utf16ToUtf8(name);
    }
    EXPECT_EQ(SaveRegistryText(f.hive, f.layout), text);
}

// Keys deeper or longer than the platform allows are read (to be seen and mended) without any walk recursing,
// but the file is not written.
TEST(WineFormat, KeysBeyondThePlatformsLimitsAreReadButLeaveTheFileReadOnly) {
    auto chain = [](std::size_t levels, const std::string& name) {
        std::string path;
        for (std::size_t i = 0; i < levels; ++i) path += (i ? "\\\\" : "") + name;
        return kHead + "\n[" + path + "] 1796554876\n\"v\"=dword:00000001\n";
    };
    const std::string n255(255, 'n');
    const struct {
        std::string text, message;  // message empty: writable
    } cases[] = {
        {chain(512, "k"), ""},
        {chain(100000, "k"), "Key path deeper than 512 levels"},
        {chain(2, n255), ""},
        {chain(2, n255 + "n"), "Key name longer than 255 characters"},
        {kHead + "[A]\n\"" + std::string(16384, 'v') + "\"=dword:00000001\n", "Value name longer than 16383 characters"},
    };
    for (const auto& c : cases) {
        Loaded f(c.text);
        EXPECT_EQ(f.ok, c.message.empty()) << f.error.message;
        if (f.ok) continue;
        EXPECT_TRUE(f.error.partlyRead);
        EXPECT_EQ(f.error.message.rfind(c.message, 0), 0u) << f.error.message;
        const HiveKey* key = &f.hive.Root();  // the deepest key is there, with its value
        while (!key->children.empty()) key = key->children.begin()->get();
        EXPECT_EQ(key->values().size(), 1u);
    }
}

}  // namespace
}  // namespace moatgate

// The value wrappers of module Registry.
#include <gtest/gtest.h>

#include <optional>

#include "registry/Registry.h"
#include "registry/store/HiveRegistry.h"
#include "tests/unit/TestSupport.h"

namespace moatgate {
namespace {

using namespace test;

class Wrappers : public ::testing::Test {
protected:
    void SetUp() override { key = Create(reg, "Software\\W"); }
    void TearDown() override { reg.RegCloseKey(key); }
    std::string Read(const std::string& name) { return ReadKeyValueText(reg, key, name); }

    MemoryStore reg;
    HKEY key = 0;
};

TEST_F(Wrappers, ValuesAreStoredByTypeAndReadBackAsText) {
    const std::string dword65536("\0\0\1\0", 4);
    const struct {
        const char* name;
        DWORD type;
        RegValue value;
        LONG status;
        std::string text;
        std::optional<std::string> bytes;  // as stored
    } rows[] = {
        {"empty", REG_SZ, std::string(), 0, "", ""},  // text: no terminator
        // DWORDs: unsigned decimal; what is no 32-bit number is not written at all.
        {"b", REG_DWORD, std::int64_t{-1}, 0, "4294967295", std::string("\xff\xff\xff\xff", 4)},
        {"c", REG_DWORD, std::string("3000000000"), 0, "3000000000", std::string("\0\x5e\xd0\xb2", 4)},
        {"d", REG_DWORD, std::int64_t{4294967295}, 0, "4294967295", {}},
        {"e", REG_DWORD, std::string("twelve"), ERROR_INVALID_PARAMETER, "", "<status 2>"},
        {"f", REG_DWORD, std::int64_t{1} << 32, ERROR_INVALID_PARAMETER, "", "<status 2>"},
        // Binary: the signed 16-bit number of its first two bytes (one byte: that byte).
        {"1C00", REG_BINARY, dword65536, 0, "0", dword65536},
        {"one", REG_BINARY, std::string("\xff", 1), 0, "255", {}},
        {"neg", REG_BINARY, std::string("\xff\xff\x01", 3), 0, "-1", {}},
        {"none", REG_BINARY, std::string(), 0, "", {}},
        {"multi", REG_MULTI_SZ, std::string("a"), 0, "", "<status 2>"},  // other types write nothing
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(WriteKeyValue(reg, key, row.name, row.type, row.value), row.status);
        EXPECT_EQ(Read(row.name), row.text);
        DWORD type = 0;
        const std::string stored = Query(reg, key, row.name, &type);
        if (row.bytes) {
            EXPECT_EQ(stored, *row.bytes);
        }
        EXPECT_EQ(type, row.bytes == "<status 2>" ? 0 : row.type);
    }
    // By path: a key that is not there is not made, and no handle is left open.
    WriteRegistryValue(reg, HKEY_CURRENT_USER, "Software\\W\\Missing", "x", std::int64_t{1}, REG_DWORD);
    EXPECT_TRUE(SubkeyNames(reg, key).empty());
    EXPECT_EQ(reg.OpenHandleCount(), 1u);
    WriteRegistryValue(reg, HKEY_CURRENT_USER, "software\\w\\", "x", std::int64_t{7}, REG_DWORD);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, "Software\\W", "x"), "7");
}

// Stored by someone else: text without a terminator or with one inside, other types.
TEST_F(Wrappers, WhatOthersStoredReadsToTheFirstZeroOrAsTheEmptyText) {
    const unsigned char raw[] = {'a', 'b', 'c', 'd'};
    ASSERT_EQ(reg.RegSetValueExA(key, "raw", 0, REG_SZ, raw, 3), 0);  // raw[3] != 0: no terminator
    ASSERT_EQ(SetBytes(reg, key, "mid", REG_SZ, std::string("ab\0cd", 5)), 0);
    ASSERT_EQ(SetBytes(reg, key, "expand", REG_EXPAND_SZ, "%TEMP%"), 0);
    EXPECT_EQ(Read("raw") + "|" + Read("mid") + "|" + Read("expand") + "|" + Read("missing"), "abc|ab||");
    EXPECT_EQ(ReadKeyValueText(reg, 0, "x"), "");
    EXPECT_NE(WriteKeyValue(reg, 0, "x", REG_DWORD, std::int64_t{1}), 0);
}

}  // namespace
}  // namespace moatgate

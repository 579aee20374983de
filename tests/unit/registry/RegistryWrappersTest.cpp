// The value wrappers of module Registry.
#include <gtest/gtest.h>

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

TEST_F(Wrappers, WriteRegistryValueNeverCreatesAKey) {
    reg.GetHive().ClearChanged();
    WriteRegistryValue(reg, HKEY_CURRENT_USER, "Software\\W\\Missing", "x", std::int64_t{1}, 4);
    WriteRegistryValue(reg, HKEY_CURRENT_USER, "Software\\Nowhere", "x", std::string("t"), 1);
    EXPECT_FALSE(reg.GetHive().Changed());
    HKEY k = 0;
    EXPECT_NE(reg.RegOpenKeyA(HKEY_CURRENT_USER, "Software\\W\\Missing", &k), 0);
    EXPECT_EQ(reg.OpenHandleCount(), 1u);  // only the fixture's own handle: nothing leaked

    WriteRegistryValue(reg, HKEY_CURRENT_USER, "software\\w\\", "x", std::int64_t{7}, 4);
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, "Software\\W", "x"), "7");
}

TEST_F(Wrappers, TextIsStoredWithoutTerminatorAndReadToTheFirstZero) {
    EXPECT_EQ(WriteKeyValue(reg, key, "empty", REG_SZ, std::string()), 0);
    DWORD type = 0;
    EXPECT_EQ(Query(reg, key, "empty", &type), "");
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(Read("empty"), "");

    EXPECT_EQ(WriteKeyValue(reg, key, "Exec", REG_SZ, std::string("C:\\Moat\\Moatgate.exe")), 0);
    EXPECT_EQ(Read("Exec"), "C:\\Moat\\Moatgate.exe");
    EXPECT_EQ(WriteKeyValue(reg, key, "num", REG_SZ, std::int64_t{42}), 0);
    EXPECT_EQ(Read("num"), "42");
    // Stored by someone else without a terminator, or with one in the middle.
    const unsigned char raw[] = {'a', 'b', 'c', 'd'};
    ASSERT_EQ(reg.RegSetValueExA(key, "raw", 0, REG_SZ, raw, 3), 0);  // raw[3] != 0: no terminator
    EXPECT_EQ(Read("raw"), "abc");
    ASSERT_EQ(reg.RegSetValueExA(key, "mid", 0, REG_SZ, reinterpret_cast<const unsigned char*>("ab\0cd"), 5), 0);
    EXPECT_EQ(Read("mid"), "ab");
}

TEST_F(Wrappers, DwordsReadAsUnsignedDecimal) {
    EXPECT_EQ(WriteKeyValue(reg, key, "a", REG_DWORD, std::int64_t{0x8000}), 0);
    EXPECT_EQ(Read("a"), "32768");
    EXPECT_EQ(WriteKeyValue(reg, key, "b", REG_DWORD, std::int64_t{-1}), 0);
    EXPECT_EQ(Read("b"), "4294967295");
    EXPECT_EQ(Query(reg, key, "b"), std::string("\xff\xff\xff\xff", 4));
    EXPECT_EQ(WriteKeyValue(reg, key, "c", REG_DWORD, std::string("65536")), 0);
    EXPECT_EQ(Read("c"), "65536");
    EXPECT_EQ(Query(reg, key, "c"), std::string("\0\0\1\0", 4));
    EXPECT_EQ(WriteKeyValue(reg, key, "d", REG_DWORD, std::int64_t{4294967295}), 0);
    EXPECT_EQ(Read("d"), "4294967295");

    // What is no 32-bit number is not written at all.
    EXPECT_EQ(WriteKeyValue(reg, key, "e", REG_DWORD, std::string("twelve")), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WriteKeyValue(reg, key, "e", REG_DWORD, std::int64_t{1} << 32), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Query(reg, key, "e"), "<status 2>");
}

TEST_F(Wrappers, BinaryReadsAsTheSigned16BitNumberOfItsFirstTwoBytes) {
    EXPECT_EQ(WriteKeyValue(reg, key, "1C00", REG_BINARY, std::string("\0\0\1\0", 4)), 0);
    EXPECT_EQ(Query(reg, key, "1C00"), std::string("\0\0\1\0", 4));
    EXPECT_EQ(Read("1C00"), "0");
    EXPECT_EQ(WriteKeyValue(reg, key, "five", REG_BINARY, std::string("\5\0", 2)), 0);
    EXPECT_EQ(Read("five"), "5");
    EXPECT_EQ(WriteKeyValue(reg, key, "one", REG_BINARY, std::string("\xff", 1)), 0);
    EXPECT_EQ(Read("one"), "255");
    EXPECT_EQ(WriteKeyValue(reg, key, "neg", REG_BINARY, std::string("\xff\xff\x01", 3)), 0);
    EXPECT_EQ(Read("neg"), "-1");
    EXPECT_EQ(WriteKeyValue(reg, key, "none", REG_BINARY, std::string()), 0);
    EXPECT_EQ(Read("none"), "");
}

TEST_F(Wrappers, OtherTypesAndFailuresGiveTheEmptyText) {
    EXPECT_EQ(WriteKeyValue(reg, key, "multi", REG_MULTI_SZ, std::string("a")), 0);
    EXPECT_EQ(Query(reg, key, "multi"), "<status 2>");  // other types write nothing
    ASSERT_EQ(SetBytes(reg, key, "expand", REG_EXPAND_SZ, "%TEMP%"), 0);
    ASSERT_EQ(reg.RegSetValueExA(key, "multi", 0, REG_MULTI_SZ, reinterpret_cast<const unsigned char*>("a\0b\0"), 5),
              0);
    EXPECT_EQ(Read("expand"), "");
    EXPECT_EQ(Read("multi"), "");
    EXPECT_EQ(Read("missing"), "");
    EXPECT_EQ(ReadRegistryValueText(reg, HKEY_CURRENT_USER, "Software\\Nowhere", "x"), "");
    EXPECT_EQ(ReadKeyValueText(reg, 0, "x"), "");
    EXPECT_NE(WriteKeyValue(reg, 0, "x", REG_DWORD, std::int64_t{1}), 0);
}

}  // namespace
}  // namespace moatgate

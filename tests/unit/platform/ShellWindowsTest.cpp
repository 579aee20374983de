// The shell's open windows, asked for real (under Wine in CI).
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include "platform/Browsers.h"

namespace moatgate {
namespace {

// No window need be open for this: each address is taken whole, to its last
// character, beyond ASCII and the basic plane too.
TEST(ShellWindows, AnAddressIsTakenWholeAsUtf8) {
    const struct {
        const wchar_t* shown;
        std::string utf8;
    } rows[] = {
        {L"http://a.test/", "http://a.test/"},
        {L"https://b\u00fccher.test/\u4e2d?\U0001F600", "https://b\xc3\xbc" "cher.test/\xe4\xb8\xad?\xf0\x9f\x98\x80"},
    };
    for (const auto& row : rows) {
        BSTR text = ::SysAllocString(row.shown);
        EXPECT_EQ(ShellAddressText(text), row.utf8);
        ::SysFreeString(text);
    }
}

}  // namespace
}  // namespace moatgate

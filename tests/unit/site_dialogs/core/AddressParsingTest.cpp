// Testing and splitting the address typed into the address box.
#include <gtest/gtest.h>

#include "site_dialogs/core/AddressParsing.h"

namespace moatgate {
namespace {

AddressVerdict VerdictOf(const std::string& typed) { return CheckAndSplitAddress(typed).verdict; }

TEST(AddressSplit, HostsAreSplitIntoDomainAndSubdomains) {
    const struct {
        std::string typed, split;  // the address box | the domain | the generalised | the exact subdomain
    } rows[] = {
        {"ftp://aa.bb.cc/x/y", "ftp://aa.bb.cc|bb.cc|*|aa"},
        {"aa.bb.cc.dd", "aa.bb.cc.dd|cc.dd|*.bb|aa.bb"},
        {"https://w.x.y.z.example.org/", "https://w.x.y.z.example.org|example.org|*.x.y.z|w.x.y.z"},
        {"aa_x.bb.cc", "aa_x.bb.cc|bb.cc|*|aa_x"},  // the first label is not tested
        {"aa..bb.cc", "aa..bb.cc|bb.cc|*|aa."},     // a doubled "." after the first label is absorbed
        {"http://aa.bb.cc/x//y.z.w", "http://aa.bb.cc|bb.cc|*|aa"},  // a "//" in the path does not move the cut
        {"bank.example", "bank.example|bank.example||"},  // two labels: listed on the domain key
        {"ftp://999.1.2.3/", "ftp://999.1.2.3|2.3|*.1|999.1"},  // 999 is no IP address part
    };
    for (const auto& row : rows) {
        const AddressCheck c = CheckAndSplitAddress(row.typed);
        EXPECT_EQ(c.verdict, AddressVerdict::Accepted) << row.typed;
        EXPECT_EQ(c.addressBox + "|" + c.domain + "|" + c.generalised + "|" + c.exact, row.split) << row.typed;
    }
}

TEST(AddressSplit, RefusedAddresses) {
    for (const char* s : {"", "a.bcd", "http:", "ab.cd"}) EXPECT_EQ(VerdictOf(s), AddressVerdict::TooShort) << s;
    EXPECT_EQ(VerdictOf("ab.cde"), AddressVerdict::Accepted);  // six characters are enough
    EXPECT_EQ(VerdictOf("é.bcd"), AddressVerdict::TooShort);  // characters, not bytes

    // The tested part may hold no port, no "_", no doubled or trailing "." or "-"; a
    // two-label host's first label is tested with it. The first label becomes a
    // key's name: no separator, no control character.
    for (const std::string typed : {"aa.bb.cc:81", "aa.b_b.cc", "aa.bb..cc", "aa.bb.cc-", "aa.bb.cc.", "aa.b-.cc",
                                    "aa.bé.cc", "aa.bb.c c", "aa.bb@cc.dd", "http://intranet/", "localhost",
                                    "http:///aa.bb.cc", "b_nk.example", "a\\b.bb.cc", "a\\..\\x.bb.cc", "a\tb.bb.cc",
                                    "a\x7f.bb.cc"})
        EXPECT_EQ(VerdictOf(typed), AddressVerdict::Corrupted) << typed;
    EXPECT_EQ(CheckAndSplitAddress("http://aa.bb.cc:81/x").addressBox, "http://aa.bb.cc:81");  // trimmed
}

TEST(AddressSplit, AddressesOnAnIpAddressAreFraud) {
    AddressCheck c = CheckAndSplitAddress("ftp://10.1.2.3/x");
    EXPECT_EQ(c.verdict, AddressVerdict::IpAddress);
    EXPECT_EQ(c.matchedIp, "10.1.2.3");
    EXPECT_EQ(c.addressBox, "ftp://10.1.2.3/x");  // left as typed
    EXPECT_EQ(FraudAlertText(c.matchedIp, "ftp://10.1.2.3/x"),
              "Trustworthy sites or institutions do NOT use IP addresses to host websites without specifying a "
              "domain - this is a counterfeit site and will not be registered. Please contact your bank, escrow, "
              "or account provider; and the Federal Police in your country and report the use of this IP Address: "
              "10.1.2.3 in this link: ftp://10.1.2.3/x");
}

TEST(IpAddress, FourSmallRunsFollowedByANonDigitOrTheEnd) {
    const struct {
        std::string text, found;  // found: "" when there is none
    } rows[] = {
        {"1.2.3.4", "1.2.3.4"}, {"aa.10.0.0.1.bb", "10.0.0.1"}, {"http://255.255.255.255:8080/", "255.255.255.255"},
        {"x.256.1.2.3.4/", "1.2.3.4"},  // the run restarts after 256
        {"1.2.3.256", ""}, {"1.2.3./", ""}, {"1..2.3.4", ""},
        // Digit runs of any length never overflow into a small number.
        {"1.2.3." + std::string(40, '9') + "/", ""}, {"1.2.3.18446744073709551617", ""},
    };
    for (const auto& row : rows) {
        std::string m = "left over";
        EXPECT_EQ(ContainsIpAddress(row.text, m), !row.found.empty()) << row.text;
        EXPECT_EQ(m, row.found) << row.text;
    }
}

TEST(DomainText, OnlyLettersDigitsDotsAndDashes) {
    for (const std::string good : {"", "Bb-1.CC", "a-b.c-d"}) EXPECT_TRUE(IsValidDomainText(good)) << good;
    for (const std::string bad : {".bb", "-bb", "bb.", "bb-", "b-.c", "b._c", "b/c", "b..c", "b:c", "b_c", "b c",
                                  "b@c", "b[c", "b`c", "b{c", "b,c", "bé"})
        EXPECT_FALSE(IsValidDomainText(bad)) << bad;
}

}  // namespace
}  // namespace moatgate

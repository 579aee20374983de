// Testing and splitting the address typed into the address box.
#include <gtest/gtest.h>

#include <random>

#include "site_dialogs/core/AddressParsing.h"

namespace moatgate {
namespace {

struct Split {
    std::string box, domain, generalised, exact;
    auto operator<=>(const Split&) const = default;
};

Split Accepted(const std::string& typed) {
    const AddressCheck c = CheckAndSplitAddress(typed);
    EXPECT_EQ(c.verdict, AddressVerdict::Accepted) << typed;
    return {c.addressBox, c.domain, c.generalised, c.exact};
}

void ExpectSplit(const std::string& typed, const Split& expected) {
    const Split got = Accepted(typed);
    EXPECT_EQ(got, expected) << typed << ": " << got.box << " | " << got.domain << " | " << got.generalised << " | "
                             << got.exact;
}

AddressVerdict VerdictOf(const std::string& typed) { return CheckAndSplitAddress(typed).verdict; }

TEST(AddressSplit, HostsAreSplitIntoDomainAndSubdomains) {
    ExpectSplit("ftp://aa.bb.cc/x/y", {"ftp://aa.bb.cc", "bb.cc", "*", "aa"});
    ExpectSplit("aa.bb.cc", {"aa.bb.cc", "bb.cc", "*", "aa"});
    ExpectSplit("ftp://aa.bb.cc.dd/x", {"ftp://aa.bb.cc.dd", "cc.dd", "*.bb", "aa.bb"});
    ExpectSplit("aa.bb.co.uk", {"aa.bb.co.uk", "co.uk", "*.bb", "aa.bb"});
    ExpectSplit("https://w.x.y.z.example.org/", {"https://w.x.y.z.example.org", "example.org", "*.x.y.z", "w.x.y.z"});
    // The first label is not tested, and case stays as typed.
    ExpectSplit("aa_x.bb.cc", {"aa_x.bb.cc", "bb.cc", "*", "aa_x"});
    ExpectSplit("AA.Bb.CC", {"AA.Bb.CC", "Bb.CC", "*", "AA"});
    // A doubled "." right after the first label is absorbed.
    ExpectSplit("aa..bb.cc", {"aa..bb.cc", "bb.cc", "*", "aa."});
    // A double slash in the path does not move the cut.
    ExpectSplit("aa.bb.cc/path//more", {"aa.bb.cc", "bb.cc", "*", "aa"});
    ExpectSplit("http://aa.bb.cc/x//y.z.w", {"http://aa.bb.cc", "bb.cc", "*", "aa"});
    // A two-label host is listed on its domain key.
    ExpectSplit("bank.example", {"bank.example", "bank.example", "", ""});
    ExpectSplit("https://bb.cc/login", {"https://bb.cc", "bb.cc", "", ""});
    // The same host with and without a scheme: the same names.
    EXPECT_EQ(Accepted("http://www.bank.example/login").domain, Accepted("www.bank.example").domain);
    EXPECT_EQ(Accepted("http://www.bank.example/login").exact, Accepted("www.bank.example/x").exact);
}

TEST(AddressSplit, RefusedAddresses) {
    for (const std::string typed : {"", "a.bcd", "http:", "ab.cd"}) {
        const AddressCheck c = CheckAndSplitAddress(typed);
        EXPECT_EQ(c.verdict, AddressVerdict::TooShort) << typed;
        EXPECT_EQ(c.addressBox, typed);
    }
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
    EXPECT_EQ(VerdictOf("ftp://999.1.2.3/"), AddressVerdict::Accepted);  // 999 is no address part
    EXPECT_EQ(Accepted("ftp://999.1.2.3/").domain, "2.3");
}

TEST(IpAddress, FourSmallRunsFollowedByANonDigitOrTheEnd) {
    const struct {
        std::string text, found;  // found: "" when there is none
    } rows[] = {
        {"1.2.3.4", "1.2.3.4"}, {"aa.10.0.0.1.bb", "10.0.0.1"}, {"http://255.255.255.255:8080/", "255.255.255.255"},
        {"x.256.1.2.3.4/", "1.2.3.4"},  // the run restarts after 256
        {"007.000.01.1", "007.000.01.1"},  // leading zeros allowed
        {"1.2.3.256", ""}, {"1.2.3", ""}, {"1.2.3./", ""}, {"1..2.3.4", ""},
        // Digit runs of any length never overflow into a small number.
        {"1.2.3." + std::string(40, '9') + "/", ""}, {"1.2.3.18446744073709551617", ""},
    };
    for (const auto& row : rows) {
        std::string m = "left over";
        EXPECT_EQ(ContainsIpAddress(row.text, m), !row.found.empty()) << row.text;
        EXPECT_EQ(m, row.found) << row.text;
    }
    // A second test shows only what it found itself.
    std::string m;
    EXPECT_TRUE(ContainsIpAddress("1.1.1.1", m));
    EXPECT_TRUE(ContainsIpAddress("http://9.8.7.6/", m));
    EXPECT_EQ(m, "9.8.7.6");
}

TEST(DomainText, OnlyLettersDigitsDotsAndDashes) {
    EXPECT_TRUE(IsValidDomainText(""));
    EXPECT_TRUE(IsValidDomainText("bb.cc"));
    EXPECT_TRUE(IsValidDomainText("Bb-1.CC"));
    EXPECT_TRUE(IsValidDomainText("a-b.c-d"));
    for (const std::string bad : {".bb", "-bb", "bb.", "bb-", "b-.c", "b._c", "b/c", "b..c", "b:c", "b_c", "b c",
                                  "b@c", "b[c", "b`c", "b{c", "b,c", "bé"})
        EXPECT_FALSE(IsValidDomainText(bad)) << bad;
}

// Whatever is typed, an accepted address names keys only below its own domain key.
TEST(AddressSplit, NoAcceptedAddressReachesOutsideItsSiteKey) {
    const std::string hostile = "ab.-_/\\:*09\t\x01 \x7f\xc3\xa9@[]%";
    const std::string fair = "abc-0.";
    std::mt19937 random(20261206);
    auto pick = [&](const std::string& from, int length) {
        std::string out;
        for (int k = 0; k < length; ++k) out += from[random() % from.size()];
        return out;
    };
    std::size_t accepted = 0;
    for (int i = 0; i < 30000; ++i) {
        std::string typed = i % 3 ? "" : "http://";
        typed += pick(hostile, 1 + static_cast<int>(random() % 6));  // the first label, untested by the grammar
        for (int label = 0, labels = 1 + static_cast<int>(random() % 4); label < labels; ++label) {
            typed += '.';
            typed += pick(random() % 8 ? fair : hostile, 1 + static_cast<int>(random() % 5));
        }
        if (random() % 2) {
            typed += '/';
            typed += pick(hostile, static_cast<int>(random() % 6));
        }
        const AddressCheck c = CheckAndSplitAddress(typed);
        if (c.verdict != AddressVerdict::Accepted) continue;
        ++accepted;
        ASSERT_FALSE(c.domain.empty()) << typed;
        for (const std::string& name : {c.domain, c.generalised, c.exact})
            for (const char ch : name)
                ASSERT_TRUE(ch != '\\' && static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F) << typed;
    }
    EXPECT_GT(accepted, 1000u);  // the property was put to the test
}

}  // namespace
}  // namespace moatgate

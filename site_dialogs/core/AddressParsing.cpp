#include "site_dialogs/core/AddressParsing.h"

#include <cstddef>

namespace moatgate {

namespace {

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t n = 0;
    for (const char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

// The digit run's value, kept from growing past what the test needs to know.
struct Run {
    std::string digits;
    unsigned value = 0;  // saturates at 256
    void Add(char c) {
        digits += c;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 256) value = 256;
    }
    bool Small() const { return !digits.empty() && value < 256; }
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Scans from the end and stops at the second "." met: the number of characters
// from that "." to the end, the "." included; with fewer than two, the number met.
std::size_t DomainTail(std::string_view s) {
    std::size_t dots = 0;
    for (std::size_t i = s.size(); i-- > 0;) {
        if (s[i] == '.' && ++dots == 2) return s.size() - i;
    }
    return dots;
}

// A name may go into a key path only without separators and control characters.
bool SafeForKeyName(std::string_view s) {
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

}  // namespace

std::string FraudAlertText(std::string_view matchedIp, std::string_view typed) {
    std::string text =
        "Trustworthy sites or institutions do NOT use IP addresses to host websites without specifying a domain - "
        "this is a counterfeit site and will not be registered. Please contact your bank, escrow, or account "
        "provider; and the Federal Police in your country and report the use of this IP Address: ";
    text += matchedIp;
    text += " in this link: ";
    text += typed;
    return text;
}

bool ContainsIpAddress(std::string_view text, std::string& matched) {
    Run runs[4];
    std::size_t k = 0;
    matched.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            runs[k].Add(c);
            matched += c;
            if (i + 1 == text.size() && k == 3 && runs[3].Small()) return true;
            continue;
        }
        if (runs[3].Small()) return true;
        if (c == '.' && runs[k].Small() && k < 3) {
            ++k;
            matched += '.';
            continue;
        }
        for (Run& r : runs) r = Run{};
        k = 0;
        matched.clear();
    }
    matched.clear();
    return false;
}

bool IsValidDomainText(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (lower.empty()) return true;
    const char first = lower.front();
    const char last = lower.back();
    if (first == '.' || first == '-' || last == '.' || last == '-') return false;
    for (const std::string_view bad : {"-.", "._", "/", ".."})
        if (lower.find(bad) != std::string::npos) return false;
    for (const char c : lower) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 45 || u > 122 || (u >= 58 && u <= 96)) return false;
    }
    return true;
}

AddressCheck CheckAndSplitAddress(std::string_view typed) {
    AddressCheck check;
    check.addressBox = std::string(typed);
    if (CharacterCount(typed) < 6) return check;
    if (ContainsIpAddress(typed, check.matchedIp)) {
        check.verdict = AddressVerdict::IpAddress;
        return check;
    }

    std::string a(typed);
    if (a.back() != '/') a += '/';
    // Scheme and path: "//" counts only where it comes before any single "/", so a
    // path that holds "//" does not move the cut.
    std::string host;
    const std::size_t slash = a.find('/');
    if (a.compare(slash, 2, "//") == 0) {
        const std::size_t p = slash + 2;
        const std::size_t q = a.find('/', p);
        check.addressBox = a.substr(0, q);
        host = a.substr(p, q - p);
    } else {
        check.addressBox = a.substr(0, slash);
        host = "." + check.addressBox;
    }

    check.verdict = AddressVerdict::Corrupted;
    if (!host.empty() && host.front() == '.') host.erase(0, 1);
    const std::size_t firstDot = host.find('.');
    const std::string rest = firstDot == std::string::npos ? host : host.substr(firstDot + 1);
    const std::string wildcard = (!rest.empty() && rest.front() == '.' ? "*" : "*.") + rest;
    if (!IsValidDomainText(std::string_view(wildcard).substr(2))) return check;
    // The first label is no part of the test above, but it becomes a key's name.
    if (!SafeForKeyName(host)) return check;
    // A single name has no domain to list it under.
    if (firstDot == std::string::npos) return check;

    if (host.find('.', firstDot + 1) == std::string::npos) {
        // Two labels: the host is its own domain, listed on the domain key itself.
        if (!IsValidDomainText(host)) return check;
        check.domain = host;
    } else {
        const std::size_t n = DomainTail(wildcard);
        check.generalised = wildcard.substr(0, wildcard.size() - n);
        check.domain = wildcard.substr(wildcard.size() - n + 1);
        check.exact = host.substr(0, host.size() - DomainTail(host));
    }
    if (check.domain.empty()) return check;
    check.verdict = AddressVerdict::Accepted;
    return check;
}

}  // namespace moatgate

// The address grammar: an address typed into the address box is tested and split
// into the names under which the zone map keeps a site, or refused.
#pragma once

#include <string>
#include <string_view>

namespace moatgate {

enum class AddressVerdict {
    Accepted,
    TooShort,   // refused without a word
    IpAddress,  // "Fraud Alert"
    Corrupted,  // "Corrupted URL"
};

struct AddressCheck {
    AddressVerdict verdict = AddressVerdict::TooShort;
    // What the address box holds afterwards: as typed when refused before it is
    // trimmed, else scheme and host without the path.
    std::string addressBox;
    std::string matchedIp;    // the dotted address found, for the Fraud Alert
    std::string domain;       // the domain key's name: the host's last two labels
    std::string generalised;  // "*" for the host's first label, then the labels up to the domain
    std::string exact;        // every label before the domain, as typed
};

inline constexpr std::string_view kRejectionMarker = "Kill Me";
inline constexpr std::string_view kFraudAlertTitle = "Fraud Alert";
inline constexpr std::string_view kCorruptedUrlTitle = "Corrupted URL";
inline constexpr std::string_view kCorruptedUrlText =
    "The URL you have entered is incorrect and may corrupt the registry if trusted. Please re-enter the URL with "
    "the correct format";
// The Fraud Alert names the dotted address found and the address as typed.
std::string FraudAlertText(std::string_view matchedIp, std::string_view typed);

// Tests and splits the address (UTF-8). An accepted address always gives a
// non-empty domain, and names that hold no "\" or control character, so that
// its keys stay below the site's own domain key.
AddressCheck CheckAndSplitAddress(std::string_view typed);

// True when four dot-separated digit runs, each below 256, stand together and
// the fourth is followed by a character that is not a digit, or by the end.
bool ContainsIpAddress(std::string_view text, std::string& matched);

// True when the text (compared in lower case) holds only "-", ".", digits and
// letters, does not begin or end with "." or "-", and holds none of "-.", "._",
// "/" and "..". The empty text passes.
bool IsValidDomainText(std::string_view text);

}  // namespace moatgate

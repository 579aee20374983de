// The scripting privilege report: its text, composed from the site list's rows,
// and the character formats its formatting passes set, in the order they set them.
// Text positions count UTF-16 units, as the rich-text document that prints the
// report counts characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/SiteList.h"

namespace moatgate {

struct ReportColour {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const ReportColour&) const = default;
};

// One range and the attributes set on it. An attribute left empty keeps what an
// earlier range (or the document's default format) gave those characters.
struct ReportFormat {
    std::size_t start = 0;
    std::size_t length = 0;
    std::optional<std::string_view> font;  // one of the report's own font names
    std::optional<int> pointSize;
    std::optional<bool> bold;
    std::optional<ReportColour> colour;
    bool operator==(const ReportFormat&) const = default;
};

inline constexpr std::u16string_view kReportTitle = u"Moatgate Scripting Privilege Report.";
// The column header as the report has always spelt it, 33 spaces included.
inline constexpr std::u16string_view kReportHeader =
    u"Priviledge\t\t\tSite...                                 ";

inline constexpr ReportColour kReportBlue{0, 0, 255};
inline constexpr ReportColour kReportBlack{0, 0, 0};

struct ZoneLabel {
    int zone;
    std::u16string_view text;
    ReportColour colour;
};
// The zones that get a label in the report, in the order their passes run.
inline constexpr ZoneLabel kZoneLabels[] = {
    {2, u"[TRUSTED]", {0, 192, 0}},
    {3, u"{LISTED}", {255, 128, 0}},
    {4, u"RESTRICTED", {255, 0, 0}},
};

// The report's text for these rows, in the order given (the list's order).
std::u16string ComposeReport(const std::vector<SiteRow>& rows);

// The formats the report's passes set on `text`, in order: later ranges win where
// they overlap. `eachMatch` runs once per match of the search passes, so that a
// window can let its events run while a long report is formatted; it must not
// change `text`. Every pass reads the text once.
std::vector<ReportFormat> FormatReport(std::u16string_view text, const std::function<void()>& eachMatch);

}  // namespace moatgate

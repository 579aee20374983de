#include "main_window/core/Report.h"

#include <algorithm>

#include "registry/store/Unicode.h"

namespace moatgate {

namespace {

constexpr std::size_t npos = std::u16string_view::npos;
// The black range of an address starts this many characters before its "//".
constexpr std::size_t kPrefixLead = 6;

void AppendUtf8(std::u16string& out, const std::string& utf8) {
    // Site names are nearly always plain ASCII: copy those without a conversion.
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        out.append(utf8.begin(), utf8.end());
        return;
    }
    out += Utf8ToUtf16Lenient(utf8);
}

// The searches ignore letter case: they run over a folded copy, which has the
// same length, so its positions are the text's positions.
std::u16string Folded(std::u16string_view text) {
    std::u16string folded(text.size(), u'\0');
    std::transform(text.begin(), text.end(), folded.begin(), FoldCase);
    return folded;
}

}  // namespace

std::u16string ComposeReport(const std::vector<SiteRow>& rows) {
    std::u16string text;
    std::size_t size = 120;
    for (const SiteRow& row : rows) size += 20 + row.text.size() + row.subdomain.size() + row.domain.size();
    text.reserve(size);

    text += u"\n\n\n\n\t";
    text += kReportTitle;
    text += u"\n\n\t\t";
    text += kReportHeader;
    text += u'\n';
    for (const SiteRow& row : rows) {
        for (const ZoneLabel& label : kZoneLabels) {
            if (label.zone != row.icon) continue;
            text += u"\t\t";
            text += label.text;
        }
        text += u"\t\t\t";
        if (row.text == "Default")
            text += u'*';
        else
            AppendUtf8(text, row.text);
        text += u"://";
        if (row.subdomain.empty()) {
            text += u"*.";
        } else {
            AppendUtf8(text, row.subdomain);
            text += u'.';
        }
        AppendUtf8(text, row.domain);
        text += u'\n';
    }
    return text;
}

std::vector<ReportFormat> FormatReport(std::u16string_view text, const std::function<void()>& eachMatch) {
    std::vector<ReportFormat> formats;
    // About two ranges for a row of some forty characters.
    formats.reserve(3 + text.size() / 16);
    const std::u16string folded = Folded(text);
    const std::size_t n = text.size();

    // The landmarks. Composed text always has them; any other text gets no
    // formats rather than a range read from a failed search.
    const std::size_t title = folded.find(Folded(kReportTitle), 1);
    if (title == npos) return formats;
    const std::size_t header = folded.find(Folded(kReportHeader), title + kReportTitle.size() + 1);
    if (header == npos) return formats;
    const std::size_t body = text.find(u'\n', header + 1);
    if (body == npos) return formats;

    formats.push_back({title, kReportTitle.size(), "Arial", 14, true, {}});
    formats.push_back({header, body - header, "Arial", 10, true, {}});
    formats.push_back({body, n - body, "Courier New", 10, false, kReportBlue});

    // Each address in black from a little before its "//" to the first "." after
    // that start, so that the domain after the host's first dot stays blue.
    const std::size_t lastDot = text.rfind(u'.');
    for (std::size_t from = 0;;) {
        const std::size_t slashes = text.find(u"//", from);
        if (slashes == npos) break;
        eachMatch();
        const std::size_t start = slashes >= kPrefixLead ? slashes - kPrefixLead : 0;
        if (lastDot == npos || lastDot < start) {
            // No "." anywhere after it: leave this one uncoloured and go on.
            from = slashes + 2;
            continue;
        }
        const std::size_t end = text.find(u'.', start) + 1;
        formats.push_back({start, end - start, {}, {}, {}, kReportBlack});
        // A "." before the "//" (in the protocol's name) would start the next
        // search before this "//" again, for ever: always move past it.
        from = std::max(end, slashes + 2);
    }

    // Every label's letters, wherever they occur in the report, in any case.
    for (const ZoneLabel& label : kZoneLabels) {
        const std::u16string needle = Folded(label.text);
        for (std::size_t from = 0;;) {
            const std::size_t match = folded.find(needle, from);
            if (match == npos) break;
            eachMatch();
            formats.push_back({match, needle.size(), {}, {}, true, label.colour});
            from = match + needle.size();
        }
    }
    return formats;
}

}  // namespace moatgate

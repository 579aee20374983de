// The report's text, the colours and fonts its passes leave on each character,
// and the passes ending whatever the names hold.
#include <gtest/gtest.h>

#include <stdexcept>

#include "main_window/core/Report.h"

namespace moatgate {
namespace {

SiteRow Row(int icon, std::string text, std::string subdomain, std::string domain) {
    return {std::move(text), std::move(subdomain), std::move(domain), icon};
}

// The passes' matches in `text`, each range set within it; fails instead of
// hanging when a pass does not end.
int Matches(std::u16string_view text) {
    int count = 0;
    const auto formats = FormatReport(text, [&] {
        if (++count > 10000) throw std::runtime_error("a formatting pass does not end");
    });
    for (const ReportFormat& f : formats) EXPECT_LE(f.start + f.length, text.size());
    return count;
}

// Each character of `part` (found in `text`) once every range is applied in order:
// 'k' black, 'b' blue, 'g' green, 'o' orange, 'r' red, '-' none; upper case where bold.
std::string Colours(const std::u16string& text, std::u16string_view part) {
    std::vector<ReportFormat> looks(text.size());
    for (const ReportFormat& f : FormatReport(text, [] {}))
        for (std::size_t i = f.start; i < f.start + f.length && i < text.size(); ++i) {
            if (f.bold) looks[i].bold = f.bold;
            if (f.colour) looks[i].colour = f.colour;
        }
    const std::size_t at = text.find(part);
    if (at == std::u16string::npos) return "not found";
    std::string out;
    for (std::size_t i = at; i < at + part.size(); ++i) {
        const auto c = looks[i].colour.value_or(ReportColour{1, 1, 1});
        char k = c == ReportColour{0, 0, 0} ? 'k' : c == ReportColour{0, 0, 255} ? 'b' : c == ReportColour{0, 192, 0} ? 'g'
               : c == ReportColour{255, 128, 0} ? 'o' : c == ReportColour{255, 0, 0} ? 'r' : '-';
        out += looks[i].bold.value_or(false) ? static_cast<char>(k - 'a' + 'A') : k;
    }
    return out;
}

const std::u16string kHead = u"\n\n\n\n\tMoatgate Scripting Privilege Report.\n\n\t\tPriviledge\t\t\tSite..." +
                             std::u16string(33, u' ') + u"\n";

TEST(Report, EveryZoneLabelAndNone) {
    EXPECT_EQ(ComposeReport({}), kHead);
    const std::u16string text = ComposeReport({Row(2, "Default", "", "trusted.test"),
                                               Row(3, "http", "www", "listed.test"),
                                               Row(4, "https", "", "b\xC3\xBC" "cher.test"),
                                               Row(0, "ftp", "", "zero.test"),
                                               Row(1, "default", "", "one.test"),  // only "Default" is every protocol
                                               Row(77, "Default", "www", "odd.test")});
    EXPECT_EQ(text, kHead + u"\t\t[TRUSTED]\t\t\t*://*.trusted.test\n"
                            u"\t\t{LISTED}\t\t\thttp://www.listed.test\n"
                            u"\t\tRESTRICTED\t\t\thttps://*.b\u00FCcher.test\n"
                            u"\t\t\tftp://*.zero.test\n"
                            u"\t\t\tdefault://*.one.test\n"
                            u"\t\t\t*://www.odd.test\n");
    EXPECT_EQ(Matches(text), 6 + 3);  // one "//" a row, one label a labelled row

    // Title and header bold Arial, the body Courier New in blue; labels bold in
    // their colours; the protocol up to the host's first "." black, reaching 6
    // characters back into the tabs, which the label pass colours again.
    const auto formats = FormatReport(text, [] {});
    ASSERT_GE(formats.size(), 3u);
    EXPECT_EQ(formats[0], (ReportFormat{5, 36, "Arial", 14, true, {}}));
    EXPECT_EQ(formats[1], (ReportFormat{45, 53, "Arial", 10, true, {}}));
    EXPECT_EQ(formats[2], (ReportFormat{98, text.size() - 98, "Courier New", 10, false, ReportColour{0, 0, 255}}));
    EXPECT_EQ(Colours(text, u"\t\t[TRUSTED]\t\t\t*://*.trusted.test\n"), "bbGGGGGGGGGkkkkkkkkkbbbbbbbbbbbbb");
    EXPECT_EQ(Colours(text, u"\t\t{LISTED}\t\t\thttp://www.listed.test\n"), "bbOOOOOOOObbkkkkkkkkkkkkbbbbbbbbbbbb");
    EXPECT_EQ(Colours(text, u"\t\tRESTRICTED\t\t\thttps://*.b\u00FCcher.test\n"), "bbRRRRRRRRRRbbbkkkkkkkkkkbbbbbbbbbbbb");
    EXPECT_EQ(Colours(text, u"\t\t\tftp://*.zero.test\n"), "bkkkkkkkkkkbbbbbbbbbb");
    // A subdomain with a dot is black up to its first dot; label words anywhere are coloured as labels.
    const std::u16string names = ComposeReport({Row(0, "http", "a.b", "restrictedsite.com"), Row(0, "http", "[Trusted]", "x.test")});
    EXPECT_EQ(Colours(names, u"http://a.b.restrictedsite.com"), "kkkkkkkkkbbRRRRRRRRRRbbbbbbbb");
    EXPECT_EQ(Colours(names, u"http://[Trusted].x.test"), "kkkkkkkGGGGGGGGGkbbbbbb");
    // A "." in the protocol's name ends the black range there.
    EXPECT_EQ(Colours(ComposeReport({Row(0, "a.b", "", "x.test")}), u"\ta.b://*.x.test"), "kkkbbbbbbbbbbbb");
}

// A "//" with no "." after it, a "." in a protocol's name, a "//" after the
// host's first dot, label letters in a name, twice over: every pass moves on.
TEST(Report, PassesEndWhateverTheNamesHold) {
    EXPECT_EQ(Matches(ComposeReport({Row(0, "http", "", "a.test")}) + u"\t\t\tnews://nodot\n"), 2);
    EXPECT_EQ(Matches(ComposeReport({Row(0, "a.b", "", "x.test"), Row(0, "http", "", "a//b.test")})), 3);
    EXPECT_EQ(Matches(ComposeReport({Row(0, "http", "[Trusted]", "restrictedrestricted.test")})), 1 + 1 + 2);
}

}  // namespace
}  // namespace moatgate

// The report's text and the formats its passes set, checked character by character
// after the ranges are applied in order, as the document applies them.
#include <gtest/gtest.h>

#include <stdexcept>

#include "main_window/core/Report.h"

namespace moatgate {
namespace {

SiteRow Row(int icon, std::string text, std::string subdomain, std::string domain) {
    return {std::move(text), std::move(subdomain), std::move(domain), icon};
}

// What one character ends up with once every range is applied in order.
struct Look {
    std::optional<std::string_view> font;
    std::optional<int> pointSize;
    std::optional<bool> bold;
    std::optional<ReportColour> colour;
};

std::vector<Look> Apply(std::size_t length, const std::vector<ReportFormat>& formats) {
    std::vector<Look> looks(length);
    for (const ReportFormat& f : formats) {
        EXPECT_LE(f.start, length);
        EXPECT_LE(f.length, length - std::min(f.start, length));
        for (std::size_t i = f.start; i < f.start + f.length && i < length; ++i) {
            if (f.font) looks[i].font = f.font;
            if (f.pointSize) looks[i].pointSize = f.pointSize;
            if (f.bold) looks[i].bold = f.bold;
            if (f.colour) looks[i].colour = f.colour;
        }
    }
    return looks;
}

// Formats, failing the test instead of hanging when a pass does not end.
std::vector<ReportFormat> Format(std::u16string_view text, int* matches = nullptr) {
    int count = 0;
    auto formats = FormatReport(text, [&] {
        if (++count > 10000) throw std::runtime_error("a formatting pass does not end");
    });
    if (matches) *matches = count;
    return formats;
}

// The colour of each character of `part`, found in `text`: 'k' black, 'b' blue,
// 'g' green, 'o' orange, 'r' red, '-' none; upper case where bold.
std::string Colours(const std::u16string& text, const std::vector<Look>& looks, std::u16string_view part) {
    const std::size_t at = text.find(part);
    EXPECT_NE(at, std::u16string::npos);
    if (at == std::u16string::npos) return {};
    std::string out;
    for (std::size_t i = at; i < at + part.size(); ++i) {
        const Look& look = looks[i];
        char c = '-';
        if (look.colour == ReportColour{0, 0, 0}) c = 'k';
        if (look.colour == ReportColour{0, 0, 255}) c = 'b';
        if (look.colour == ReportColour{0, 192, 0}) c = 'g';
        if (look.colour == ReportColour{255, 128, 0}) c = 'o';
        if (look.colour == ReportColour{255, 0, 0}) c = 'r';
        if (look.bold.value_or(false)) c = static_cast<char>(c - 'a' + 'A');
        out += c;
    }
    return out;
}

const std::u16string kHead = u"\n\n\n\n\tMoatgate Scripting Privilege Report.\n\n\t\tPriviledge\t\t\tSite..." +
                             std::u16string(33, u' ') + u"\n";

TEST(Report, AnEmptyListHasTheTitleAndTheColumnHeaderOnly) {
    const std::u16string text = ComposeReport({});
    EXPECT_EQ(text, kHead);
    int matches = 0;
    const auto formats = Format(text, &matches);
    EXPECT_EQ(matches, 0);
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(formats[0], (ReportFormat{5, 36, "Arial", 14, true, {}}));
    EXPECT_EQ(formats[1], (ReportFormat{45, 53, "Arial", 10, true, {}}));
    EXPECT_EQ(formats[2], (ReportFormat{98, 1, "Courier New", 10, false, ReportColour{0, 0, 255}}));
    EXPECT_EQ(text.substr(45, 53), kReportHeader);
    EXPECT_EQ(text[98], u'\n');
}

TEST(Report, EveryZoneLabelAndNone) {
    const std::u16string text = ComposeReport({Row(2, "Default", "", "trusted.test"),
                                               Row(3, "http", "www", "listed.test"),
                                               Row(4, "https", "", "bad.test"),
                                               Row(0, "ftp", "", "zero.test"),
                                               Row(1, "http", "", "one.test"),
                                               Row(77, "http", "", "odd.test")});
    EXPECT_EQ(text, kHead + u"\t\t[TRUSTED]\t\t\t*://*.trusted.test\n"
                            u"\t\t{LISTED}\t\t\thttp://www.listed.test\n"
                            u"\t\tRESTRICTED\t\t\thttps://*.bad.test\n"
                            u"\t\t\tftp://*.zero.test\n"
                            u"\t\t\thttp://*.one.test\n"
                            u"\t\t\thttp://*.odd.test\n");
    int matches = 0;
    const auto looks = Apply(text.size(), Format(text, &matches));
    EXPECT_EQ(matches, 6 + 3);  // one "//" a row, one label a labelled row

    // Labels bold in their colours; the protocol, "://" and the host up to its
    // first "." black; the rest of the host blue. The black range reaches back 6
    // characters, into a short protocol's tabs and the label's end, which the
    // label pass colours again.
    EXPECT_EQ(Colours(text, looks, u"\t\t[TRUSTED]\t\t\t*://*.trusted.test\n"),
              "bb" "GGGGGGGGG" "kkkkkkkkk" "bbbbbbbbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"\t\t{LISTED}\t\t\thttp://www.listed.test\n"),
              "bb" "OOOOOOOO" "bb" "kkkkkkkkkkkk" "bbbbbbbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"\t\tRESTRICTED\t\t\thttps://*.bad.test\n"),
              "bb" "RRRRRRRRRR" "bbb" "kkkkkkkkkk" "bbbbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"\t\t\tftp://*.zero.test\n"), "b" "kkkkkkkkkk" "bbbbbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"\t\t\thttp://*.odd.test\n"), "bb" "kkkkkkkkkk" "bbbbbbbbb");
    // The body's font reaches the last character.
    EXPECT_EQ(looks.back().font, "Courier New");
    EXPECT_EQ(looks.back().bold, false);
}

TEST(Report, DefaultRowsAndRowsWithoutSubdomain) {
    // Only the exact word "Default" stands for every protocol.
    EXPECT_EQ(ComposeReport({Row(2, "Default", "", "a.test"), Row(2, "Default", "www", "b.test"),
                             Row(2, "default", "", "c.test"), Row(2, "http", "", "d.test")}),
              kHead + u"\t\t[TRUSTED]\t\t\t*://*.a.test\n\t\t[TRUSTED]\t\t\t*://www.b.test\n"
                      u"\t\t[TRUSTED]\t\t\tdefault://*.c.test\n\t\t[TRUSTED]\t\t\thttp://*.d.test\n");
}

TEST(Report, ASubdomainWithADotIsBlackOnlyUpToItsFirstDot) {
    const std::u16string text = ComposeReport({Row(0, "http", "a.b", "example.com")});
    const auto looks = Apply(text.size(), Format(text));
    EXPECT_EQ(Colours(text, looks, u"http://a.b.example.com"), "kkkkkkkkkbbbbbbbbbbbbb");
}

TEST(Report, LabelLettersAnywhereInTheReportAreColouredAsLabels) {
    const std::u16string text = ComposeReport(
        {Row(0, "http", "", "restrictedsite.com"), Row(2, "http", "", "RestrictedArea.org"),
         Row(0, "http", "[Trusted]", "x.test"), Row(0, "http", "", "restrictedrestricted.test")});
    int matches = 0;
    const auto looks = Apply(text.size(), Format(text, &matches));
    EXPECT_EQ(matches, 4 + 2 + 4);  // "//", "[trusted]", "restricted"
    EXPECT_EQ(Colours(text, looks, u"http://*.restrictedsite.com"), "kkkkkkkkkRRRRRRRRRRbbbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"http://*.RestrictedArea.org"), "kkkkkkkkkRRRRRRRRRRbbbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"http://[Trusted].x.test"), "kkkkkkkGGGGGGGGGkbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"restrictedrestricted.test"), "RRRRRRRRRRRRRRRRRRRRbbbbb");
}

TEST(Report, PassesEndWhateverTheNamesHold) {
    // No "." after a "//": that one stays uncoloured and the pass ends.
    std::u16string text = ComposeReport({Row(0, "http", "", "a.test")}) + u"\t\t\tnews://nodot\n";
    int matches = 0;
    auto looks = Apply(text.size(), Format(text, &matches));
    EXPECT_EQ(matches, 2);
    EXPECT_EQ(Colours(text, looks, u"news://nodot"), "bbbbbbbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"http://*.a.test"), "kkkkkkkkkbbbbbb");

    // A "." in the protocol's name, or a "//" after the host's first dot, puts
    // that "." before the next "//": the pass must still move on.
    text = ComposeReport({Row(0, "a.b", "", "x.test"), Row(0, "http", "", "a//b.test")});
    looks = Apply(text.size(), Format(text, &matches));
    EXPECT_EQ(matches, 3);
    EXPECT_EQ(Colours(text, looks, u"\ta.b://*.x.test"), "kkkbbbbbbbbbbbb");
    EXPECT_EQ(Colours(text, looks, u"http://*.a//b.test"), "kkkkkkkkkbbbbbbbbb");
}

TEST(Report, NamesOutsideAsciiKeepTheirCharacters) {
    const std::u16string text = ComposeReport({Row(4, "http", "www", "b\xC3\xBC" "cher.test")});
    const std::u16string line = u"\t\tRESTRICTED\t\t\thttp://www.b\u00FCcher.test\n";
    ASSERT_NE(text.find(line), std::u16string::npos);
    const auto looks = Apply(text.size(), Format(text));
    EXPECT_EQ(Colours(text, looks, u"http://www.b\u00FCcher.test"), "kkkkkkkkkkkbbbbbbbbbbb");
}

}  // namespace
}  // namespace moatgate

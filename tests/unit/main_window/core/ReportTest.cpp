// The report's text, and its formatting passes ending whatever the names hold.
// (The colours and fonts the passes set: the print test, on the printed document.)
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

// The report printed as a user prints it, for the test that runs a real CUPS
// scheduler: "print" fills the window's list and clicks Print with the desktop's
// printing system; "unprinted TEXT" does the same where the report cannot be
// printed and expects the offer of a PDF, told why in words that start with TEXT
// (answered No); "check FILE" reads the PDF that came out of the printer queue.
#include <QApplication>
#include <QTest>
#include <cstdio>

#include "main_window/FormX.h"
#include "platform/ReportPrinter.h"
#include "registry/SettingsKeys.h"
#include "registry/store/HiveRegistry.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/gui/PdfContents.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

constexpr int kFillers = 80;  // enough for a second page

QString Filler(int i) { return QStringLiteral("filler%1.test").arg(i, 3, 10, QLatin1Char('0')); }

int Print(const QString& problem) {
    MemoryStore reg;
    test::Zone(reg, "trusted.test", "*", 2);
    test::Zone(reg, "listed.test\\www", "http", 3);
    test::Zone(reg, "restrictedarea.test", "https", 4);
    test::Zone(reg, "zero.test\\a.b", "ftp", 0);
    for (int i = 0; i < kFillers; ++i) test::Zone(reg, Filler(i).toStdString(), "*", 4);
    test::FakeMessageBoxes boxes;
    QtReportPrinter printer;
    FormX form(reg, boxes);
    form.SetEnvironment({nullptr, nullptr, {}, {}, &printer});
    form.show();
    form.Refresher();
    QTest::mouseClick(form.cmdPrint, Qt::LeftButton);
    for (const auto& box : boxes.shown) std::fprintf(stderr, "The window said: %s\n", qPrintable(box.prompt));
    // Printed, the window says nothing.
    if (problem.isEmpty()) return boxes.shown.isEmpty() ? 0 : 1;
    const bool offered = boxes.shown.size() == 1 && boxes.shown[0].question &&
                         boxes.shown[0].prompt.startsWith(problem) &&
                         boxes.shown[0].prompt.endsWith(QStringLiteral("Save the report as a PDF file instead?"));
    if (!offered) std::fprintf(stderr, "Expected: %s... Save the report as a PDF file instead?\n", qPrintable(problem));
    return offered ? 0 : 1;
}

int Check(const QString& pdf) {
    int faults = 0;
    auto expect = [&](bool ok, const QString& what) {
        if (!ok) {
            std::fprintf(stderr, "In the printed PDF: %s\n", qPrintable(what));
            ++faults;
        }
    };
    const QString text = test::PdfText(pdf);
    const QStringList lines = test::PdfLines(text);
    QStringList expected = {"Moatgate Scripting Privilege Report.", "Priviledge Site...", "[TRUSTED] *://*.trusted.test",
                            "{LISTED} http://www.listed.test", "RESTRICTED https://*.restrictedarea.test",
                            "ftp://a.b.zero.test"};
    for (int i = 0; i < kFillers; ++i) expected << QStringLiteral("RESTRICTED *://*.") + Filler(i);
    for (const QString& line : expected) expect(lines.count(line) == 1, QStringLiteral("the line \"%1\" once").arg(line));
    expect(lines.size() == expected.size(), QStringLiteral("%1 lines, not %2").arg(expected.size()).arg(lines.size()));
    expect(test::PdfPages(text) >= 2, QStringLiteral("two pages or more, not %1").arg(test::PdfPages(text)));

    const QList<QImage> pages = test::PdfImages(pdf, 100);
    for (const QColor& colour : {QColor(0, 192, 0), QColor(255, 128, 0), QColor(255, 0, 0), QColor(0, 0, 255),
                                 QColor(0, 0, 0)}) {
        int pixels = 0;
        for (const QImage& page : pages) pixels += test::PixelsOf(page, colour);
        expect(pixels > 50, QStringLiteral("text in %1 (%2 pixels of it)").arg(colour.name()).arg(pixels));
    }
    if (faults) std::fprintf(stderr, "Its text:\n%s\n", qPrintable(text));
    return faults ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 2 && args[1] == QStringLiteral("print")) return Print({});
    if (args.size() == 3 && args[1] == QStringLiteral("unprinted")) return Print(args[2]);
    if (args.size() == 3 && args[1] == QStringLiteral("check")) return Check(args[2]);
    std::fprintf(stderr, "usage: %s print | unprinted TEXT | check FILE.pdf\n", argv[0]);
    return 2;
}

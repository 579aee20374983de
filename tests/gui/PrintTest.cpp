// The Print button: the report of the list as shown, its formats in the printed
// document and on paper (a PDF), and what the user is offered when there is no
// printer.
#include <QFile>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include "main_window/core/Twips.h"
#include "tests/gui/FakeReportPrinter.h"
#include "tests/gui/PdfContents.h"
#include "tests/gui/TestWindow.h"

using namespace moatgate;

namespace {

// One site for every kind of line: each label and none, "Default", no subdomain,
// a subdomain with a dot, a domain that starts with a label's letters.
const std::initializer_list<test::Site> kFourSites = {{"trusted.test", "*", 2},
                                                      {"listed.test\\www", "http", 3},
                                                      {"restrictedarea.test", "https", 4},
                                                      {"zero.test\\a.b", "ftp", 0}};

const QString kHead = QStringLiteral("\n\n\n\n\tMoatgate Scripting Privilege Report.\n\n\t\tPriviledge\t\t\tSite...") +
                      QString(33, QLatin1Char(' ')) + QStringLiteral("\n");

// A window printing through the fake printer.
struct Printing : test::Window {
    test::FakeReportPrinter printer;
    explicit Printing(std::initializer_list<test::Site> sites) : test::Window(sites) {
        form->SetEnvironment({nullptr, nullptr, {}, {}, &printer});
    }
    ~Printing() { form.reset(); }
};

QTextCharFormat FormatAt(const QTextDocument& doc, int position) {
    QTextCursor cursor(const_cast<QTextDocument*>(&doc));
    cursor.setPosition(position + 1);  // the format of the character before the cursor
    return cursor.charFormat();
}

// Each character of `part` as a letter: 'k' black, 'b' blue, 'g' green, 'o'
// orange, 'r' red, '-' no colour of its own; upper case where bold.
QString Colours(const QTextDocument& doc, const QString& part) {
    const int at = doc.toPlainText().indexOf(part);
    if (at < 0) return QStringLiteral("(not found)");
    const QList<QPair<QColor, char>> letters = {{QColor(0, 0, 0), 'k'},     {QColor(0, 0, 255), 'b'},
                                                {QColor(0, 192, 0), 'g'},   {QColor(255, 128, 0), 'o'},
                                                {QColor(255, 0, 0), 'r'}};
    QString out;
    for (int i = at; i < at + part.size(); ++i) {
        const QTextCharFormat f = FormatAt(doc, i);
        QChar c = QLatin1Char('-');
        for (const auto& [colour, letter] : letters)
            if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().color() == colour) c = QLatin1Char(letter);
        out += f.fontWeight() == QFont::Bold ? c.toUpper() : c;
    }
    return out;
}

}  // namespace

class PrintTest : public QObject {
    Q_OBJECT
private slots:
    void printsTheListAsShownInItsOrderWithItsFormats() {
        Printing w(kFourSites);
        FormX& form = *w.form;
        QCOMPARE(form.cmdPrint->text() + "|" + form.cmdPrint->accessibleName(), QStringLiteral("Print|Print"));
        QCOMPARE(form.cmdPrint->toolTip(), QStringLiteral("This prints the Moatgate Script Security Report"));
        QCOMPARE(form.cmdPrint->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(!form.cmdPrint->icon().isNull());
        const int dpi = form.logicalDpiX();
        QCOMPARE(form.cmdPrint->geometry(),
                 QRect(TwipsToPixels(8730, dpi), 0, TwipsToPixels(975, dpi), TwipsToPixels(855, dpi)));

        w.Show();
        test::SortByDomain(form, QStringLiteral("zero.test"));  // the other way round
        QCOMPARE(test::Column(form, 2), (QStringList{"zero.test", "trusted.test", "restrictedarea.test", "listed.test"}));
        QTest::mouseClick(form.cmdPrint, Qt::LeftButton);
        QCOMPARE(w.printer.jobs, 1);
        QVERIFY(w.boxes.shown.isEmpty());
        QVERIFY(!form.IsReporting());
        const QString expected = kHead + QStringLiteral("\t\t\tftp://a.b.zero.test\n"
                                                        "\t\t[TRUSTED]\t\t\t*://*.trusted.test\n"
                                                        "\t\tRESTRICTED\t\t\thttps://*.restrictedarea.test\n"
                                                        "\t\t{LISTED}\t\t\thttp://www.listed.test\n");
        QCOMPARE(w.printer.printed->toPlainText(), expected);
        const QTextDocument& doc = *form.rT;
        QCOMPARE(doc.toPlainText(), expected);

        // The landmarks' fonts: family, size, weight.
        const struct {
            const char* at;
            QStringList family;
            double size;
            int weight;
        } fonts[] = {{"Moatgate", {"Arial"}, 14.0, QFont::Bold},
                     {"Site...", {"Arial"}, 10.0, QFont::Bold},
                     {"zero.test", {"Courier New"}, 10.0, QFont::Normal}};
        for (const auto& font : fonts) {
            const QTextCharFormat f = FormatAt(doc, static_cast<int>(expected.indexOf(QLatin1String(font.at))));
            QCOMPARE(f.fontFamilies().toStringList(), font.family);
            QCOMPARE(f.fontPointSize(), font.size);
            QCOMPARE(f.fontWeight(), font.weight);
        }
        QVERIFY(!FormatAt(doc, static_cast<int>(expected.indexOf(QStringLiteral("Moatgate"))))
                     .hasProperty(QTextFormat::ForegroundBrush));
        QCOMPARE(FormatAt(doc, 0).fontFamilies().toStringList(), QStringList{});

        // Colours and bold, character by character, as the passes set them.
        QCOMPARE(Colours(doc, QStringLiteral("ftp://a.b.zero.test")), QStringLiteral("kkkkkkkkbbbbbbbbbbb"));
        QCOMPARE(Colours(doc, QStringLiteral("RESTRICTED\t\t\thttps://*.restrictedarea.test")),
                 QStringLiteral("RRRRRRRRRRbbbkkkkkkkkkkRRRRRRRRRRbbbbbbbbb"));
        QCOMPARE(Colours(doc, QStringLiteral("{LISTED}")), QStringLiteral("OOOOOOOO"));

        // A new click reports the list as it is then, replacing the last report.
        test::Zone(w.reg, "zero.test\\a.b", "ftp", 2);
        form.Refresher();
        form.cmdPrint_Click();
        QCOMPARE(w.printer.jobs, 2);
        QVERIFY(form.rT->toPlainText().startsWith(kHead + QStringLiteral("\t\t[TRUSTED]\t\t\tftp://a.b.zero.test\n")));
    }

    void aLineBreakInASiteNameDoesNotShiftTheFormats() {
        Printing w({{"a\r\nb.test", "*", 4}, {"z.test", "*", 2}});
        w->Refresher();
        test::ClickHeader(*w.form, 2);
        if (test::Column(*w.form, 2).last() != QStringLiteral("z.test")) test::ClickHeader(*w.form, 2);
        w->cmdPrint_Click();
        QVERIFY(w->rT->toPlainText().contains(QStringLiteral("*://*.a\uFFFD\nb.test")));
        QCOMPARE(Colours(*w->rT, QStringLiteral("[TRUSTED]\t\t\t*://*.z.test")), QStringLiteral("GGGGGGGGGkkkkkkkkkbbbbbb"));
    }

    void theReportOnPaperKeepsItsTextColoursAndLines() {
        if (!test::HavePoppler()) QSKIP("pdftotext and pdftoppm (Debian package poppler-utils) are not installed");
        Printing w(kFourSites);
        auto filler = [](int i) { return QStringLiteral("filler%1.test").arg(i, 3, 10, QLatin1Char('0')); };
        for (int i = 0; i < 150; ++i) test::Zone(w.reg, filler(i).toStdString(), "*", 4);  // three pages or so
        w->Refresher();
        test::SortByDomain(*w.form, QStringLiteral("filler000.test"));
        w->cmdPrint_Click();
        QCOMPARE(w.printer.jobs, 1);

        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        QPrinter paper(QPrinter::HighResolution);
        paper.setOutputFormat(QPrinter::PdfFormat);
        paper.setOutputFileName(pdf);
        paper.setPageSize(QPageSize(QPageSize::A4));
        QVERIFY(PaintReport(*w.printer.printed, paper));

        // Every line once, in order, whole: none lost, cut or doubled where a page ends.
        const QString text = test::PdfText(pdf);
        QStringList expected{"Moatgate Scripting Privilege Report.", "Priviledge Site..."};
        for (int i = 0; i < 150; ++i) expected << QStringLiteral("RESTRICTED *://*.") + filler(i);
        expected << "{LISTED} http://www.listed.test" << "RESTRICTED https://*.restrictedarea.test"
                 << "[TRUSTED] *://*.trusted.test" << "ftp://a.b.zero.test";
        QCOMPARE(test::PdfLines(text), expected);
        QVERIFY2(test::PdfPages(text) >= 3, qPrintable(QString::number(test::PdfPages(text))));

        // The colours reach the paper; the first page, not blank, has no trusted or listed rows.
        const QList<QImage> pages = test::PdfImages(pdf, 100);
        QCOMPARE(pages.size(), test::PdfPages(text));
        for (const QColor& colour : {QColor(0, 192, 0), QColor(255, 128, 0), QColor(255, 0, 0), QColor(0, 0, 255),
                                     QColor(0, 0, 0)}) {
            int pixels = 0;
            for (const QImage& page : pages) pixels += test::PixelsOf(page, colour);
            QVERIFY2(pixels > 50, qPrintable(colour.name()));
            const int first = test::PixelsOf(pages.first(), colour);
            const bool later = colour == QColor(0, 192, 0) || colour == QColor(255, 128, 0);
            if (colour != QColor(0, 0, 255)) QVERIFY2(later ? first == 0 : first > 50, qPrintable(colour.name()));
        }
    }

    void withoutAPrinterTheReportCanBeSavedAsPdf() {
        Printing w(kFourSites);
        w->Refresher();
        QTemporaryDir dir;
        using R = ReportPrinter::Result;
        // One click, the printer answering `result`, the user `yes` and then choosing `file`.
        auto print = [&](R result, bool yes, const QString& file) {
            w.boxes = {};
            w.printer.answer = result;
            w.boxes.answers = {yes};
            w.printer.files = file.isEmpty() ? QStringList{} : QStringList{file};
            w->cmdPrint_Click();
        };
        const QString saved = dir.filePath(QStringLiteral("report.pdf"));
        print(R::NoPrinter, true, saved);
        QCOMPARE(w.boxes.shown.size(), 1);
        QVERIFY(w.boxes.shown[0].question);
        QCOMPARE(w.boxes.shown[0].title, QStringLiteral("Moatgate"));
        QCOMPARE(w.boxes.shown[0].prompt,
                 QStringLiteral("No printer is installed, so the Moatgate Scripting Privilege Report cannot be "
                                "printed.\n\nSave the report as a PDF file instead?"));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-");
        if (test::HavePoppler()) {
            const QStringList lines = test::PdfLines(test::PdfText(saved));
            QCOMPARE(lines.first(), QStringLiteral("Moatgate Scripting Privilege Report."));
            QVERIFY(lines.contains(QStringLiteral("[TRUSTED] *://*.trusted.test")));
        }

        print(R::NotOpened, false, dir.filePath(QStringLiteral("no.pdf")));  // No: no file is asked for
        QCOMPARE(w.boxes.shown.size(), 1);
        QVERIFY(w.boxes.shown[0].prompt.startsWith(
            QStringLiteral("The default printer \"Office Laser\" could not be opened, so the Moatgate Scripting "
                           "Privilege Report was not printed.")));
        QCOMPARE(w.printer.choices, 1);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("no.pdf"))));

        print(R::NoDefaultPrinter, true, {});  // Yes, then the choice of file is cancelled: nothing more
        QCOMPARE(w.boxes.shown.size(), 1);
        QVERIFY(w.boxes.shown[0].prompt.startsWith(QStringLiteral("No printer is set as the default printer")));
        QCOMPARE(w.printer.choices, 2);

        const QString unwritable = dir.filePath(QStringLiteral("missing-folder/report.pdf"));
        print(R::NoPrinter, true, unwritable);  // told, with its name
        QCOMPARE(w.boxes.shown.size(), 2);
        QVERIFY(!w.boxes.shown[1].question);
        QCOMPARE(w.boxes.shown[1].icon, MessageBoxes::Icon::Exclamation);
        QCOMPARE(w.boxes.shown[1].title, QStringLiteral("Moatgate"));
        QVERIFY(w.boxes.shown[1].prompt.contains(unwritable));
        QVERIFY(!QFile::exists(unwritable));

        print(R::Printed, true, {});  // printed: not a word
        QVERIFY(w.boxes.shown.isEmpty());

        FormX bare(w.reg, w.boxes);  // no printing service at all
        bare.cmdPrint_Click();
        QCOMPARE(w.boxes.shown.size(), 1);
        QCOMPARE(w.boxes.shown[0].icon, MessageBoxes::Icon::Exclamation);
    }

    void aSecondPrintWhileTheReportIsFormattedIsNotTaken() {
        Printing w(kFourSites);
        w.Show();
        QTest::qWait(20);  // longer than the window waits between two turns of the event loop
        bool clickedWhileReporting = false;  // a click that arrives while the formatting lets events run
        QTimer::singleShot(0, w.form.get(), [&] {
            clickedWhileReporting = w->IsReporting();
            QTest::mouseClick(w->cmdPrint, Qt::LeftButton);
        });
        w->cmdPrint_Click();
        QVERIFY(clickedWhileReporting);
        QCOMPARE(w.printer.jobs, 1);
        QVERIFY(!w->IsReporting());
        QCOMPARE(w->rT->toPlainText().count(QLatin1Char('\n')), 4 + 2 + 1 + 4);  // the one report, whole
        w->cmdPrint_Click();
        QCOMPARE(w.printer.jobs, 2);
    }
};

QTEST_MAIN(PrintTest)
#include "PrintTest.moc"

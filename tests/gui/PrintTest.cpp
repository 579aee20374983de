// The Print button: the report of the list as shown, in the printed document
// and on paper (a PDF), and what the user is offered when there is no printer.
#include <QFile>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

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

// The format of the first character of `part`.
QTextCharFormat FormatOf(const QTextDocument& doc, const QString& part) {
    QTextCursor cursor(const_cast<QTextDocument*>(&doc));
    cursor.setPosition(static_cast<int>(doc.toPlainText().indexOf(part)) + 1);  // formats the character before
    return cursor.charFormat();
}

}  // namespace

class PrintTest : public QObject {
    Q_OBJECT
private slots:
    void printsTheListAsShownInItsOrder() {
        Printing w(kFourSites);
        FormX& form = *w.form;
        QCOMPARE(form.cmdPrint->toolTip(), QStringLiteral("This prints the Moatgate Script Security Report"));
        w.Show();
        test::SortByDomain(form, QStringLiteral("zero.test"));  // the other way round
        QTest::mouseClick(form.cmdPrint, Qt::LeftButton);
        QCOMPARE(w.printer.jobs, 1);
        QVERIFY(w.boxes.shown.isEmpty());
        const QString expected = kHead + QStringLiteral("\t\t\tftp://a.b.zero.test\n"
                                                        "\t\t[TRUSTED]\t\t\t*://*.trusted.test\n"
                                                        "\t\tRESTRICTED\t\t\thttps://*.restrictedarea.test\n"
                                                        "\t\t{LISTED}\t\t\thttp://www.listed.test\n");
        QCOMPARE(w.printer.printed->toPlainText(), expected);

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
        test::SortByDomain(*w.form, QStringLiteral("a\r\nb.test"));
        w->cmdPrint_Click();
        QVERIFY(w->rT->toPlainText().contains(QStringLiteral("*://*.a\uFFFD\nb.test")));
        QCOMPARE(FormatOf(*w->rT, QStringLiteral("[TRUSTED]")).foreground().color(), QColor(0, 192, 0));
    }

    // Every line once, in order, whole: none lost, cut or doubled where a page
    // ends; the first page is not blank.
    void theReportOnPaperKeepsEveryLine() {
        if (!test::HavePoppler()) QSKIP("pdftotext and pdftoppm (Debian package poppler-utils) are not installed");
        Printing w(kFourSites);
        auto filler = [](int i) { return QStringLiteral("filler%1.test").arg(i, 3, 10, QLatin1Char('0')); };
        for (int i = 0; i < 150; ++i) test::Zone(w.reg, filler(i).toStdString(), "*", 4);  // three pages or so
        w->Refresher();
        test::SortByDomain(*w.form, QStringLiteral("filler000.test"));
        w->cmdPrint_Click();

        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        QPrinter paper(QPrinter::HighResolution);
        paper.setOutputFormat(QPrinter::PdfFormat);
        paper.setOutputFileName(pdf);
        paper.setPageSize(QPageSize(QPageSize::A4));
        QVERIFY(PaintReport(*w.printer.printed, paper));
        const QString text = test::PdfText(pdf);
        QStringList expected{"Moatgate Scripting Privilege Report.", "Priviledge Site..."};
        for (int i = 0; i < 150; ++i) expected << QStringLiteral("RESTRICTED *://*.") + filler(i);
        expected << "{LISTED} http://www.listed.test" << "RESTRICTED https://*.restrictedarea.test"
                 << "[TRUSTED] *://*.trusted.test" << "ftp://a.b.zero.test";
        QCOMPARE(test::PdfLines(text), expected);
        QVERIFY2(test::PdfPages(text) >= 3, qPrintable(QString::number(test::PdfPages(text))));
        QCOMPARE(test::PdfLines(text.section(QLatin1Char('\f'), 0, 0)).value(0), expected[0]);
    }

    void withoutAPrinterTheReportCanBeSavedAsPdf() {
        Printing w(kFourSites);
        w->Refresher();
        QTemporaryDir dir;
        const QString saved = dir.filePath(QStringLiteral("report.pdf")),
                      unwritable = dir.filePath(QStringLiteral("missing-folder/report.pdf"));
        using R = ReportPrinter::Result;
        // A click: the printer's answer, the user's Yes or No, the file chosen (none:
        // cancelled); then how the question starts (none: not asked) and the message after it.
        const struct {
            R result;
            bool yes;
            QString file, asked, told;
        } rows[] = {{R::NoPrinter, true, saved, "No printer is installed, so the Moatgate Scripting Privilege "
                                                "Report cannot be printed.\n\nSave", {}},
                    {R::NotOpened, false, dir.filePath("no.pdf"), "The default printer \"Office Laser\" could not", {}},
                    {R::NoDefaultPrinter, true, {}, "No printer is set as the default printer", {}},
                    {R::NoPrinter, true, unwritable, "No printer is installed", "The report could not be saved as\n" + unwritable},
                    {R::Printed, true, {}, {}, {}}};
        for (const auto& row : rows) {
            w.boxes = {};
            w.printer.answer = row.result;
            w.boxes.answers = {row.yes};
            w.printer.files = row.file.isEmpty() ? QStringList{} : QStringList{row.file};
            w->cmdPrint_Click();
            const auto& shown = w.boxes.shown;
            QCOMPARE(shown.size(), qsizetype(!row.asked.isEmpty() + !row.told.isEmpty()));
            QVERIFY(row.asked.isEmpty() || (shown[0].question && shown[0].title == QStringLiteral("Moatgate") &&
                                            shown[0].prompt.startsWith(row.asked) &&
                                            shown[0].prompt.endsWith(QStringLiteral("PDF file instead?"))));
            QVERIFY(row.told.isEmpty() || (!shown[1].question && shown[1].prompt.startsWith(row.told) &&
                                           shown[1].icon == MessageBoxes::Icon::Exclamation));
        }
        QCOMPARE(w.printer.choices, 3);  // not after No
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-");
        QVERIFY(!QFile::exists(dir.filePath("no.pdf")) && !QFile::exists(unwritable));
    }
};

QTEST_MAIN(PrintTest)
#include "PrintTest.moc"
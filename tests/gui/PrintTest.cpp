// The Print button: the report of the list as shown, its formats in the printed
// document and on paper (a PDF), and what the user is offered when there is no
// printer.
#include <QFile>
#include <QHeaderView>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

#include "main_window/FormX.h"
#include "main_window/core/Twips.h"
#include "registry/SettingsKeys.h"
#include "registry/store/HiveRegistry.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/gui/FakeReportPrinter.h"
#include "tests/gui/PdfContents.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

// One site for every kind of line: each label and none, "Default", no subdomain,
// a subdomain with a dot, a domain that starts with a label's letters.
void FourSites(RegistryApi& reg) {
    test::Zone(reg, "trusted.test", "*", 2);
    test::Zone(reg, "listed.test\\www", "http", 3);
    test::Zone(reg, "restrictedarea.test", "https", 4);
    test::Zone(reg, "zero.test\\a.b", "ftp", 0);
}

const QString kHead = QStringLiteral("\n\n\n\n\tMoatgate Scripting Privilege Report.\n\n\t\tPriviledge\t\t\tSite...") +
                      QString(33, QLatin1Char(' ')) + QStringLiteral("\n");

QStringList Domains(const FormX& form) {
    QStringList out;
    const QAbstractItemModel* model = form.LVw->model();
    for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, 2).data().toString();
    return out;
}

void ClickHeader(FormX& form, int column) {
    QHeaderView* header = form.LVw->header();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

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
    QString out;
    for (int i = at; i < at + part.size(); ++i) {
        const QTextCharFormat f = FormatAt(doc, i);
        QChar c = QLatin1Char('-');
        if (f.hasProperty(QTextFormat::ForegroundBrush)) {
            const QColor colour = f.foreground().color();
            if (colour == QColor(0, 0, 0)) c = QLatin1Char('k');
            if (colour == QColor(0, 0, 255)) c = QLatin1Char('b');
            if (colour == QColor(0, 192, 0)) c = QLatin1Char('g');
            if (colour == QColor(255, 128, 0)) c = QLatin1Char('o');
            if (colour == QColor(255, 0, 0)) c = QLatin1Char('r');
        }
        out += f.fontWeight() == QFont::Bold ? c.toUpper() : c;
    }
    return out;
}

}  // namespace

class PrintTest : public QObject {
    Q_OBJECT
private slots:
    void thePrintButtonLooksAsDesigned() {
        MemoryStore reg;
        test::FakeMessageBoxes boxes;
        FormX form(reg, boxes);
        QCOMPARE(form.cmdPrint->objectName(), QStringLiteral("cmdPrint"));
        QCOMPARE(form.cmdPrint->text(), QStringLiteral("Print"));
        QCOMPARE(form.cmdPrint->accessibleName(), QStringLiteral("Print"));
        QCOMPARE(form.cmdPrint->toolTip(), QStringLiteral("This prints the Moatgate Script Security Report"));
        QCOMPARE(form.cmdPrint->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(!form.cmdPrint->icon().isNull());
        const int dpi = form.logicalDpiX();
        QCOMPARE(form.cmdPrint->geometry(), QRect(TwipsToPixels(8730, dpi), 0, TwipsToPixels(975, dpi),
                                                  TwipsToPixels(855, dpi)));
        QCOMPARE(form.rT->objectName(), QStringLiteral("rT"));
    }

    void printsTheListAsShownInItsOrderWithItsFormats() {
        MemoryStore reg;
        FourSites(reg);
        test::FakeMessageBoxes boxes;
        test::FakeReportPrinter printer;
        FormX form(reg, boxes);
        form.SetEnvironment({nullptr, nullptr, {}, {}, &printer});
        form.show();
        form.Refresher();
        // Sorted by domain, then the other way round.
        ClickHeader(form, 2);
        if (Domains(form).first() != QStringLiteral("zero.test")) ClickHeader(form, 2);
        QCOMPARE(Domains(form), (QStringList{"zero.test", "trusted.test", "restrictedarea.test", "listed.test"}));

        QTest::mouseClick(form.cmdPrint, Qt::LeftButton);
        QCOMPARE(printer.jobs, 1);
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(!form.IsReporting());
        const QString expected = kHead + QStringLiteral("\t\t\tftp://a.b.zero.test\n"
                                                        "\t\t[TRUSTED]\t\t\t*://*.trusted.test\n"
                                                        "\t\tRESTRICTED\t\t\thttps://*.restrictedarea.test\n"
                                                        "\t\t{LISTED}\t\t\thttp://www.listed.test\n");
        QCOMPARE(printer.printed->toPlainText(), expected);
        const QTextDocument& doc = *form.rT;
        QCOMPARE(doc.toPlainText(), expected);

        // The landmarks' fonts.
        const QTextCharFormat title = FormatAt(doc, static_cast<int>(expected.indexOf(QStringLiteral("Moatgate"))));
        QCOMPARE(title.fontFamilies().toStringList(), QStringList{"Arial"});
        QCOMPARE(title.fontPointSize(), 14.0);
        QCOMPARE(title.fontWeight(), int(QFont::Bold));
        QVERIFY(!title.hasProperty(QTextFormat::ForegroundBrush));
        const QTextCharFormat header = FormatAt(doc, static_cast<int>(expected.indexOf(QStringLiteral("Site..."))));
        QCOMPARE(header.fontFamilies().toStringList(), QStringList{"Arial"});
        QCOMPARE(header.fontPointSize(), 10.0);
        QCOMPARE(header.fontWeight(), int(QFont::Bold));
        const QTextCharFormat body = FormatAt(doc, static_cast<int>(expected.indexOf(QStringLiteral("zero.test"))));
        QCOMPARE(body.fontFamilies().toStringList(), QStringList{"Courier New"});
        QCOMPARE(body.fontPointSize(), 10.0);
        QCOMPARE(body.fontWeight(), int(QFont::Normal));
        QCOMPARE(FormatAt(doc, 0).fontFamilies().toStringList(), QStringList{});

        // Colours and bold, character by character, as the passes set them.
        QCOMPARE(Colours(doc, QStringLiteral("ftp://a.b.zero.test")), QStringLiteral("kkkkkkkkbbbbbbbbbbb"));
        QCOMPARE(Colours(doc, QStringLiteral("RESTRICTED\t\t\thttps://*.restrictedarea.test")),
                 QStringLiteral("RRRRRRRRRRbbbkkkkkkkkkkRRRRRRRRRRbbbbbbbbb"));
        QCOMPARE(Colours(doc, QStringLiteral("{LISTED}")), QStringLiteral("OOOOOOOO"));

        // A new click reports the list as it is then, replacing the last report.
        test::Zone(reg, "zero.test\\a.b", "ftp", 2);
        form.Refresher();
        form.cmdPrint_Click();
        QCOMPARE(printer.jobs, 2);
        QVERIFY(form.rT->toPlainText().startsWith(kHead + QStringLiteral("\t\t[TRUSTED]\t\t\tftp://a.b.zero.test\n")));
    }

    void aLineBreakInASiteNameDoesNotShiftTheFormats() {
        MemoryStore reg;
        test::Zone(reg, "a\r\nb.test", "*", 4);
        test::Zone(reg, "z.test", "*", 2);
        test::FakeMessageBoxes boxes;
        test::FakeReportPrinter printer;
        FormX form(reg, boxes);
        form.SetEnvironment({nullptr, nullptr, {}, {}, &printer});
        form.Refresher();
        ClickHeader(form, 2);
        if (Domains(form).last() != QStringLiteral("z.test")) ClickHeader(form, 2);
        form.cmdPrint_Click();
        QVERIFY(form.rT->toPlainText().contains(QStringLiteral("*://*.a\uFFFD\nb.test")));
        QCOMPARE(Colours(*form.rT, QStringLiteral("[TRUSTED]\t\t\t*://*.z.test")),
                 QStringLiteral("GGGGGGGGGkkkkkkkkkbbbbbb"));
    }

    void theReportOnPaperKeepsItsTextColoursAndLines() {
        if (!test::HavePoppler()) QSKIP("pdftotext and pdftoppm (Debian package poppler-utils) are not installed");
        MemoryStore reg;
        FourSites(reg);
        // Enough rows for three pages or so.
        for (int i = 0; i < 150; ++i)
            test::Zone(reg, QStringLiteral("filler%1.test").arg(i, 3, 10, QLatin1Char('0')).toStdString(), "*", 4);
        test::FakeMessageBoxes boxes;
        test::FakeReportPrinter printer;
        FormX form(reg, boxes);
        form.SetEnvironment({nullptr, nullptr, {}, {}, &printer});
        form.Refresher();
        ClickHeader(form, 2);
        if (Domains(form).first() != QStringLiteral("filler000.test")) ClickHeader(form, 2);
        form.cmdPrint_Click();
        QCOMPARE(printer.jobs, 1);

        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        QPrinter paper(QPrinter::HighResolution);
        paper.setOutputFormat(QPrinter::PdfFormat);
        paper.setOutputFileName(pdf);
        paper.setPageSize(QPageSize(QPageSize::A4));
        QVERIFY(PaintReport(*printer.printed, paper));

        // Every line once, in order, whole: no line lost, cut or doubled where a
        // page ends.
        const QString text = test::PdfText(pdf);
        QStringList expected{"Moatgate Scripting Privilege Report.", "Priviledge Site..."};
        for (int i = 0; i < 150; ++i)
            expected << QStringLiteral("RESTRICTED *://*.filler%1.test").arg(i, 3, 10, QLatin1Char('0'));
        expected << "{LISTED} http://www.listed.test"
                 << "RESTRICTED https://*.restrictedarea.test"
                 << "[TRUSTED] *://*.trusted.test"
                 << "ftp://a.b.zero.test";
        QCOMPARE(test::PdfLines(text), expected);
        QVERIFY2(test::PdfPages(text) >= 3, qPrintable(QString::number(test::PdfPages(text))));

        // The colours reach the paper.
        const QList<QImage> pages = test::PdfImages(pdf, 100);
        QCOMPARE(pages.size(), test::PdfPages(text));
        auto pixels = [&](QColor colour) {
            int n = 0;
            for (const QImage& page : pages) n += test::PixelsOf(page, colour);
            return n;
        };
        for (const QColor& colour : {QColor(0, 192, 0), QColor(255, 128, 0), QColor(255, 0, 0), QColor(0, 0, 255),
                                     QColor(0, 0, 0)})
            QVERIFY2(pixels(colour) > 50, qPrintable(colour.name()));
        // The first page has no trusted or listed rows.
        QCOMPARE(test::PixelsOf(pages.first(), QColor(0, 192, 0)), 0);
        QCOMPARE(test::PixelsOf(pages.first(), QColor(255, 128, 0)), 0);
        // Nor is it blank: the report starts on it.
        QVERIFY(test::PixelsOf(pages.first(), QColor(255, 0, 0)) > 50);
        QVERIFY(test::PixelsOf(pages.first(), QColor(0, 0, 0)) > 50);
    }

    void withoutAPrinterTheReportCanBeSavedAsPdf() {
        MemoryStore reg;
        FourSites(reg);
        QTemporaryDir dir;
        test::FakeMessageBoxes boxes;
        test::FakeReportPrinter printer;
        FormX form(reg, boxes);
        form.SetEnvironment({nullptr, nullptr, {}, {}, &printer});
        form.Refresher();

        // No printer at all: Yes, and a file.
        printer.answer = ReportPrinter::Result::NoPrinter;
        const QString saved = dir.filePath(QStringLiteral("report.pdf"));
        boxes.answers = {true};
        printer.files = {saved};
        form.cmdPrint_Click();
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown[0].question);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Moatgate"));
        QCOMPARE(boxes.shown[0].prompt,
                 QStringLiteral("No printer is installed, so the Moatgate Scripting Privilege Report cannot be "
                                "printed.\n\nSave the report as a PDF file instead?"));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(5) == "%PDF-");
        file.close();
        if (test::HavePoppler()) {
            const QStringList lines = test::PdfLines(test::PdfText(saved));
            QCOMPARE(lines.first(), QStringLiteral("Moatgate Scripting Privilege Report."));
            QVERIFY(lines.contains(QStringLiteral("[TRUSTED] *://*.trusted.test")));
        }

        // The default printer cannot be opened: the user says No.
        boxes.shown.clear();
        printer.answer = ReportPrinter::Result::NotOpened;
        boxes.answers = {false};
        printer.files = {dir.filePath(QStringLiteral("no.pdf"))};
        form.cmdPrint_Click();
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown[0].prompt.startsWith(
            QStringLiteral("The default printer \"Office Laser\" could not be opened, so the Moatgate Scripting "
                           "Privilege Report was not printed.")));
        QCOMPARE(printer.choices, 1);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("no.pdf"))));

        // No default printer: Yes, then the choice of file is cancelled. Nothing more.
        boxes.shown.clear();
        printer.answer = ReportPrinter::Result::NoDefaultPrinter;
        boxes.answers = {true};
        printer.files.clear();
        form.cmdPrint_Click();
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown[0].prompt.startsWith(QStringLiteral("No printer is set as the default printer")));
        QCOMPARE(printer.choices, 2);

        // A file that cannot be written is told, with its name.
        boxes.shown.clear();
        printer.answer = ReportPrinter::Result::NoPrinter;
        const QString unwritable = dir.filePath(QStringLiteral("missing-folder/report.pdf"));
        boxes.answers = {true};
        printer.files = {unwritable};
        form.cmdPrint_Click();
        QCOMPARE(boxes.shown.size(), 2);
        QVERIFY(!boxes.shown[1].question);
        QCOMPARE(boxes.shown[1].icon, MessageBoxes::Icon::Exclamation);
        QCOMPARE(boxes.shown[1].title, QStringLiteral("Moatgate"));
        QVERIFY(boxes.shown[1].prompt.contains(unwritable));
        QVERIFY(!QFile::exists(unwritable));

        // Printed: not a word.
        boxes.shown.clear();
        printer.answer = ReportPrinter::Result::Printed;
        form.cmdPrint_Click();
        QVERIFY(boxes.shown.isEmpty());

        // No printing service at all.
        FormX bare(reg, boxes);
        bare.cmdPrint_Click();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Icon::Exclamation);
    }

    void aSecondPrintWhileTheReportIsFormattedIsNotTaken() {
        MemoryStore reg;
        FourSites(reg);
        test::FakeMessageBoxes boxes;
        test::FakeReportPrinter printer;
        FormX form(reg, boxes);
        form.SetEnvironment({nullptr, nullptr, {}, {}, &printer});
        form.show();
        form.Refresher();
        QTest::qWait(20);  // longer than the window waits between two turns of the event loop
        // A click that arrives while the formatting lets events run.
        bool clickedWhileReporting = false;
        QTimer::singleShot(0, &form, [&] {
            clickedWhileReporting = form.IsReporting();
            QTest::mouseClick(form.cmdPrint, Qt::LeftButton);
        });
        form.cmdPrint_Click();
        QVERIFY(clickedWhileReporting);
        QCOMPARE(printer.jobs, 1);
        QVERIFY(!form.IsReporting());
        // The one report, whole.
        QCOMPARE(form.rT->toPlainText().count(QLatin1Char('\n')), 4 + 2 + 1 + 4);
        form.cmdPrint_Click();
        QCOMPARE(printer.jobs, 2);
    }
};

QTEST_MAIN(PrintTest)
#include "PrintTest.moc"

#include "platform/ReportPrinter.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QTextDocument>
#include <memory>

namespace moatgate {

namespace {
const QString kJobName = QStringLiteral("Moatgate Scripting Privilege Report");

// The resolution the text layout measures tab stops in: it scales them from the
// screen's resolution to the device's.
double LayoutDpi() {
    if (QCoreApplication::testAttribute(Qt::AA_Use96Dpi)) return 96;
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInchY()) : 100;
}
}  // namespace

bool PaintReport(const QTextDocument& report, QPagedPaintDevice& device) {
    // 2 cm all round, where the printer can print that close to the edge.
    device.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(&device)) return false;

    // Laid out for the device itself, so that point sizes and tab stops are true
    // to size; the report's columns are tab stops every half inch.
    const std::unique_ptr<QTextDocument> doc(report.clone());
    doc->setDefaultFont(report.defaultFont());
    doc->documentLayout()->setPaintDevice(&device);
    doc->setDocumentMargin(0);
    QTextOption option = doc->defaultTextOption();
    option.setTabStopDistance(LayoutDpi() / 2);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc->setDefaultTextOption(option);
    const QSizeF page(device.width(), device.height());
    // With a page height set, the layout moves a line that would cross the foot
    // of a page to the top of the next one.
    doc->setPageSize(page);

    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, Qt::black);
    const int pages = doc->pageCount();
    for (int p = 0; p < pages; ++p) {
        if (p > 0 && !device.newPage()) {
            painter.end();
            return false;
        }
        const QRectF area(0, p * page.height(), page.width(), page.height());
        painter.save();
        painter.translate(0, -area.top());
        painter.setClipRect(area);
        // Only the lines of this page: a line that starts where the page ends, or
        // ends where it starts, touches the page's edge and would be drawn (cut
        // off) on both pages.
        context.clip = area.adjusted(0, 0.5, 0, -0.5);
        doc->documentLayout()->draw(&painter, context);
        painter.restore();
    }
    return painter.end();
}

ReportPrinter::Result QtReportPrinter::PrintOnDefaultPrinter(const QTextDocument& report, QString& printer) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return QPrinterInfo::availablePrinterNames().isEmpty() ? Result::NoPrinter : Result::NoDefaultPrinter;
    printer = info.printerName();
    QPrinter device(info, QPrinter::HighResolution);
    if (!device.isValid()) return Result::NotOpened;
    device.setDocName(kJobName);
    device.setCreator(QStringLiteral("Moatgate"));
    return PaintReport(report, device) ? Result::Printed : Result::NotOpened;
}

QString QtReportPrinter::ChoosePdfFile() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QFileDialog dialog(parent_, QStringLiteral("Save the Moatgate Scripting Privilege Report"),
                       folder + QLatin1Char('/') + kJobName + QStringLiteral(".pdf"),
                       QStringLiteral("PDF files (*.pdf)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

bool QtReportPrinter::SavePdf(const QTextDocument& report, const QString& file, QString& error) {
    // Made in memory first, so that a file is only replaced by a complete report.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setTitle(kJobName);
        writer.setCreator(QStringLiteral("Moatgate"));
        writer.setPageSize(QPageSize(QLocale::system().measurementSystem() == QLocale::ImperialUSSystem
                                         ? QPageSize::Letter
                                         : QPageSize::A4));
        if (!PaintReport(report, writer)) {
            error = QStringLiteral("The report could not be laid out as PDF.");
            return false;
        }
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(pdf.data()) != pdf.data().size() || !out.commit()) {
        error = out.errorString();
        return false;
    }
    return true;
}

}  // namespace moatgate

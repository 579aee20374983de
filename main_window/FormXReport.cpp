// The main window's Print button: the scripting privilege report.
#include <QScopeGuard>
#include <QTextDocument>

#include "main_window/FormX.h"
#include "main_window/ReportDocument.h"
#include "main_window/core/Report.h"

namespace moatgate {

namespace {
const QString kTitle = QStringLiteral("Moatgate");
const QString kOffer = QStringLiteral("\n\nSave the report as a PDF file instead?");
}  // namespace

void FormX::BuildPrintButton() {
    cmdPrint = BuildCommand("cmdPrint", QStringLiteral("Print"),
                            QStringLiteral("This prints the Moatgate Script Security Report"), design::kPrint,
                            QIcon(QStringLiteral(":/buttons/print.svg")));
    connect(cmdPrint, &QToolButton::clicked, this, [this] { cmdPrint_Click(); });

    rT = new QTextDocument(this);
    rT->setObjectName(QStringLiteral("rT"));
}

void FormX::cmdPrint_Click() {
    // The formatting passes let events run, and a second report would be made in
    // the same document while the first is still being formatted.
    if (reporting_) return;
    reporting_ = true;
    const auto done = qScopeGuard([this] { reporting_ = false; });

    const std::u16string text = ComposeReport(list_.Rows());
    const std::vector<ReportFormat> formats = FormatReport(text, [this] { LetEventsRun(); });
    FillReportDocument(*rT, text, formats);

    if (!env_.printer) {
        boxes_.Tell(QStringLiteral("Printing is not available here, so the Moatgate Scripting Privilege Report "
                                   "cannot be printed."),
                    kTitle, MessageBoxes::Icon::Exclamation);
        return;
    }
    QString printer;
    switch (env_.printer->PrintOnDefaultPrinter(*rT, printer)) {
        case ReportPrinter::Result::Printed:
            return;
        case ReportPrinter::Result::NoPrinter:
            OfferReportAsPdf(QStringLiteral("No printer is installed, so the Moatgate Scripting Privilege Report "
                                            "cannot be printed."));
            return;
        case ReportPrinter::Result::NoDefaultPrinter:
            OfferReportAsPdf(QStringLiteral("No printer is set as the default printer, so the Moatgate Scripting "
                                            "Privilege Report cannot be printed."));
            return;
        case ReportPrinter::Result::NotOpened:
            OfferReportAsPdf(QStringLiteral("The default printer \"%1\" could not be opened, so the Moatgate "
                                            "Scripting Privilege Report was not printed.")
                                 .arg(printer));
            return;
    }
}

void FormX::OfferReportAsPdf(const QString& problem) {
    if (!boxes_.AskYesNo(problem + kOffer, kTitle)) return;
    const QString file = env_.printer->ChoosePdfFile();
    if (file.isEmpty()) return;
    QString error;
    if (!env_.printer->SavePdf(*rT, file, error))
        boxes_.Tell(QStringLiteral("The report could not be saved as\n%1\n\n%2\n\nChoose another folder or free "
                                   "some space, then print again.")
                        .arg(file, error),
                    kTitle, MessageBoxes::Icon::Exclamation);
}

}  // namespace moatgate

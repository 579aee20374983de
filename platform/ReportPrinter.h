// Prints the report: one job on the default printer without a dialog, or into a
// PDF file the user chooses. Behind an interface so that tests script the printer
// and the choice of file.
#pragma once

#include <QString>

class QPagedPaintDevice;
class QTextDocument;
class QWidget;

namespace moatgate {

class ReportPrinter {
public:
    enum class Result {
        Printed,           // handed to the printing system as one job
        NoPrinter,         // no printer is installed
        NoDefaultPrinter,  // printers, but none of them is the default
        NotOpened,         // the default printer could not be opened or refused the pages
    };
    virtual ~ReportPrinter() = default;
    // The whole report, on the default printer. `printer` gets the default
    // printer's name when there is one.
    virtual Result PrintOnDefaultPrinter(const QTextDocument& report, QString& printer) = 0;
    // The file the user chooses to save the report in; empty when they cancel.
    virtual QString ChoosePdfFile() = 0;
    // Writes the report as a PDF file, whole or not at all. False, with the
    // reason, when the file was not written.
    virtual bool SavePdf(const QTextDocument& report, const QString& file, QString& error) = 0;
};

// The desktop's printing system and file dialog.
class QtReportPrinter : public ReportPrinter {
public:
    explicit QtReportPrinter(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    Result PrintOnDefaultPrinter(const QTextDocument& report, QString& printer) override;
    QString ChoosePdfFile() override;
    bool SavePdf(const QTextDocument& report, const QString& file, QString& error) override;

private:
    QWidget* parent_;
};

// Lays the report out on the device's pages, breaking only between lines, and
// paints every page: one job. False when the device could not be opened or
// refused a page.
bool PaintReport(const QTextDocument& report, QPagedPaintDevice& device);

}  // namespace moatgate

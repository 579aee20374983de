// A printer that answers as scripted and keeps what it was given; PDF files are
// written for real.
#pragma once

#include <QStringList>
#include <QTextDocument>
#include <memory>

#include "platform/ReportPrinter.h"

namespace moatgate::test {

class FakeReportPrinter : public ReportPrinter {
public:
    Result answer = Result::Printed;
    QString printerName = QStringLiteral("Office Laser");
    QStringList files;  // what the file choice answers, in order; none left: cancelled
    int jobs = 0;
    int choices = 0;
    std::unique_ptr<QTextDocument> printed;  // a copy of the last report handed over

    Result PrintOnDefaultPrinter(const QTextDocument& report, QString& printer) override {
        ++jobs;
        printed.reset(report.clone());
        printer = printerName;
        return answer;
    }
    QString ChoosePdfFile() override {
        ++choices;
        return files.isEmpty() ? QString() : files.takeFirst();
    }
    bool SavePdf(const QTextDocument& report, const QString& file, QString& error) override {
        return QtReportPrinter().SavePdf(report, file, error);
    }
};

}  // namespace moatgate::test

// The scripting privilege report of a large list: its composition and formatting
// passes alone, the same with the printed document filled (what the user waits for
// before the printing starts), and the printing itself into a PDF.
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QPdfWriter>
#include <QTextDocument>

#include "bench/BenchStore.h"
#include "main_window/ReportDocument.h"
#include "main_window/core/Report.h"
#include "platform/ReportPrinter.h"

namespace moatgate {
namespace {

// N rows as an imported restricted-sites list gives them: a "Default" row per
// domain, one domain in five with "http" and "https" rows for a subdomain; a few
// trusted and listed domains among them.
std::vector<SiteRow> Rows(int n) {
    std::vector<SiteRow> rows;
    rows.reserve(static_cast<std::size_t>(n));
    for (int i = 0; static_cast<int>(rows.size()) < n; ++i) {
        const int zone = i % 7 == 0 ? 2 : i % 11 == 0 ? 3 : 4;
        rows.push_back({"Default", "", DomainName(i), zone, kDomainRowTag, false});
        for (const char* protocol : {"http", "https"})
            if (i % 5 == 0 && static_cast<int>(rows.size()) < n)
                rows.push_back({protocol, "www", DomainName(i), zone, 0, false});
    }
    return rows;
}

void BM_ReportComposeFormat(benchmark::State& state) {
    const std::vector<SiteRow> rows = Rows(static_cast<int>(state.range(0)));
    std::size_t formats = 0;
    for (auto _ : state) {
        const std::u16string text = ComposeReport(rows);
        formats = FormatReport(text, [] {}).size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["ranges"] = static_cast<double>(formats);
}

void BM_ReportDocument(benchmark::State& state) {
    const std::vector<SiteRow> rows = Rows(static_cast<int>(state.range(0)));
    QTextDocument document;
    for (auto _ : state) {
        const std::u16string text = ComposeReport(rows);
        FillReportDocument(document, text, FormatReport(text, [] {}));
    }
    state.counters["chars"] = document.characterCount();
}

void BM_ReportPdf(benchmark::State& state) {
    const std::vector<SiteRow> rows = Rows(static_cast<int>(state.range(0)));
    QTextDocument document;
    const std::u16string text = ComposeReport(rows);
    FillReportDocument(document, text, FormatReport(text, [] {}));
    qint64 bytes = 0;
    for (auto _ : state) {
        QBuffer pdf;
        pdf.open(QIODevice::WriteOnly);
        QPdfWriter writer(&pdf);
        if (!PaintReport(document, writer)) state.SkipWithError("the PDF could not be painted");
        bytes = pdf.size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

#define REPORT_SIZES Arg(2000)->Arg(20000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_ReportComposeFormat)->REPORT_SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReportDocument)->REPORT_SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReportPdf)->Arg(2000)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace moatgate

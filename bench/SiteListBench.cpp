// The site list at the sizes of a large imported restricted-sites list: the fill
// into the core list, and the window's reload with its model reset and selection.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <fstream>
#include <string>

#include "bench/BenchStore.h"
#include "bench/Ratios.h"
#include "main_window/FormX.h"
#include "registry/Registry.h"
#include "registry/SettingsKeys.h"
#include "registry/ZoneMap.h"

namespace moatgate {
namespace {

// The most memory the process has held so far, from the kernel's own count.
double PeakMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void BM_FillSiteList(benchmark::State& state) {
    BenchDir dir;
    auto store = Open(dir.Write("user.reg", StoreText(static_cast<int>(state.range(0)))));
    std::size_t rows = 0;
    for (auto _ : state) {
        SiteList list;
        FillSiteList(*store, HKEY_CURRENT_USER, ZoneMapFillPath(), list, [] {});
        rows = list.Count();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_Refresher(benchmark::State& state) {
    BenchDir dir;
    auto store = Open(dir.Write("user.reg", StoreText(static_cast<int>(state.range(0)))));
    QtMessageBoxes boxes;
    FormX form(*store, boxes);
    form.show();
    for (auto _ : state) form.Refresher();
    state.counters["rows"] = static_cast<double>(form.Sites().Count());
}

// Delete on a site whose value is the last of its key, in a store of N domains
// where 1,000 further keys are empty: the value, two reloads and the sweep of
// 1,002 keys in one change of the store.
void BM_DeleteWithSweep(benchmark::State& state) {
    BenchDir dir;
    const std::string path = dir.Write("user.reg", StoreText(static_cast<int>(state.range(0))));
    {
        auto store = Open(path);
        StoreScope change(*store, true);
        for (int i = 0; i < 1000; ++i)
            CreateSiteKey(*store, std::string(kZoneMapKey) + "\\empty" + std::to_string(i) + ".example");
        CreateSiteKey(*store, std::string(kZoneMapKey) + "\\aaa-delete-me.example\\www");
        WriteRegistryValue(*store, HKEY_CURRENT_USER, std::string(kZoneMapKey) + "\\aaa-delete-me.example\\www",
                           "http", std::int64_t{4}, REG_DWORD);
    }
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        dir.Write("user.reg", text);
        auto store = Open(path);
        QtMessageBoxes boxes;
        FormX form(*store, boxes);
        form.Refresher();
        form.LVw->setCurrentIndex(form.LVw->model()->index(0, 0));  // the site sorts first
        state.ResumeTiming();
        form.cmdDelete_Click();
        state.PauseTiming();
        rows = form.Sites().Count();
        state.ResumeTiming();
    }
    state.counters["rows_after"] = static_cast<double>(rows);
}

// Peak memory of a process that shows the window with the list loaded; run
// first and alone, so that nothing else has raised the peak yet.
void BM_WindowPeakMemory(benchmark::State& state) {
    for (auto _ : state) {
        BenchDir dir;
        auto store = Open(dir.Write("user.reg", StoreText(static_cast<int>(state.range(0)))));
        QtMessageBoxes boxes;
        FormX form(*store, boxes);
        form.show();
        form.Refresher();
        QApplication::processEvents();
    }
    state.counters["peak_MB"] = PeakMegabytes();
}

#define SIZES Arg(2000)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_WindowPeakMemory)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillSiteList)->SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Refresher)->SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DeleteWithSweep)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace moatgate

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    moatgate::RatioSpec spec;
    spec.limits = {{"BM_FillSiteList", "20000", 60}, {"BM_Refresher", "20000", 100}};
    return moatgate::RunBenchmarksWithRatios(argc, argv, spec);
}

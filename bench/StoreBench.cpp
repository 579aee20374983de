// The store at the sizes of a large imported restricted-sites list: open and
// parse, one durable write, a full enumeration of the zone map, and an import.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "bench/BenchStore.h"
#include "bench/Floor.h"
#include "bench/Ratios.h"
#include "registry/NewStore.h"
#include "registry/Registry.h"
#include "registry/SettingsKeys.h"
#include "registry/store/FileStore.h"
#include "registry/store/HiveRegistry.h"
#include "registry/store/WineRegFormat.h"
#include "tools/moatgate-reg/RegFile.h"
#include "tools/moatgate-reg/RegTool.h"

namespace moatgate {
namespace {

// The floor of a load: the file read whole and its lines found.
void BM_ReadAndScanLines(benchmark::State& state) {
    BenchDir dir;
    const std::string text = StoreText(static_cast<int>(state.range(0)));
    const std::string path = dir.Write("user.reg", text);
    for (auto _ : state) benchmark::DoNotOptimize(ReadAndScanLines(path.c_str()));
    state.counters["file_MB"] = static_cast<double>(text.size()) / 1e6;
}

void BM_OpenAndParse(benchmark::State& state) {
    BenchDir dir;
    const std::string text = StoreText(static_cast<int>(state.range(0)));
    const std::string path = dir.Write("user.reg", text);
    for (auto _ : state) benchmark::DoNotOptimize(Open(path));
    state.counters["file_MB"] = static_cast<double>(text.size()) / 1e6;
}

void BM_DurableWrite(benchmark::State& state) {
    BenchDir dir;
    const std::string path = dir.Write("user.reg", StoreText(static_cast<int>(state.range(0))));
    auto store = Open(path);
    const std::string key = std::string(kZoneMapKey) + "\\" + DomainName(1);
    std::int64_t zone = 2;
    for (auto _ : state) {
        zone = zone == 2 ? 4 : 2;
        WriteRegistryValue(*store, HKEY_CURRENT_USER, key, "*", zone, REG_DWORD);
    }
    if (ReadRegistryValueText(*store, HKEY_CURRENT_USER, key, "*") != std::to_string(zone)) std::abort();
}

void BM_EnumerateZoneMap(benchmark::State& state) {
    BenchDir dir;
    const std::string path = dir.Write("user.reg", StoreText(static_cast<int>(state.range(0))));
    auto store = Open(path);
    std::size_t count = 0;
    for (auto _ : state) {
        StoreScope scope(*store, false);
        HKEY base = 0;
        store->RegOpenKeyA(HKEY_CURRENT_USER, std::string(kZoneMapKey) + "\\", &base);
        char name[256];
        count = 0;
        for (DWORD i = 0;; ++i) {
            DWORD cch = sizeof name;
            if (store->RegEnumKeyExA(base, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            ++count;
        }
        store->RegCloseKey(base);
    }
    if (count != static_cast<std::size_t>(state.range(0))) std::abort();
}

void BM_ImportRegFile(benchmark::State& state) {
    BenchDir dir;
    const int n = static_cast<int>(state.range(0));
    std::string text = "Windows Registry Editor Version 5.00\r\n";
    for (int i = 0; i < n; ++i)
        text += "\r\n[HKEY_CURRENT_USER\\" + std::string(kZoneMapKey) + "\\" + DomainName(i) +
                "]\r\n\"*\"=dword:00000004\r\n";
    const std::string regFile = dir.Write("list.reg", EncodeRegFile(text));
    const std::string fresh = StoreText(0);
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = dir.Write("user.reg", fresh);
        auto store = Open(path);
        state.ResumeTiming();
        std::istringstream in;
        std::ostringstream out, err;
        if (RunRegTool({"import", regFile}, *store, in, out, err) != 0) std::abort();
    }
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_RSS_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// One key holding n values in scrambled order: reading sorts them once, in
// n log n, not one insertion at a time.
void BM_LoadUnsortedValues(benchmark::State& state) {
    BenchDir dir;
    const int n = static_cast<int>(state.range(0));
    std::string text = "WINE REGISTRY Version 2\n\n[Software\\\\Many] 1796554876\n#time=1dd85711d4b34f6\n";
    for (int i = 0; i < n; ++i)
        text += "\"value" + std::to_string((static_cast<long long>(i) * 7919) % n) + "\"=dword:00000001\n";
    const std::string path = dir.Write("user.reg", text);
    for (auto _ : state) benchmark::DoNotOptimize(Open(path));
    state.counters["file_MB"] = static_cast<double>(text.size()) / 1e6;
}

// A .reg file setting n values of one key in reverse order, imported into a new store.
void BM_ImportValuesInReverse(benchmark::State& state) {
    BenchDir dir;
    const int n = static_cast<int>(state.range(0));
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Many]\r\n";
    for (int i = n - 1; i >= 0; --i) text += "\"value" + std::to_string(100000 + i) + "\"=dword:00000001\r\n";
    const std::string regFile = dir.Write("list.reg", EncodeRegFile(text));
    const std::string fresh = StoreText(0);
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = dir.Write("user.reg", fresh);
        auto store = Open(path);
        state.ResumeTiming();
        std::istringstream in;
        std::ostringstream out, err;
        if (RunRegTool({"import", regFile}, *store, in, out, err) != 0) std::abort();
    }
}

#define SIZES Arg(2000)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_ReadAndScanLines)->SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenAndParse)->SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DurableWrite)->SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_EnumerateZoneMap)->SIZES->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ImportRegFile)->SIZES->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_LoadUnsortedValues)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ImportValuesInReverse)->Arg(12500)->Arg(50000)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace moatgate

int main(int argc, char** argv) {
    moatgate::RatioSpec spec;
    spec.pairs = {{"BM_OpenAndParse", "BM_ReadAndScanLines", 2.0}};
    return moatgate::RunBenchmarksWithRatios(argc, argv, spec);
}

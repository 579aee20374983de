#include "bench/Ratios.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <utility>

namespace moatgate {

namespace {

struct Figure {
    double ms = 0;
    benchmark::UserCounters counters;
    bool median = false;
};

// The console table as usual, keeping each benchmark's median (or only) time.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // By family name, then by argument ("20000").
    std::map<std::string, std::map<std::string, Figure>> figures;

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred) continue;
            const bool isMedian = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !isMedian) continue;
            Figure& f = figures[run.run_name.function_name][run.run_name.args];
            if (f.median && !isMedian) continue;
            const double seconds = run.GetAdjustedRealTime() *
                                   (run.time_unit == benchmark::kMillisecond   ? 1e-3
                                    : run.time_unit == benchmark::kMicrosecond ? 1e-6
                                    : run.time_unit == benchmark::kNanosecond  ? 1e-9
                                                                               : 1.0);
            f = {seconds * 1e3, run.counters, isMedian};
        }
    }
};

const char* Verdict(double ratio, double limit, bool atLeast = false) {
    if (limit <= 0) return "";
    return (atLeast ? ratio >= limit : ratio <= limit) ? "  ok" : "  MISSED";
}

}  // namespace

int RunBenchmarksWithRatios(int argc, char** argv, const RatioSpec& spec) {
    const auto& pairs = spec.pairs;
    const auto& counters = spec.counters;
    const double growthLimit = spec.growthLimit;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto& figures = reporter.figures;

    std::printf("\nGrowth, 100000 over 20000 (medians of this run; at most %.1fx):\n", growthLimit);
    for (const auto& [name, byArg] : figures) {
        const auto small = byArg.find("20000"), large = byArg.find("100000");
        if (small == byArg.end() || large == byArg.end() || small->second.ms <= 0) continue;
        const double ratio = large->second.ms / small->second.ms;
        std::printf("  %-28s %10.2f ms -> %10.2f ms  %5.2fx%s\n", name.c_str(), small->second.ms, large->second.ms,
                    ratio, Verdict(ratio, growthLimit));
    }

    if (!pairs.empty()) std::printf("\nSide by side (medians of this run):\n");
    for (const BenchRatio& pair : pairs) {
        const auto what = figures.find(pair.what), over = figures.find(pair.over);
        if (what == figures.end() || over == figures.end()) continue;
        for (const auto& [arg, figure] : what->second) {
            const auto other = over->second.find(arg);
            if (other == over->second.end() || other->second.ms <= 0 || figure.ms <= 0) continue;
            if (pair.inverse) {
                const double ratio = other->second.ms / figure.ms;
                std::printf("  %-24s %-7s %10.2f ms, %s %10.2f ms: %.1fx faster%s\n", pair.what.c_str(), arg.c_str(),
                            figure.ms, pair.over.c_str(), other->second.ms, ratio, Verdict(ratio, pair.limit, true));
            } else {
                const double ratio = figure.ms / other->second.ms;
                std::printf("  %-24s %-7s %10.2f ms = %5.2fx %s (%.2f ms)%s\n", pair.what.c_str(), arg.c_str(),
                            figure.ms, ratio, pair.over.c_str(), other->second.ms, Verdict(ratio, pair.limit));
            }
        }
    }

    if (!counters.empty()) std::printf("\nCounters side by side:\n");
    for (const CounterRatio& c : counters) {
        const auto what = figures.find(c.benchmark);
        if (what == figures.end()) continue;
        for (const auto& [arg, figure] : what->second) {
            const auto a = figure.counters.find(c.counter), b = figure.counters.find(c.over);
            if (a == figure.counters.end() || b == figure.counters.end() || b->second.value <= 0) continue;
            const double ratio = a->second.value / b->second.value;
            std::printf("  %-24s %-7s %s %.1f / %s %.1f = %.2fx%s\n", c.benchmark.c_str(), arg.c_str(),
                        c.counter.c_str(), a->second.value, c.over.c_str(), b->second.value, ratio,
                        Verdict(ratio, c.limit));
        }
    }

    if (!spec.limits.empty()) std::printf("\nTime limits:\n");
    for (const TimeLimit& limit : spec.limits) {
        const auto what = figures.find(limit.benchmark);
        if (what == figures.end()) continue;
        const auto figure = what->second.find(limit.arg);
        if (figure == what->second.end()) continue;
        std::printf("  %-24s %-7s %10.2f ms (at most %.0f ms)%s\n", limit.benchmark.c_str(), limit.arg.c_str(),
                    figure->second.ms, limit.ms, Verdict(figure->second.ms, limit.ms));
    }
    return 0;
}

}  // namespace moatgate

// The figures the benchmarks are judged by, printed after the usual table: each
// benchmark at 100,000 against its figure at 20,000, and each benchmark against
// the one it must stay near (its floor or its peer), at every size both ran.
#pragma once

#include <string>
#include <vector>

namespace moatgate {

struct BenchRatio {
    std::string what;   // a benchmark's name without arguments ("BM_OpenAndParse")
    std::string over;   // the one it is measured against ("BM_ReadAndScanLines")
    double limit = 0;   // the most `what` may cost, as a multiple of `over`; 0: none
    bool inverse = false;  // the least `over` may cost, as a multiple of `what` (a peer to beat)
};

// A counter to show as a multiple of another of the same benchmark (peak memory
// over the file's size).
struct CounterRatio {
    std::string benchmark;
    std::string counter;
    std::string over;
    double limit = 0;
};

// A time a benchmark must stay within at one size.
struct TimeLimit {
    std::string benchmark;
    std::string arg;
    double ms = 0;
};

struct RatioSpec {
    std::vector<BenchRatio> pairs;
    std::vector<CounterRatio> counters;
    std::vector<TimeLimit> limits;
    double growthLimit = 5.5;  // 100,000 over 20,000
};

// Runs the benchmarks selected on the command line with the usual console table,
// then prints the ratios: growth from 20,000 to 100,000, the pairs, the counter
// ratios and the time limits. Medians where a benchmark repeats.
int RunBenchmarksWithRatios(int argc, char** argv, const RatioSpec& spec);

}  // namespace moatgate

// The selection parsers on big texts, each beside a baseline that only
// writes N ints: the parsers must write the N-entry result array anyway.
//   build/bench/bench/selection_bench
#include "selection.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace {

void baseline_iota(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::vector<int> result(n);
    for (auto _ : state) {
        std::iota(result.begin(), result.end(), 1);
        benchmark::DoNotOptimize(result.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// Runs parser over text with count n. The texts hold no spaces, so the
// in-place cleaning leaves them as they are from one run to the next.
void run_parser(benchmark::State& state, int (*parser)(char*, int*, int), std::string text) {
    const int n = static_cast<int>(state.range(0));
    std::vector<int> result(n);
    for (auto _ : state) {
        const int stored = parser(text.data(), result.data(), n);
        benchmark::DoNotOptimize(stored);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void range_1_to_n(benchmark::State& state) {
    run_parser(state, separate_command_spc, "1~" + std::to_string(state.range(0)));
}

// 64 ranges of half the items each, every one overlapping the next.
void overlapping_ranges(benchmark::State& state) {
    const long long n = state.range(0);
    std::string text;
    for (long long i = 0; i < 64; ++i) {
        const long long lower = 1 + i * n / 128;
        const long long upper = std::min(n, lower + n / 2);
        text += std::to_string(lower) + "~" + std::to_string(upper) + ",";
    }
    run_parser(state, separate_command_spc, text);
}

void comma_list(benchmark::State& state) {
    std::string text;
    for (long long i = 1; i <= state.range(0); ++i)
        text += std::to_string(i) + ",";
    run_parser(state, separate_command, text);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->RangeMultiplier(10)->Range(1000, 10000000)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(baseline_iota)->Apply(sizes);
BENCHMARK(range_1_to_n)->Apply(sizes);
BENCHMARK(overlapping_ranges)->Apply(sizes);
BENCHMARK(comma_list)->Apply(sizes);

} // namespace

BENCHMARK_MAIN();

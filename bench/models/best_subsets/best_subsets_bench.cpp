// Writes the best-subset benchmark data as CSV, or times the search on it.
//
//   best_subsets_bench write P ROWS FILE.csv [SEED]   CSV with header y,x1..xP
//   best_subsets_bench time [P...]                    times the search (default 40 50 60)
//
// Timing builds R from 100,000 generated rows with an intercept by a
// Householder QR (not timed) and reports the search time, nodes expanded
// and the best subset of eight terms.
#include "best_subsets_data.h"
#include "subsets.h"

#include <Eigen/QR>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr long bench_rows = 100000;
constexpr std::uint64_t bench_seed = 20240601;

int write_csv(int p, long rows, const char* path, std::uint64_t seed) {
    std::FILE* out = std::fopen(path, "w");
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    std::fprintf(out, "y");
    for (int j = 1; j <= p; ++j)
        std::fprintf(out, ",x%d", j);
    std::fprintf(out, "\n");
    bench_best::generate(p, rows, seed, [&](double y, const std::vector<double>& x) {
        std::fprintf(out, "%.10g", y);
        for (double v : x)
            std::fprintf(out, ",%.10g", v);
        std::fprintf(out, "\n");
    });
    return std::fclose(out) == 0 ? 0 : 1;
}

Eigen::MatrixXd make_r(int p) {
    Eigen::MatrixXd design(bench_rows, p + 2);
    long i = 0;
    bench_best::generate(p, bench_rows, bench_seed, [&](double y, const std::vector<double>& x) {
        design(i, 0) = 1;
        for (int j = 0; j < p; ++j)
            design(i, j + 1) = x[j];
        design(i, p + 1) = y;
        ++i;
    });
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(design);
    return qr.matrixQR().topRows(p + 2).triangularView<Eigen::Upper>();
}

int time_search(int p, int threads) {
    const Eigen::MatrixXd r = make_r(p);
    models::subset_options options;
    options.threads = threads;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    const models::subset_result result = models::best_subsets(r, options);
    const double cpu = double(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.status != models::subset_status::ok) {
        std::fprintf(stderr, "p=%d: search failed: %s\n", p, result.message.c_str());
        return 1;
    }
    std::printf("p=%d  search %.3f s  nodes %llu  threads %d  cpu %.3f s  best of 8:", p, seconds,
                static_cast<unsigned long long>(result.nodes), threads, cpu);
    if (p >= 8)
        for (int t : result.best[7].terms)
            std::printf(" x%d", t + 1);
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "time";
    if (mode == "write" && (argc == 5 || argc == 6)) {
        const std::uint64_t seed = argc == 6 ? std::strtoull(argv[5], nullptr, 10) : bench_seed;
        return write_csv(std::atoi(argv[2]), std::atol(argv[3]), argv[4], seed);
    }
    if (mode != "time") {
        std::fprintf(stderr, "usage: %s write P ROWS FILE.csv [SEED] | time [P...]\n", argv[0]);
        return 2;
    }
    // BEST_THREADS: threads searching (default 1; 0: one per core).
    const char* threads_text = std::getenv("BEST_THREADS");
    const int threads = threads_text ? std::atoi(threads_text) : 1;
    int status = 0;
    if (argc <= 2) {
        for (int p : {40, 50, 60})
            status |= time_search(p, threads);
    } else {
        for (int i = 2; i < argc; ++i)
            status |= time_search(std::atoi(argv[i]), threads);
    }
    return status;
}

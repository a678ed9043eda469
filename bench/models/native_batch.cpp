// A model program's batch run built natively, for profiling (perf), for
// timing beside the Windows program under Wine and for comparisons with
// other tools: the same run as the program's (report, --save, --predict,
// --plot), with the start of each pass over the data and the total time on
// standard error, the report on standard output.
//   native_batch 1..6 DATA [options]
// Built by the bench preset (target native_batch), or by hand with the
// model parts' sources; for example:
//   perf record -g build/bench/bench/native_batch 1 big.csv --json
#include "batch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const int number = argc >= 3 ? std::atoi(argv[1]) : 0;
    const models::program_info* program = models::program_numbered(number);
    if (program == nullptr) {
        std::fprintf(stderr, "usage: native_batch 1..6 DATA [options]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto since = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    int passes = 0;
    const auto progress = [&](std::uint64_t done, std::uint64_t total) {
        if (done == 0)
            std::fprintf(stderr, "pass %d starts at %.3f s\n", ++passes, since());
        else if (done == total)
            std::fprintf(stderr, "pass %d read by %.3f s\n", passes, since());
    };
    const models::batch_output out =
        models::run_batch(*program, std::vector<std::string>(argv + 2, argv + argc), progress);
    std::fwrite(out.out.data(), 1, out.out.size(), stdout);
    std::fwrite(out.err.data(), 1, out.err.size(), stderr);
    std::fprintf(stderr, "total %.3f s\n", since());
    return out.status;
}

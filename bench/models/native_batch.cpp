// The linear or curve-linear program's batch run built natively, for
// profiling (perf) and for timing beside the Windows program under Wine:
// the same data opening and fit, with the start of each pass over the data
// and the total time on standard error, the JSON report on standard output.
//   native_batch 1|3 DATA [options]
// Build (from the project root; the model core's sources, natively):
//   g++ -std=gnu++17 -O2 -g -DNDEBUG -DBOOST_NO_CXX14_CONSTEXPR -Imodels/core
//     -Imodels/programs -Imodels/plot -Iconsole_input -Ichooser -isystem /usr/include/eigen3
//     bench/models/native_batch.cpp models/core/*.cpp models/programs/{program_options,
//     model_data,linear_program}.cpp console_input/{selection,line_input}.cpp
//     chooser/string_helpers.cpp -lquadmath -pthread -o build/bench-native/native_batch
// then, for example: perf record -g build/bench-native/native_batch 1 big.csv --json
#include "linear_program.h"
#include "model_data.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const int number = argc >= 3 ? std::atoi(argv[1]) : 0;
    const models::program_info* program = models::program_numbered(number);
    if (program == nullptr || (number != 1 && number != 3)) {
        std::fprintf(stderr, "usage: native_batch 1|3 DATA [options]\n");
        return 2;
    }
    const models::parsed_options parsed =
        models::parse_options(*program, std::vector<std::string>(argv + 2, argv + argc));
    if (!parsed.ok) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return 2;
    }
    const models::options& o = parsed.values;
    const auto start = std::chrono::steady_clock::now();
    const auto since = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    models::model_data data = models::open_model_data(
        o.data, o.y, o.x,
        number == 3 ? models::default_predictors::second_column
                    : models::default_predictors::all_others);
    if (data.status != models::exit_reported) {
        std::fprintf(stderr, "%s\n", data.reason.c_str());
        return data.status;
    }
    int passes = 0;
    data.progress = [&](std::uint64_t done, std::uint64_t total) {
        if (done == 0)
            std::fprintf(stderr, "pass %d starts at %.3f s\n", ++passes, since());
        else if (done == total)
            std::fprintf(stderr, "pass %d read by %.3f s\n", passes, since());
    };
    const models::model_run run = models::run_linear(*program, o, data);
    if (run.status != models::exit_reported) {
        std::fprintf(stderr, "%s\n", run.reason.c_str());
        return run.status;
    }
    const std::string report = models::json_report(run.report);
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fprintf(stderr, "total %.3f s\n", since());
    return 0;
}

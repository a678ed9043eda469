// Times the data-file reader on a file: header, then every column streamed
// in blocks to a sink that sums them.
//   read_timing file.csv
#include "data_file.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#endif

// The process's processor time (user and system), which a busy machine
// disturbs less than the wall clock.
static double cpu_seconds() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
#else
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = cpu_seconds();
    models::file_source source(argv[1]);
    const models::data_header header = models::read_header(source);
    if (!header.ok) {
        std::printf("error: %s\n", header.error.c_str());
        return 1;
    }
    std::vector<std::size_t> columns;
    for (std::size_t i = 0; i < header.names.size(); ++i)
        columns.push_back(i);
    double sum = 0;
    int reports = 0;
    const models::scan_counts counts = models::scan_rows(
        source, header, columns,
        [&](const double* values, std::size_t rows) {
            for (std::size_t i = 0; i < rows * columns.size(); ++i)
                sum += values[i];
            return true;
        },
        [&](std::uint64_t, std::uint64_t) { ++reports; });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpu_seconds() - cpu_start;
    if (!counts.ok) {
        std::printf("error: %s\n", counts.error.c_str());
        return 1;
    }
    std::printf("reader: %lld rows, %lld numbers, sum %.17g, %d progress calls, %.3f s (processor "
                "%.3f s)\n",
                counts.used, counts.used * static_cast<long long>(columns.size()), sum, reports,
                seconds, cpu);
    return 0;
}

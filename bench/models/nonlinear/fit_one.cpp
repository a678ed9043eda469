// Benchmark helper (not a test): one non-linear fit with the library the
// model programs use, printed as one JSON line for scripts/bench-nonlinear.
//   fit_one [--no-check] DATA.csv FORMULA STARTS [LEVEL]
// DATA.csv: a header of names, then numbers separated by commas. With LEVEL,
// profile intervals at that level follow the estimates. --no-check leaves
// out the check for a lower minimum (to measure what it costs).
#include "profile.h"
#include "solver.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ','))
        out.push_back(field.size() >= 2 && field.front() == '"' ? field.substr(1, field.size() - 2)
                                                                : field);
    return out;
}

void number(const char* name, double v, bool comma = true) {
    if (std::isfinite(v))
        std::printf("\"%s\": %.15g%s", name, v, comma ? ", " : "");
    else
        std::printf("\"%s\": null%s", name, comma ? ", " : "");
}

void end(double v, const char* after) {
    if (std::isfinite(v))
        std::printf("%.15g%s", v, after);
    else
        std::printf("null%s", after);
}

} // namespace

int main(int argc, char** argv) {
    models::solver_options options;
    if (argc > 1 && std::string(argv[1]) == "--no-check") {
        options.check_lower = false;
        --argc;
        ++argv;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: fit_one [--no-check] DATA.csv FORMULA STARTS [LEVEL]\n");
        return 2;
    }
    std::ifstream file(argv[1]);
    std::string line;
    std::getline(file, line);
    const std::vector<std::string> names = split(line);
    std::vector<std::vector<double>> columns(names.size());
    while (std::getline(file, line)) {
        const auto fields = split(line);
        for (std::size_t c = 0; c < names.size() && c < fields.size(); ++c)
            columns[c].push_back(std::strtod(fields[c].c_str(), nullptr));
    }
    const auto f = models::parse_formula(argv[2], names);
    if (!f.ok) {
        std::printf("{\"error\": \"formula: %s\"}\n", f.error.c_str());
        return 1;
    }
    const auto starts = models::parse_starts(argv[3], f.value.parameters);
    if (!starts.ok) {
        std::printf("{\"error\": \"starts: %s\"}\n", starts.error.c_str());
        return 1;
    }
    const auto begin = std::chrono::steady_clock::now();
    const auto fit = models::fit_nonlinear(f.value, columns, starts.values, options);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (!fit.converged) {
        std::printf("{\"converged\": false, \"reason\": \"%s\"}\n",
                    (fit.ok ? fit.reason : fit.error).c_str());
        return 0;
    }
    std::printf("{\"converged\": true, ");
    number("rss", fit.rss);
    std::printf("\"restarted\": %s, \"evaluations\": %d, \"grid_points\": %d, \"pole\": %s, ",
                fit.restarted ? "true" : "false", fit.iterations, fit.grid_points,
                fit.pole.found ? "true" : "false");
    number("seconds", seconds);
    std::printf("\"estimates\": {");
    for (std::size_t j = 0; j < fit.estimates.size(); ++j)
        number(fit.parameters[j].c_str(), fit.estimates[j], j + 1 < fit.estimates.size());
    std::printf("}");
    if (argc > 4) {
        const auto intervals = models::profile_intervals(f.value, columns, fit, std::atof(argv[4]));
        std::printf(", \"profile\": {");
        for (std::size_t j = 0; j < intervals.size(); ++j) {
            std::printf("\"%s\": [", fit.parameters[j].c_str());
            end(intervals[j].low, ", ");
            end(intervals[j].high, "");
            std::printf("]%s", j + 1 < intervals.size() ? ", " : "");
        }
        std::printf("}");
    }
    std::printf("}\n");
    return 0;
}

// Benchmark data for the best-subset search: n rows of p correlated
// predictors, x_j = z_j + 0.5 * z_{j+1} with z standard normal, and
// y = sum of eight chosen x_j times a coefficient + standard normal noise.
// The same seed gives the same numbers on every platform (Box-Muller on a
// 64-bit Mersenne Twister, no library distribution).
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace bench_best {

// 0-based predictors that matter and their coefficients; all below 30 so
// that every benchmark size has the same true model.
inline const std::vector<std::pair<int, double>>& true_terms() {
    static const std::vector<std::pair<int, double>> terms = {
        {0, 1.0}, {3, -0.8}, {7, 0.6}, {12, 0.5}, {18, -0.4}, {23, 0.3}, {26, 0.25}, {29, -0.2}};
    return terms;
}

class normal_source {
  public:
    explicit normal_source(std::uint64_t seed) : engine_(seed) {}
    double next() {
        if (has_spare_) {
            has_spare_ = false;
            return spare_;
        }
        const double two_pi = 6.283185307179586;
        double u1 = 0;
        while (u1 <= 0)
            u1 = uniform();
        const double u2 = uniform();
        const double radius = std::sqrt(-2 * std::log(u1));
        spare_ = radius * std::sin(two_pi * u2);
        has_spare_ = true;
        return radius * std::cos(two_pi * u2);
    }

  private:
    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
    std::mt19937_64 engine_;
    double spare_ = 0;
    bool has_spare_ = false;
};

// Calls row(y, x) for each of n rows; x has p entries.
template <class RowFn> void generate(int p, long rows, std::uint64_t seed, RowFn&& row) {
    normal_source normal(seed);
    std::vector<double> z(p + 1), x(p);
    for (long i = 0; i < rows; ++i) {
        for (double& v : z)
            v = normal.next();
        for (int j = 0; j < p; ++j)
            x[j] = z[j] + 0.5 * z[j + 1];
        double y = normal.next();
        for (const auto& [j, b] : true_terms())
            if (j < p)
                y += b * x[j];
        row(y, x);
    }
}

} // namespace bench_best

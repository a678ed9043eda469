// The number types least squares computes in, and what it assumes of them.
//
// double: the first pass and its triangle. long double: sums of the data
// and the refinement's residuals, which must carry 64 significand bits (the
// x87 extended format GCC and MinGW-w64 give on x86) so that a residual
// that cancels sixteen digits keeps three. quad: Boost's float128 over
// GCC's __float128 (113 bits), for designs double cannot resolve.
#pragma once

#include <Eigen/Core>

#include <cstddef>
#include <limits>

namespace models::least_squares_detail {

static_assert(std::numeric_limits<long double>::digits >= 64,
              "the means and the refinement need an 80-bit extended long double");

template <class T> using matrix = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>;
template <class T> using vector = Eigen::Matrix<T, Eigen::Dynamic, 1>;

inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();
inline constexpr double unit_roundoff = std::numeric_limits<double>::epsilon() / 2;

// The sum of f(0) .. f(count - 1) in extended precision, over four running
// sums: the x87 unit adds with a latency of several cycles, so four
// independent sums keep it busy where one would wait on itself at every
// term. The order of the additions is fixed by count alone.
template <class F> long double extended_sum(std::size_t count, F f) {
    long double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    std::size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        s0 += f(j);
        s1 += f(j + 1);
        s2 += f(j + 2);
        s3 += f(j + 3);
    }
    for (; j < count; ++j)
        s0 += f(j);
    return (s0 + s1) + (s2 + s3);
}

} // namespace models::least_squares_detail

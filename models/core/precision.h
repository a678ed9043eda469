// The number types least squares computes in, and what it assumes of them.
//
// double: the first pass and its triangle. long double: sums of the data
// and the refinement's residuals, which must carry 64 significand bits (the
// x87 extended format GCC and MinGW-w64 give on x86) so that a residual
// that cancels sixteen digits keeps three. quad: Boost's float128 over
// GCC's __float128 (113 bits), for designs double cannot resolve.
#pragma once

#include <Eigen/Core>

#include <limits>

namespace models::least_squares_detail {

static_assert(std::numeric_limits<long double>::digits >= 64,
              "the means and the refinement need an 80-bit extended long double");

template <class T> using matrix = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>;
template <class T> using vector = Eigen::Matrix<T, Eigen::Dynamic, 1>;

inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();
inline constexpr double unit_roundoff = std::numeric_limits<double>::epsilon() / 2;

} // namespace models::least_squares_detail

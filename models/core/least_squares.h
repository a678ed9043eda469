// Least squares by orthogonal factorisation, streamed: the rows of the data
// arrive in blocks and only the triangle of a QR factorisation (a few times
// p² numbers) is kept, so memory does not grow with the row count.
//
// Accuracy contract: every coefficient, standard error, residual sum of
// squares and R² to 13 significant digits (LRE >= 13 against certified or
// rational-arithmetic values), on any design whose terms are not exact
// combinations of the others at the data's rounding level. Three passes,
// each chosen by what the one before shows:
// - double: the fold (fold.h) and the rank-revealing solve
//   (rank_revealing_solve.h); kept when the error estimate (error_estimate.h)
//   gives every result 14 digits;
// - refinement (refinement.h): when the design is well conditioned
//   (8 u κ² < 1e-3) but a coefficient cancels, typically an intercept far
//   from the data's centre; the rows are read once more per step;
// - quadruple (113-bit): otherwise, or when a term lies within 1e-8 of the
//   span of the earlier ones; a term within 1e-14 (aliased_share) of that
//   span is aliased there and the others fitted.
// Data of at most kept_values_max numbers are kept in memory for the second
// pass; larger data are read again.
#pragma once

#include "design.h"

#include <Eigen/Core>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace models {

// Receives a block of rows, row-major; false stops the pass.
using row_sink = std::function<bool(const double* values, std::size_t rows)>;
// Sends every row of the data to the sink once per call; false when the
// pass could not be made (the caller keeps the reason).
using row_source = std::function<bool(const row_sink& sink)>;

struct least_squares_fit {
    bool ok = false;
    std::string error;
    long long n = 0;                  // rows fitted
    int rank = 0;                     // terms fitted (not aliased)
    std::vector<double> coefficients; // per term; NaN where aliased
    std::vector<double> std_errors;   // per term; NaN where aliased
    std::vector<bool> aliased;        // per term
    double rss = 0;
    double tss = 0;        // about the mean with an intercept, else about zero
    bool refined = false;  // a refinement pass in extended precision was needed
    bool extended = false; // the quadruple-precision pass was needed
    double condition = 0;  // of the design with unit-norm columns (double pass)
    // The triangle of [terms | y] from the final pass, in the original order
    // of the terms (aliased ones included): R'R = X'X. The intercept column
    // holds ones and the other columns are the data less their first row's
    // value when there is an intercept (shifts change no fitted quantity).
    Eigen::MatrixXd triangle;
};

// Fits the design to the rows the source sends. The source may be called a
// second time (a second pass) when the data were too large to keep.
least_squares_fit fit_least_squares(const design& d, const row_source& source);

// Most numbers kept in memory for a second pass; larger data are read again.
inline constexpr std::size_t kept_values_max = std::size_t(1) << 20;

} // namespace models

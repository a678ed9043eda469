// The error estimate that chooses the pass: how many digits the double pass
// gave each result, from its own triangle, without the exact answer.
//
// Contract: first-order bounds of Householder least squares (a small
// multiple of the unit roundoff times the condition κ of the design with
// unit-length columns, plus κ² times the relative residual), carried through
// the map back to the data's terms, where an intercept may cancel. The
// estimate runs about ten times the errors measured against the quadruple
// pass. The driver keeps the double pass when every result's estimate is at
// most trusted_error, refines when κ is small enough for refinement to
// contract fast and the standard errors' estimate is at most
// se_trusted_error, and otherwise (or when a term is suspect) runs the
// quadruple pass. Together they give every result 13 digits.
#pragma once

#include "design.h"
#include "rank_revealing_solve.h"

#include <Eigen/Core>

#include <vector>

namespace models::least_squares_detail {

// The double pass is trusted when every result's estimated relative error
// is below this: 14 digits, one more than the floor we promise.
inline constexpr double trusted_error = 1e-14;
// Refinement sharpens the coefficients and the residual sum of squares, not
// the standard errors: their first-order estimate must be below this (13
// digits). The standard errors' estimate is the unit roundoff times the
// root of the size times the 2-norm of the inverse of the triangle with
// unit-length columns (the map back to the data's terms is solved, not
// multiplied out, so it does not cancel); it runs 10 to 60 times the errors
// measured against the quadruple pass (a 50-level factor times a number
// near 10 at 20,000 to 100,000 rows: 12.95 estimated, 14.4 to 14.9
// measured).
inline constexpr double se_trusted_error = 1e-13;
// A term whose distance from the span of the earlier terms is below this
// share of its own length is suspect in double precision: the quadruple
// pass decides.
inline constexpr double suspect_share = 1e-8;

// True when a kept term of s lies within suspect_share of the span of the
// earlier terms in the triangle r.
bool has_suspect_term(const Eigen::MatrixXd& r, const solution<double>& s);

struct double_pass_estimate {
    double error = 0;        // the largest relative error of any result
    double se_error = 0;     // of the standard errors alone
    double condition = 0;    // κ of the design with unit-length columns
    double inverse_norm = 0; // the 2-norm of the inverse of that design's triangle
};

// The largest relative error of a coefficient in the data's terms when the
// coefficients beta over s's kept terms carry a normwise relative error
// normwise in the design with unit-length columns: carried through the map
// back to the data's terms, where an intercept may cancel.
double worst_coefficient_error(const design& d, const solution<double>& s,
                               const Eigen::VectorXd& beta, const std::vector<double>& shifts,
                               double normwise);

// The length of v over s's kept terms in the design with unit-length
// columns (each component times its column's length in the triangle).
double scaled_length(const solution<double>& s, const Eigen::VectorXd& v);

// The largest relative error the double pass may have left in any result.
// y_norm is the length of the (shifted) response column.
double_pass_estimate estimate_double_pass(const design& d, const solution<double>& s,
                                          const std::vector<double>& shifts, double y_norm);

} // namespace models::least_squares_detail

// Iterative refinement of the double pass's solution, for designs whose
// intercept (or another coefficient) cancels beyond what double precision
// leaves.
//
// Contract: each step forms, over every row, the residuals and the gradient
// X'r in extended precision (64-bit significand: a residual that cancels
// the data's sixteen digits keeps three) and solves R'R d = X'r with the
// double triangle (corrected semi-normal equations). A step multiplies the
// error by about 8 u κ² (u the unit roundoff, κ the condition), so the
// driver refines only when that is below 1e-3, and one or two steps give
// the slopes and the residual sum of squares to the last digit. The
// standard errors stay those of the double triangle. One pass over the data
// a step, a few operations a value.
#pragma once

#include "design.h"
#include "precision.h"
#include "rank_revealing_solve.h"

#include <Eigen/Core>

#include <cstddef>
#include <vector>

namespace models::least_squares_detail {

// The rows may be expanded with other shifts than the solution's (a linear
// design's predictors only, its intercept kept): row_shifts leaves a sparse
// row's zeros zero, and the residual takes back what the shifts moved
// through the intercept, so the sums run over the non-zero terms alone.
class refinement {
  public:
    refinement(const design& d, const solution<double>& s, const std::vector<double>& shifts,
               const std::vector<double>& row_shifts);

    // Rows of the data, [y, x1..xk] each, in any order and blocks.
    void add(const double* rows, std::size_t count);

    // Adds the sums of another refinement at the same solution (a range of
    // the rows read on another thread).
    void absorb(const refinement& other);

    // Moves the solution to other shifts (a linear design with its
    // intercept kept first: the intercept takes what they move), without
    // touching the sums: the next step is taken in the new basis. False
    // when the design cannot move.
    bool rebase(const std::vector<double>& shifts);

    // Applies the correction; the residual sum of squares at the corrected
    // solution. Starts the next step's sums from zero.
    long double step(const Eigen::MatrixXd& triangle);
    const vector<long double>& beta() const { return beta_; }
    // The sum of squared residuals at the solution, over the rows added
    // since the last step.
    long double residual_squares() const { return rss_; }
    long long rows() const { return rows_; }

  private:
    // Dense blocks of a linear design's rows (dense_rows) go term by term
    // (add_dense); sparse rows, and powers, a row at a time over the
    // non-zero terms.
    void add_dense(const double* rows, std::size_t count);

    design d_;
    std::vector<int> kept_;
    std::vector<double> shifts_, row_shifts_;
    vector<long double> beta_, gradient_, row_;
    // Per kept term, its shift less its row shift; their sum weighted by
    // the coefficients, which the intercept takes.
    vector<long double> moved_;
    long double offset_ = 0;
    std::vector<int> nonzero_; // the kept terms non-zero in the row at hand
    long double rss_ = 0;
    long long rows_ = 0;
    std::vector<long double> residuals_, shift_; // add_dense's
    std::vector<int> column_;
};

} // namespace models::least_squares_detail

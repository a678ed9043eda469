// The standard diagnostics of a linear least-squares fit, as analysts read
// them beside the coefficient table:
//   Durbin-Watson      sum (e_i - e_{i-1})^2 / sum e_i^2, rows in file order
//   Breusch-Pagan      studentized (Koenker): n R^2 of e^2 regressed on the
//                      model's own terms (from the fit's triangle and X'e^2),
//                      chi-squared with the slopes' df
//   Jarque-Bera        n/6 (S^2 + (K - 3)^2 / 4) from the residuals' central
//                      moments (divisor n), chi-squared with 2 df
//   condition number   of the model matrix with its columns scaled to unit
//                      length (intercept column and raw predictors or powers,
//                      not centred), the ratio of its extreme singular values
//   VIF                per column but the intercept, V_jj (V^-1)_jj with V
//                      the coefficients' covariance without the intercept's
//                      row and column (1 / (1 - R^2) of the column on the
//                      others, weighted alike), from the raw design's
//                      triangle; per column, so a factor's columns each get
//                      one (its terms' generalized VIF is not computed)
// Each value that does not apply is NaN.
#pragma once

#include "least_squares.h"

#include <functional>
#include <vector>

namespace models {

struct linear_diagnostics {
    double durbin_watson = 0;
    double bp_statistic = 0, bp_df = 0, bp_p = 0;
    double jb_statistic = 0, jb_p = 0;
    double condition_number = 0;
    std::vector<double> vif; // per term of the design (NaN: intercept, aliased, no intercept)
};

// The residual (observed less fitted) of a row [y, x1..xk], and into
// gradient the row's design values over the fitted (not aliased) terms.
using row_residual = std::function<double(const double* row, double* gradient)>;

// The sums the diagnostics take from the residuals e of the fitted rows,
// in file order: e's power sums (extended precision), the squared
// differences of neighbours (Durbin-Watson), and X'e^2 over the fitted
// terms (or R^-T X'e^2 when solved: the rows' gradients came already solved
// against the triangle, as the influence of a row solves them).
struct residual_sums {
    long double sum = 0, squares = 0, cubes = 0, fourths = 0, differences = 0;
    double first = 0, last = 0;
    long long count = 0;
    Eigen::VectorXd cross;
    bool solved = false;

    explicit residual_sums(Eigen::Index terms = 0) : cross(Eigen::VectorXd::Zero(terms)) {}
    // One row's residual and gradient (terms values), after the rows added.
    void add(double e, const double* gradient);
    // The sums of the rows that follow these.
    void absorb(const residual_sums& next);
};

// The diagnostics from the sums of every fitted row. False when the sums are
// not of fit.n rows.
bool finish_linear_diagnostics(const design& d, const least_squares_fit& fit,
                               const residual_sums& sums, const Eigen::MatrixXd& triangle,
                               linear_diagnostics& out, bool weighted_intercept = false);

// A residual function of its own for each range of a split read (one
// thread each).
using range_residuals = std::function<row_residual()>;

// The diagnostics of the fit of d to the rows the source sends (read once
// more). triangle: R over the fitted terms, R'R = X'X, in the basis of the
// gradients. weighted_intercept: the design's first column is a weighted
// fit's intercept (sqrt(w), with d.intercept false). With split and
// per_range, the rows are read on every thread where the split can be made,
// each range's sums taken with a residual function of its own and added in
// the ranges' order (Durbin-Watson's difference across each boundary
// included). False when the rows could not be read again.
bool diagnose_linear(const design& d, const least_squares_fit& fit, const row_source& source,
                     const row_residual& residual, const Eigen::MatrixXd& triangle,
                     linear_diagnostics& out, bool weighted_intercept = false,
                     const split_row_source& split = {}, const range_residuals& per_range = {});

// The condition number of the model matrix whose triangle (T'T = X'X) is
// raw, over the kept columns each scaled to unit length: the ratio of its
// extreme singular values (NaN for a column of zeros, infinite when singular).
double scaled_condition(const Eigen::MatrixXd& raw, const std::vector<int>& kept);

// Variance inflation factors per column of the model matrix whose upper
// triangle (T'T = X'X, the intercept's column first when intercept) is raw:
// with V the kept coefficients' covariance without the intercept's row and
// column, vif_j = V_jj (V^-1)_jj, the diagonal of the inverse of V's
// correlation matrix. NaN for the intercept and aliased columns, and for all
// without an intercept or with fewer than two slopes kept.
std::vector<double> inflation_factors(const Eigen::MatrixXd& raw, const std::vector<int>& kept,
                                      bool intercept);

} // namespace models

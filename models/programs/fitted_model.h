// A fitted model that can be taken further, the same for every model: per
// row, the observed side, the fitted value and its gradient with respect to
// the fitted coefficients (the design row of a linear model, the Jacobian
// row of a non-linear one), and for the whole fit the triangle R of those
// coefficients (R'R = X'WX, or J'WJ at a non-linear solution), sigma and
// the residual degrees of freedom. Leverage, standardized residuals, Cook's
// distance and intervals for the mean and for a new case all follow from
// these (influence.h), so a model plugs in by supplying its row's gradient.
#pragma once

#include "formula.h"
#include "least_squares.h"

#include <Eigen/Core>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace models {

class fitted_model {
  public:
    virtual ~fitted_model() = default;

    // The file's columns a row holds, in order: the response's first (its
    // column, or those its transformation reads), then the predictors'.
    std::vector<std::size_t> columns;
    // How many of the leading columns only the observed side reads: a new
    // case to predict need not have them.
    std::size_t response_columns = 1;
    // How many of the trailing columns only the fit reads (the case
    // weights'): a new case to predict need not have them either.
    std::size_t weight_columns = 0;
    // Per column, whether it is categorical: its fields are coded as the
    // fit's level ids (code, level_text). Empty: every column is numeric.
    std::vector<bool> coded;
    // Upper triangular, p x p over the fitted (not aliased) coefficients.
    Eigen::MatrixXd triangle;
    double sigma = 0; // residual standard deviation
    long long df = 0; // residual degrees of freedom
    int p() const { return static_cast<int>(triangle.rows()); }

    // The fitted value at a row and, when gradient is not null, its p
    // derivatives with respect to the coefficients. False when the row
    // cannot be evaluated (a category the fit never saw, a value outside
    // the model's domain).
    virtual bool evaluate(const double* row, double& fitted, double* gradient) const = 0;
    // The observed side: the response as the model's left side gives it
    // (log(y) for "log(y) ~ ...").
    virtual double observed(const double* row) const { return row[0]; }
    // The row's case weight; 1 for an unweighted fit.
    virtual double weight(const double* /*row*/) const { return 1; }
    // A categorical column's field as its level id; NaN for a level the fit
    // never saw. False for a column that is not categorical.
    virtual bool code(std::size_t /*column*/, const std::string& /*text*/,
                      double& /*value*/) const {
        return false;
    }
    // The text of a categorical column's level id, as the data wrote it.
    virtual std::string level_text(std::size_t /*column*/, double /*id*/) const { return {}; }
};

// A least-squares fit of a design, evaluated in the basis it was fitted in
// (the shifted columns or powers the triangle holds). columns: the file's
// columns of its rows [y, x1..xk].
std::unique_ptr<fitted_model> linear_fitted_model(const design& d, const least_squares_fit& fit,
                                                  std::vector<std::size_t> columns);

// A non-linear fit of f at its estimates. columns: the file's columns a row
// holds; places[c] is the index among the names f was parsed with of the
// row's c-th value. data: the fitted rows, a vector per name f was parsed
// with (unused ones empty), for the Jacobian's triangle at the solution.
std::unique_ptr<fitted_model>
nonlinear_fitted_model(const formula& f, const std::vector<double>& estimates,
                       std::vector<std::size_t> columns, std::vector<std::size_t> places,
                       std::size_t response_columns, double rss, long long df,
                       const std::vector<std::vector<double>>& data);

} // namespace models

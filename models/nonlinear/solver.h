// Non-linear least squares: Levenberg-Marquardt with a scaled trust region
// and the QR factorisation of the exact Jacobian, checks that the result is a
// true minimum, and restarts of fits that ran away (a parameter to a plateau
// or to infinity) from starts found by solving the linear parameters exactly.
#pragma once

#include "formula.h"

#include <Eigen/Dense>

#include <string>
#include <vector>

namespace models {

struct nonlinear_fit {
    bool ok = false; // false: the fit could not be attempted (error says why)
    std::string error;
    bool converged = false; // false: no result to report (reason says why)
    std::string reason;
    int iterations = 0;     // model evaluations, all runs included
    bool restarted = false; // the result comes from a restart, not the user's start
    std::vector<std::string> parameters;
    std::vector<double> estimates, std_errors;
    Eigen::MatrixXd covariance; // of the estimates, scaled by rss / df
    double rss = 0;
    long long n = 0;
    long long df = 0;
    std::vector<double> response; // the response (the left side) per row
    std::vector<double> fitted;
};

struct solver_options {
    int max_evaluations = 0; // per Levenberg-Marquardt run; 0: 200 * (p + 1)
    bool restart = true;     // restart fits that ran away
    // Search start values over a grid before the first run (the catalogue's
    // self-start); the given starts set the scale of the grid.
    bool search_first = false;
    // Per column of the data, what rounding each value to double took away
    // (the value as written less the double), or null: residuals formed in
    // extended precision then see the data as the file wrote them.
    const std::vector<std::vector<double>>* low_parts = nullptr;
};

// Fits f to the data. columns[i] holds the rows of the column named i-th
// when f was parsed (unused columns may be empty; used ones share a length).
nonlinear_fit fit_nonlinear(const formula& f, const std::vector<std::vector<double>>& columns,
                            const std::vector<double>& starts, const solver_options& options = {});

// The model's values at the given parameters, e.g. along a grid of x for a
// plot; columns as for fit_nonlinear. Empty if a used column is missing or
// the used columns differ in length.
std::vector<double> evaluate_model(const formula& f,
                                   const std::vector<std::vector<double>>& columns,
                                   const std::vector<double>& estimates);

} // namespace models

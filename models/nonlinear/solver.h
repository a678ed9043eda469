// Non-linear least squares: Levenberg-Marquardt with a scaled trust region
// and the QR factorisation of the exact Jacobian, checks that the result is a
// true minimum, restarts of fits that ran away (a parameter to a plateau or
// to infinity) from starts found by solving the linear parameters exactly,
// and a check of every converged fit against the same grid, which catches a
// start that led to a worse local minimum.
#pragma once

#include "formula.h"

#include <Eigen/Dense>

#include <string>
#include <vector>

namespace models {

// Where a fitted curve of one column x has a pole or a jump between the
// smallest and the largest x of the data: between two neighbouring x.
struct pole_interval {
    bool found = false;
    int column = -1; // the column x of the data
    double from = 0, to = 0;
};

struct nonlinear_fit {
    bool ok = false; // false: the fit could not be attempted (error says why)
    std::string error;
    bool converged = false; // false: no result to report (reason says why)
    std::string reason;
    int iterations = 0;     // model evaluations of the Levenberg-Marquardt runs
    int grid_points = 0;    // points of the check for a lower minimum (one evaluation each)
    bool restarted = false; // the result comes from a restart, not the user's start
    std::string note;       // why restarted, where the start led otherwise
    pole_interval pole;     // the fitted curve has a pole or jump inside the data
    std::vector<std::string> parameters;
    std::vector<double> estimates, std_errors; // NaN error: the parameter is at a bound
    std::vector<int> at_bound;  // per parameter: -1 at its lower bound, 1 upper, 0 inside
    Eigen::MatrixXd covariance; // of the estimates, scaled by rss / df
    double rss = 0;             // weighted with the case weights, where given
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
    // Check a converged fit against the grid around its estimates and go on
    // from any point of it with a lower sum of squares.
    bool check_lower = true;
    // Per column of the data, what rounding each value to double took away
    // (the value as written less the double), or null: residuals formed in
    // extended precision then see the data as the file wrote them.
    const std::vector<std::vector<double>>* low_parts = nullptr;
    // Case weights, one per row (finite, not negative), or null: the sum of
    // squares is sum w (y - f)^2, as weighted least squares defines it.
    const std::vector<double>* weights = nullptr;
    // Bounds per parameter (empty: none; -inf/+inf where one has none).
    std::vector<double> lower, upper;
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

// Whether a model of one column x has a pole or a jump between the
// smallest and the largest x of the rows at the given estimates: a value not
// finite, or a change across an interval between neighbouring samples that
// does not shrink as the interval does (bisected) and exceeds the span of
// the response and the fitted values. Models of more columns: not found.
pole_interval find_pole(const formula& f, const std::vector<std::vector<double>>& columns,
                        const std::vector<double>& estimates);

} // namespace models

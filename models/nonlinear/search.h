// Internal to the non-linear models: a prepared least-squares problem, and
// start values found by solving the parameters that enter the model linearly
// exactly for a grid of the others (variable projection).
#pragma once

#include "formula.h"

#include <Eigen/Dense>

#include <string>
#include <vector>

namespace models {

struct fit_problem {
    const expression* model = nullptr;
    std::vector<Eigen::ArrayXd> columns;   // by column index; unused ones empty
    Eigen::Index n = 0;                    // rows
    Eigen::Index p = 0;                    // parameters
    Eigen::ArrayXd y;                      // the response
    expression::extended_array y_extended; // the response in extended precision
    std::vector<Eigen::ArrayXd> low;       // per column: the data's rounding to double, or empty
};

// The problem of fitting f to the columns (see fit_nonlinear); false with
// error if the data do not fit the formula.
bool make_problem(const formula& f, const std::vector<std::vector<double>>& columns,
                  fit_problem& pr, std::string& error,
                  const std::vector<std::vector<double>>* low = nullptr);

// Residuals model - response at b, formed in extended precision and rounded;
// returns their sum of squares (infinity if not finite).
long double residuals(const fit_problem& pr, const Eigen::VectorXd& b, Eigen::VectorXd& r);

// Which parameters the model is affine in, jointly (taken greedily in order).
std::vector<bool> linear_parameters(const expression& model, Eigen::Index p);

// Sets the parameters marked linear in b to their least-squares values for
// the others; returns the sum of squares (infinity if not finite).
double project_linear(const fit_problem& pr, const std::vector<bool>& linear, Eigen::VectorXd& b);

// The `keep` best parameter vectors over the grid of candidates[j] for each
// non-linear j (linear ones solved by project_linear), best first. Grids
// larger than max_points are sampled at random (fixed seed).
std::vector<Eigen::VectorXd> grid_search(const fit_problem& pr, const std::vector<bool>& linear,
                                         const Eigen::VectorXd& base,
                                         const std::vector<std::vector<double>>& candidates,
                                         size_t keep, size_t max_points);

} // namespace models

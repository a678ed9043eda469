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
    Eigen::ArrayXd root_weights;           // square roots of the case weights; empty: unweighted
    // Rows that count: with weights, those of positive weight (a row of
    // weight zero is no observation, as in weighted least squares).
    Eigen::Index counted = 0;
};

// The problem of fitting f to the columns (see fit_nonlinear); false with
// error if the data do not fit the formula.
// Weights, when given, are one per row, finite and not negative.
bool make_problem(const formula& f, const std::vector<std::vector<double>>& columns,
                  fit_problem& pr, std::string& error,
                  const std::vector<std::vector<double>>* low = nullptr,
                  const std::vector<double>* weights = nullptr);

// Residuals (model - response) * sqrt(weight) at b, formed in extended
// precision and rounded; returns their sum of squares (infinity if not finite).
long double residuals(const fit_problem& pr, const Eigen::VectorXd& b, Eigen::VectorXd& r);

// The weighted residuals and, when asked, the weighted Jacobian, in double.
void weighted_model(const fit_problem& pr, const Eigen::VectorXd& b, Eigen::VectorXd& r,
                    Eigen::MatrixXd* jacobian = nullptr);

// Minimises the sum of squares over the parameters not marked fixed (those
// keep their values in b), by Levenberg-Marquardt to rounding, then polished
// in extended precision. Returns the sum of squares (infinity if the run
// failed or ran out of evaluations); evaluations counts the model's.
long double fit_with_fixed(const fit_problem& pr, Eigen::VectorXd& b,
                           const std::vector<bool>& fixed, int max_evaluations, int& evaluations);

// Box constraints by a projected Levenberg-Marquardt: each step solves the
// damped Gauss-Newton system over the parameters not held at a bound (a
// parameter at its bound whose gradient pushes it outward is held), and the
// step is projected onto the box. Stops when a step changes neither the sum
// of squares nor the parameters beyond rounding. lower/upper hold -inf/+inf
// where a parameter has no bound.
struct bounded_run {
    Eigen::VectorXd b;
    int evaluations = 0;
    bool stopped = false; // ran out of evaluations
};
bounded_run projected_levenberg_marquardt(const fit_problem& pr, Eigen::VectorXd b,
                                          const Eigen::VectorXd& lower,
                                          const Eigen::VectorXd& upper, int max_evaluations);

// Which parameters the model is affine in, jointly (taken greedily in order).
std::vector<bool> linear_parameters(const expression& model, Eigen::Index p);

// Sets the parameters marked linear in b to their least-squares values for
// the others; returns the sum of squares (infinity if not finite).
double project_linear(const fit_problem& pr, const std::vector<bool>& linear, Eigen::VectorXd& b);

// The `keep` best parameter vectors over the grid of candidates[j] for each
// non-linear j (linear ones solved by project_linear), best first. Grids
// larger than max_points are sampled at random (fixed seed); tried, when
// given, receives the number of points evaluated.
std::vector<Eigen::VectorXd> grid_search(const fit_problem& pr, const std::vector<bool>& linear,
                                         const Eigen::VectorXd& base,
                                         const std::vector<std::vector<double>>& candidates,
                                         size_t keep, size_t max_points, size_t* tried = nullptr);

} // namespace models

#include "influence.h"

#include "statistics.h"

#include <Eigen/Dense>

#include <cmath>

namespace models {

influence_meter::influence_meter(const fitted_model& model, double level)
    : model_(model), t_(t_interval_quantile(level, static_cast<double>(model.df))),
      gradient_(static_cast<std::size_t>(model.p())) {}

bool influence_meter::project(const double* row, double& fitted, double& squared) {
    if (!model_.evaluate(row, fitted, gradient_.data()))
        return false;
    const int p = model_.p();
    // R' u = g by forward substitution: R' is lower triangular.
    Eigen::Map<Eigen::VectorXd> u(gradient_.data(), p);
    model_.triangle.transpose().triangularView<Eigen::Lower>().solveInPlace(u);
    squared = u.squaredNorm();
    return true;
}

row_influence influence_meter::influence(const double* row) {
    row_influence r;
    double squared = 0;
    if (!project(row, r.fitted, squared))
        return r;
    const double w = model_.weight(row);
    const double sigma = model_.sigma;
    r.ok = true;
    r.residual = model_.observed(row) - r.fitted;
    r.leverage = w * squared;
    const double rest = 1 - r.leverage;
    r.std_residual = rest > 0 ? std::sqrt(w) * r.residual / (sigma * std::sqrt(rest)) : NAN;
    r.cooks_distance = rest > 0 ? r.std_residual * r.std_residual * r.leverage /
                                      (static_cast<double>(model_.p()) * rest)
                                : NAN;
    return r;
}

row_prediction influence_meter::prediction(const double* row) {
    row_prediction r;
    double squared = 0;
    if (!project(row, r.fit, squared))
        return r;
    const double sigma = model_.sigma;
    r.ok = true;
    r.se_fit = sigma * std::sqrt(squared);
    const double mean_half = t_ * r.se_fit;
    const double new_half = t_ * std::sqrt(r.se_fit * r.se_fit + sigma * sigma);
    r.ci_low = r.fit - mean_half;
    r.ci_high = r.fit + mean_half;
    r.pi_low = r.fit - new_half;
    r.pi_high = r.fit + new_half;
    return r;
}

} // namespace models

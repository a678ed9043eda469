#include "error_estimate.h"

#include <Eigen/SVD>

#include <algorithm>
#include <cmath>

namespace models::least_squares_detail {

bool has_suspect_term(const Eigen::MatrixXd& r, const solution<double>& s) {
    for (int a = 0; a < static_cast<int>(s.kept.size()); ++a) {
        const double length = r.col(s.kept[a]).norm();
        if (!(std::fabs(s.reduced(a, a)) > suspect_share * length))
            return true;
    }
    return false;
}

namespace {

Eigen::VectorXd column_lengths(const solution<double>& s) {
    const int k = static_cast<int>(s.kept.size());
    Eigen::VectorXd lengths(k);
    for (int a = 0; a < k; ++a)
        lengths(a) = s.reduced.col(a).head(a + 1).norm();
    return lengths;
}

} // namespace

double scaled_length(const solution<double>& s, const Eigen::VectorXd& v) {
    return column_lengths(s).cwiseProduct(v).norm();
}

double worst_coefficient_error(const design& d, const solution<double>& s,
                               const Eigen::VectorXd& beta, const std::vector<double>& shifts,
                               double normwise) {
    const int k = static_cast<int>(s.kept.size());
    const Eigen::VectorXd lengths = column_lengths(s);
    const double scaled_beta = lengths.cwiseProduct(beta).norm();
    const int terms = d.terms();
    Eigen::VectorXd error = Eigen::VectorXd::Zero(terms), full = Eigen::VectorXd::Zero(terms);
    for (int a = 0; a < k; ++a) {
        error(s.kept[a]) = normwise * scaled_beta / lengths(a);
        full(s.kept[a]) = beta(a);
    }
    const Eigen::MatrixXd map = unshift_map<double>(d, shifts);
    const Eigen::VectorXd raw = map * full;
    const Eigen::VectorXd raw_error = map.cwiseAbs() * error;
    double worst = 0;
    for (int a = 0; a < k; ++a) {
        const int j = s.kept[a];
        worst = std::max(worst, raw(j) != 0 ? raw_error(j) / std::fabs(raw(j)) : 0.0);
    }
    return worst;
}

double_pass_estimate estimate_double_pass(const design& d, const solution<double>& s,
                                          const std::vector<double>& shifts, double y_norm) {
    double_pass_estimate e;
    const int k = static_cast<int>(s.kept.size());
    if (k == 0)
        return e;
    const Eigen::VectorXd lengths = column_lengths(s);
    const Eigen::MatrixXd scaled =
        s.reduced.topLeftCorner(k, k) * lengths.cwiseInverse().asDiagonal();
    const Eigen::MatrixXd scaled_inverse = lengths.asDiagonal() * s.inverse;
    e.condition = scaled.norm() * scaled_inverse.norm();
    const double condition = e.condition;
    const Eigen::VectorXd scaled_beta = lengths.cwiseProduct(s.beta);
    const double residual = std::sqrt(s.rss);
    const double eta = scaled_beta.norm() > 0 ? residual / (scaled.norm() * scaled_beta.norm()) : 0;
    const double base = unit_roundoff * 8 * std::sqrt(double(k + 1));
    const double normwise = base * (condition + condition * condition * eta);
    double worst = worst_coefficient_error(d, s, s.beta, shifts, normwise);
    // Standard errors: the map back to the data's terms is applied by a
    // triangular solve (finish()), which does not cancel, so the triangle's
    // own error decides. With R + δR = (S + E) D, a standard error is the
    // length of c'R^-1, and δ(c'R^-1) = -(c'R^-1)(E S^-1): relative to it, at
    // most |E| |S^-1|. Each column of E is the fold's rounding, about the
    // unit roundoff times the root of the size; taken as independent
    // roundings, the product is that times the 2-norm of S^-1.
    const Eigen::BDCSVD<Eigen::MatrixXd> svd(scaled_inverse);
    e.inverse_norm = svd.singularValues()(0);
    e.se_error = unit_roundoff * std::sqrt(double(k + 1)) * e.inverse_norm;
    if (residual > 0)
        worst = std::max(worst, base * condition * y_norm / residual);
    e.error = std::max(worst, e.se_error);
    return e;
}

} // namespace models::least_squares_detail

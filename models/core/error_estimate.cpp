#include "error_estimate.h"

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

double_pass_estimate estimate_double_pass(const design& d, const solution<double>& s,
                                          const std::vector<double>& shifts, double y_norm) {
    double_pass_estimate e;
    const int k = static_cast<int>(s.kept.size());
    if (k == 0)
        return e;
    Eigen::VectorXd lengths(k);
    for (int a = 0; a < k; ++a)
        lengths(a) = s.reduced.col(a).head(a + 1).norm();
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

    const int terms = d.terms();
    Eigen::VectorXd error = Eigen::VectorXd::Zero(terms), beta = Eigen::VectorXd::Zero(terms);
    for (int a = 0; a < k; ++a) {
        error(s.kept[a]) = normwise * scaled_beta.norm() / lengths(a);
        beta(s.kept[a]) = s.beta(a);
    }
    const Eigen::MatrixXd map = unshift_map<double>(d, shifts);
    const Eigen::VectorXd raw = map * beta;
    const Eigen::VectorXd raw_error = map.cwiseAbs() * error;
    double worst = 0;
    for (int a = 0; a < k; ++a) {
        const int j = s.kept[a];
        worst = std::max(worst, raw(j) != 0 ? raw_error(j) / std::fabs(raw(j)) : 0.0);
        // Standard errors: the map back may cancel, by bound / exact.
        const Eigen::RowVectorXd row = map.row(j);
        Eigen::MatrixXd cov = Eigen::MatrixXd::Zero(terms, terms);
        for (int b = 0; b < k; ++b)
            for (int c = 0; c < k; ++c)
                cov(s.kept[b], s.kept[c]) = s.cov(b, c);
        const double exact = row * cov * row.transpose();
        const double bound = row.cwiseAbs() * cov.cwiseAbs() * row.cwiseAbs().transpose();
        // First order: R^-1 is good to the unit roundoff times the condition
        // (times the usual root of the size), the variance to twice that and
        // the standard error to it once.
        if (exact > 0)
            e.se_error = std::max(e.se_error, unit_roundoff * std::sqrt(double(k + 1)) * condition *
                                                  bound / exact);
    }
    if (residual > 0)
        worst = std::max(worst, base * condition * y_norm / residual);
    e.error = std::max(worst, e.se_error);
    return e;
}

} // namespace models::least_squares_detail

#include "robust_covariance.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cctype>

namespace models {

bool parse_hc_type(const std::string& text, hc_type& type) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const char* const names[] = {"hc0", "hc1", "hc2", "hc3"};
    for (int i = 0; i < 4; ++i) {
        if (lower == names[i]) {
            type = static_cast<hc_type>(i);
            return true;
        }
    }
    return false;
}

sandwich_covariance::sandwich_covariance(const Eigen::MatrixXd& kept, Eigen::VectorXd beta,
                                         std::vector<double> means, bool centred, hc_type type)
    : beta_(std::move(beta)), means_(std::move(means)), centred_(centred), type_(type) {
    const Eigen::Index k = beta_.size();
    r_ = kept.topLeftCorner(k, k).triangularView<Eigen::Upper>();
    // Centred on the means, the intercept's column is orthogonal to the
    // others: the first row is the intercept's length alone.
    if (centred_ && k > 0)
        r_.row(0).tail(k - 1).setZero();
    meat_ = Eigen::MatrixXd::Zero(k, k);
    z_ = Eigen::VectorXd::Zero(k);
}

void sandwich_covariance::add(double y, const double* x) {
    const Eigen::Index k = beta_.size();
    double fitted = 0;
    for (Eigen::Index a = 0; a < k; ++a) {
        fitted += beta_(a) * x[a];
        z_(a) = centred_ && a > 0 ? x[a] - means_[static_cast<std::size_t>(a)] : x[a];
    }
    const double e = y - fitted;
    double weight = e * e;
    if (type_ == hc_type::hc2 || type_ == hc_type::hc3) {
        u_ = r_.triangularView<Eigen::Upper>().transpose().solve(z_);
        const double leverage = u_.squaredNorm();
        weight /= type_ == hc_type::hc2 ? 1 - leverage : (1 - leverage) * (1 - leverage);
    }
    meat_.selfadjointView<Eigen::Lower>().rankUpdate(z_, weight);
    ++n_;
}

Eigen::MatrixXd sandwich_covariance::covariance() const {
    const Eigen::Index k = beta_.size();
    const Eigen::MatrixXd inverse =
        r_.triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(k, k));
    const Eigen::MatrixXd bread = inverse * inverse.transpose();
    const Eigen::MatrixXd meat = meat_.selfadjointView<Eigen::Lower>();
    Eigen::MatrixXd cov = bread * meat * bread;
    if (type_ == hc_type::hc1 && n_ > k)
        cov *= double(n_) / double(n_ - k);
    if (!centred_ || k == 0)
        return cov;
    // Back from centred coordinates: b0 = b0' - sum m_j b_j.
    Eigen::MatrixXd map = Eigen::MatrixXd::Identity(k, k);
    for (Eigen::Index j = 1; j < k; ++j)
        map(0, j) = -means_[static_cast<std::size_t>(j)];
    return map * cov * map.transpose();
}

} // namespace models

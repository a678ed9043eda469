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
    : beta_(beta.cast<long double>()), means_(std::move(means)), centred_(centred), type_(type) {
    const Eigen::Index k = beta_.size();
    r_ = kept.topLeftCorner(k, k).cast<long double>().triangularView<Eigen::Upper>();
    // Centred on the means, the intercept's column is orthogonal to the
    // others: the first row is the intercept's length alone.
    if (centred_ && k > 0)
        r_.row(0).tail(k - 1).setZero();
    meat_ = long_matrix::Zero(k, k);
    z_ = long_vector::Zero(k);
}

void sandwich_covariance::add(double y, const double* x) {
    const Eigen::Index k = beta_.size();
    long double fitted = 0;
    for (Eigen::Index a = 0; a < k; ++a) {
        fitted += beta_(a) * x[a];
        z_(a) = centred_ && a > 0
                    ? static_cast<long double>(x[a]) - means_[static_cast<std::size_t>(a)]
                    : x[a];
    }
    const long double e = y - fitted;
    long double weight = e * e;
    if (type_ == hc_type::hc2 || type_ == hc_type::hc3) {
        u_ = r_.triangularView<Eigen::Upper>().transpose().solve(z_);
        const long double leverage = u_.squaredNorm();
        weight /= type_ == hc_type::hc2 ? 1 - leverage : (1 - leverage) * (1 - leverage);
    }
    meat_.selfadjointView<Eigen::Lower>().rankUpdate(z_, weight);
    ++n_;
}

Eigen::MatrixXd sandwich_covariance::covariance() const {
    const Eigen::Index k = beta_.size();
    const long_matrix inverse =
        r_.triangularView<Eigen::Upper>().solve(long_matrix::Identity(k, k));
    const long_matrix bread = inverse * inverse.transpose();
    const long_matrix meat = meat_.selfadjointView<Eigen::Lower>();
    long_matrix cov = bread * meat * bread;
    if (type_ == hc_type::hc1 && n_ > k)
        cov *= static_cast<long double>(n_) / static_cast<long double>(n_ - k);
    if (centred_ && k > 0) {
        // Back from centred coordinates: b0 = b0' - sum m_j b_j.
        long_matrix map = long_matrix::Identity(k, k);
        for (Eigen::Index j = 1; j < k; ++j)
            map(0, j) = -static_cast<long double>(means_[static_cast<std::size_t>(j)]);
        cov = map * cov * map.transpose();
    }
    return cov.cast<double>();
}

} // namespace models

#include "refinement.h"

namespace models::least_squares_detail {

refinement::refinement(const design& d, const solution<double>& s,
                       const std::vector<double>& shifts)
    : d_(d), kept_(s.kept), shifts_(shifts), beta_(s.beta.cast<long double>()),
      gradient_(vector<long double>::Zero(beta_.size())),
      row_(vector<long double>::Zero(d.terms())) {}

void refinement::add(const double* rows, std::size_t count) {
    const std::size_t raw = static_cast<std::size_t>(d_.raw_columns());
    const int k = static_cast<int>(kept_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const double* row = rows + i * raw;
        expand_terms<long double>(d_, row, shifts_, [&](int j) -> long double& { return row_(j); });
        // Zero terms (most of a categorical design's) add exact zeros:
        // skipped.
        long double residual = shifted_response<long double>(row, shifts_);
        for (int a = 0; a < k; ++a)
            if (row_(kept_[a]) != 0)
                residual -= beta_(a) * row_(kept_[a]);
        for (int a = 0; a < k; ++a)
            if (row_(kept_[a]) != 0)
                gradient_(a) += row_(kept_[a]) * residual;
        rss_ += residual * residual;
    }
}

long double refinement::step(const Eigen::MatrixXd& triangle) {
    const int k = static_cast<int>(kept_.size());
    const matrix<long double> r = triangle.topLeftCorner(k, k).cast<long double>();
    const auto tri = r.triangularView<Eigen::Upper>();
    const vector<long double> half = tri.transpose().solve(gradient_);
    beta_ += tri.solve(half);
    // The sum of squares fell by |R d|^2 = |half|^2 from the old solution's.
    const long double rss = rss_ - half.squaredNorm();
    gradient_.setZero();
    rss_ = 0;
    return rss > 0 ? rss : 0;
}

} // namespace models::least_squares_detail

#include "refinement.h"

namespace models::least_squares_detail {

refinement::refinement(const design& d, const solution<double>& s,
                       const std::vector<double>& shifts, const std::vector<double>& row_shifts)
    : d_(d), kept_(s.kept), shifts_(shifts), row_shifts_(row_shifts),
      beta_(s.beta.cast<long double>()), gradient_(vector<long double>::Zero(beta_.size())),
      row_(vector<long double>::Zero(d.terms())), moved_(vector<long double>::Zero(beta_.size())) {
    // Only a linear design's predictors may move, and only with its
    // intercept kept first to take what they move.
    const bool movable = d.intercept && d.degree == 0 && !kept_.empty() && kept_[0] == 0 &&
                         shifts.size() == row_shifts.size();
    if (!movable) {
        row_shifts_ = shifts_;
        return;
    }
    for (std::size_t a = 1; a < kept_.size(); ++a) {
        const int c = kept_[a]; // term j of a linear design is raw column j (y is 0)
        moved_(static_cast<Eigen::Index>(a)) = static_cast<long double>(shifts[c]) - row_shifts[c];
    }
    offset_ = moved_.dot(beta_);
}

void refinement::add(const double* rows, std::size_t count) {
    const std::size_t raw = static_cast<std::size_t>(d_.raw_columns());
    const int k = static_cast<int>(kept_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const double* row = rows + i * raw;
        expand_terms<long double>(d_, row, row_shifts_,
                                  [&](int j) -> long double& { return row_(j); });
        // Only the non-zero terms count (most of a categorical design's
        // are exact zeros).
        nonzero_.clear();
        for (int a = 0; a < k; ++a)
            if (row_(kept_[a]) != 0)
                nonzero_.push_back(a);
        long double residual = shifted_response<long double>(row, shifts_) + offset_;
        for (int a : nonzero_)
            residual -= beta_(a) * row_(kept_[a]);
        for (int a : nonzero_)
            gradient_(a) += row_(kept_[a]) * residual;
        rss_ += residual * residual;
    }
    rows_ += static_cast<long long>(count);
}

void refinement::absorb(const refinement& other) {
    gradient_ += other.gradient_;
    rss_ += other.rss_;
    rows_ += other.rows_;
}

bool refinement::rebase(const std::vector<double>& shifts) {
    if (shifts == shifts_)
        return true;
    const bool movable = d_.intercept && d_.degree == 0 && !kept_.empty() && kept_[0] == 0 &&
                         shifts.size() == shifts_.size() && shifts.size() == row_shifts_.size();
    if (!movable)
        return false;
    // The same fitted values: shifts[0] + b0' + sum b (x - shifts) equals
    // shifts_[0] + b0 + sum b (x - shifts_).
    long double intercept = beta_(0) + (static_cast<long double>(shifts_[0]) - shifts[0]);
    for (std::size_t a = 1; a < kept_.size(); ++a) {
        const int c = kept_[a];
        intercept += beta_(static_cast<Eigen::Index>(a)) *
                     (static_cast<long double>(shifts[c]) - shifts_[c]);
        moved_(static_cast<Eigen::Index>(a)) = static_cast<long double>(shifts[c]) - row_shifts_[c];
    }
    beta_(0) = intercept;
    shifts_ = shifts;
    offset_ = moved_.dot(beta_);
    return true;
}

long double refinement::step(const Eigen::MatrixXd& triangle) {
    const int k = static_cast<int>(kept_.size());
    // The gradient in the basis of the triangle: a column less its shift is
    // the row's column less the moved part times the intercept's ones.
    const long double residual_sum = gradient_(0);
    gradient_ -= moved_ * residual_sum;
    const matrix<long double> r = triangle.topLeftCorner(k, k).cast<long double>();
    const auto tri = r.triangularView<Eigen::Upper>();
    const vector<long double> half = tri.transpose().solve(gradient_);
    beta_ += tri.solve(half);
    offset_ = moved_.dot(beta_);
    // The sum of squares fell by |R d|^2 = |half|^2 from the old solution's.
    const long double rss = rss_ - half.squaredNorm();
    gradient_.setZero();
    rss_ = 0;
    rows_ = 0;
    return rss > 0 ? rss : 0;
}

} // namespace models::least_squares_detail

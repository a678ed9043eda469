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

bool refinement::dense_block(const double* rows, std::size_t count) const {
    if (d_.degree != 0)
        return false;
    const std::size_t raw = static_cast<std::size_t>(d_.raw_columns());
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t c = 1; c < raw; ++c)
            zeros += rows[i * raw + c] == shift_of(row_shifts_, static_cast<int>(c));
    return 4 * zeros <= count * (raw - 1);
}

void refinement::add_dense(const double* rows, std::size_t count) {
    const std::size_t raw = static_cast<std::size_t>(d_.raw_columns());
    const int k = static_cast<int>(kept_.size());
    residuals_.resize(count);
    // The kept terms' raw columns and row shifts (column 0: the intercept).
    column_.resize(static_cast<std::size_t>(k));
    shift_.resize(static_cast<std::size_t>(k));
    for (int a = 0; a < k; ++a) {
        const int term = kept_[static_cast<std::size_t>(a)];
        const int c = d_.intercept ? term : term + 1;
        column_[static_cast<std::size_t>(a)] = c;
        shift_[static_cast<std::size_t>(a)] =
            c == 0 ? 0.0L : static_cast<long double>(shift_of(row_shifts_, c));
    }
    const long double response_shift = shift_of(shifts_, 0);
    // The residuals, a row at a time, kept in extended precision ...
    for (std::size_t i = 0; i < count; ++i) {
        const double* row = rows + i * raw;
        long double residual = static_cast<long double>(row[0]) - response_shift + offset_;
        for (int a = 0; a < k; ++a) {
            const int c = column_[static_cast<std::size_t>(a)];
            const long double term =
                c == 0 ? 1.0L
                       : static_cast<long double>(row[c]) - shift_[static_cast<std::size_t>(a)];
            residual -= beta_(a) * term;
        }
        residuals_[i] = residual;
        rss_ += residual * residual;
    }
    // ... then X'r a term at a time, each sum held in a register rather than
    // stored back to memory at every row.
    for (int a = 0; a < k; ++a) {
        const int c = column_[static_cast<std::size_t>(a)];
        const long double shift = shift_[static_cast<std::size_t>(a)];
        long double sum = 0;
        if (c == 0)
            for (std::size_t i = 0; i < count; ++i)
                sum += residuals_[i];
        else
            for (std::size_t i = 0; i < count; ++i)
                sum += (static_cast<long double>(rows[i * raw + c]) - shift) * residuals_[i];
        gradient_(a) += sum;
    }
}

void refinement::add(const double* rows, std::size_t count) {
    const std::size_t raw = static_cast<std::size_t>(d_.raw_columns());
    const int k = static_cast<int>(kept_.size());
    if (dense_block(rows, count)) {
        add_dense(rows, count);
        rows_ += static_cast<long long>(count);
        return;
    }
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

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

void refinement::add_dense(const double* rows, std::size_t count) {
    const std::size_t raw = static_cast<std::size_t>(d_.raw_columns());
    const int k = static_cast<int>(kept_.size());
    residuals_.resize(count);
    // The kept terms' raw columns and row shifts (column 0: the intercept).
    column_.resize(static_cast<std::size_t>(k));
    shift_.resize(static_cast<std::size_t>(k));
    for (int a = 0; a < k; ++a) {
        const int term = kept_[static_cast<std::size_t>(a)];
        const int c = raw_column_of_term(d_, term);
        column_[static_cast<std::size_t>(a)] = c;
        shift_[static_cast<std::size_t>(a)] =
            c == 0 ? 0.0L : static_cast<long double>(shift_of(row_shifts_, c));
    }
    const long double response_shift = shift_of(shifts_, 0);
    // A term's value in a row, in extended precision.
    const auto term = [&](const double* row, int a) {
        const int c = column_[static_cast<std::size_t>(a)];
        return c == 0 ? 1.0L
                      : static_cast<long double>(row[c]) - shift_[static_cast<std::size_t>(a)];
    };
    // The residuals, four rows at a time: the x87 unit adds with a latency
    // of several cycles, so four independent running sums keep it busy
    // where one would wait on itself at every term. They are kept in
    // extended precision ...
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const double* row = rows + i * raw;
        long double r0 = static_cast<long double>(row[0]) - response_shift + offset_;
        long double r1 = static_cast<long double>(row[raw]) - response_shift + offset_;
        long double r2 = static_cast<long double>(row[2 * raw]) - response_shift + offset_;
        long double r3 = static_cast<long double>(row[3 * raw]) - response_shift + offset_;
        for (int a = 0; a < k; ++a) {
            const long double b = beta_(a);
            r0 -= b * term(row, a);
            r1 -= b * term(row + raw, a);
            r2 -= b * term(row + 2 * raw, a);
            r3 -= b * term(row + 3 * raw, a);
        }
        residuals_[i] = r0;
        residuals_[i + 1] = r1;
        residuals_[i + 2] = r2;
        residuals_[i + 3] = r3;
    }
    for (; i < count; ++i) {
        const double* row = rows + i * raw;
        long double residual = static_cast<long double>(row[0]) - response_shift + offset_;
        for (int a = 0; a < k; ++a)
            residual -= beta_(a) * term(row, a);
        residuals_[i] = residual;
    }
    const long double* r = residuals_.data();
    rss_ += extended_sum(count, [r](std::size_t j) { return r[j] * r[j]; });
    // ... then X'r a term at a time over four running sums held in
    // registers rather than stored back to memory at every row.
    for (int a = 0; a < k; ++a) {
        const int c = column_[static_cast<std::size_t>(a)];
        const long double shift = shift_[static_cast<std::size_t>(a)];
        if (c == 0)
            gradient_(a) += extended_sum(count, [r](std::size_t j) { return r[j]; });
        else
            gradient_(a) += extended_sum(count, [&](std::size_t j) {
                return (static_cast<long double>(rows[j * raw + c]) - shift) * r[j];
            });
    }
}

void refinement::add(const double* rows, std::size_t count) {
    const std::size_t raw = static_cast<std::size_t>(d_.raw_columns());
    const int k = static_cast<int>(kept_.size());
    if (dense_rows(d_, rows, count, row_shifts_)) {
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

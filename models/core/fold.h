// The fold: rows of the data folded, block by block, into the triangle R of
// a QR factorisation of the design [terms | y], so that R'R = X'X and memory
// stays a few times p² whatever the row count.
//
// Contract: Householder QR of the triangle stacked on each block of rows,
// in T (double for the first pass, quad for the last). Orthogonal steps keep
// the rounding error of R at a small multiple of T's unit roundoff times
// the norm of each column, whatever the conditioning (backward stable), and
// the triangle does not depend on the order of the rows beyond that
// rounding. Each column but the intercept is shifted by a value near the
// data (the first row's, or a mean from an earlier pass): a predictor near
// 1e9 with a small spread then loses nothing to the constant it shares with
// the intercept. Beside the triangle, the fold keeps per raw column the sum
// of its shifted values in extended precision, from which the driver takes
// the means to the last digit.
#pragma once

#include "design.h"
#include "precision.h"

#include <Eigen/Householder>
#include <Eigen/QR>

#include <cstddef>
#include <utility>
#include <vector>

namespace models::least_squares_detail {

// Rows gathered before they are folded into the triangle.
inline constexpr int block_rows = 512;

template <class T> class accumulator {
  public:
    // Empty shifts with an intercept: the first row added gives them.
    accumulator(const design& d, std::vector<double> shifts)
        : d_(d), m_(d.terms() + 1), shifts_(std::move(shifts)),
          work_(matrix<T>::Zero(m_ + block_rows, m_)) {}

    void add(const double* rows, std::size_t count) {
        const int raw = d_.raw_columns();
        for (std::size_t i = 0; i < count; ++i) {
            const double* row = rows + i * raw;
            if (d_.intercept && shifts_.empty()) {
                shifts_.assign(row, row + raw);
                sums_.assign(raw, 0.0L);
            }
            for (std::size_t c = 0; c < sums_.size(); ++c)
                sums_[c] += static_cast<long double>(row[c]) - shifts_[c];
            const int at = m_ + pending_;
            expand_terms<T>(d_, row, shifts_, [&](int j) -> T& { return work_(at, j); });
            work_(at, m_ - 1) = shifted_response<T>(row, shifts_);
            if (++pending_ == block_rows)
                fold();
        }
        n_ += static_cast<long long>(count);
    }

    // The triangle of every row added (its first terms + 1 rows; the rest
    // are zero).
    const matrix<T>& triangle() {
        if (pending_ > 0)
            fold();
        return work_;
    }
    long long rows() const { return n_; }
    const std::vector<double>& shifts() const { return shifts_; }
    // Per raw column, the sum of its values less its shift, in extended
    // precision: the means, to the last digit (empty without an intercept).
    const std::vector<long double>& sums() const { return sums_; }

  private:
    // Householder QR of the triangle stacked on the pending rows: the new
    // triangle spans both.
    void fold() {
        Eigen::Ref<matrix<T>> stacked = work_.topRows(m_ + pending_);
        Eigen::HouseholderQR<Eigen::Ref<matrix<T>>> qr(stacked);
        work_.topRows(m_).template triangularView<Eigen::StrictlyLower>().setZero();
        work_.bottomRows(block_rows).setZero();
        pending_ = 0;
    }

    design d_;
    int m_;
    std::vector<double> shifts_;
    std::vector<long double> sums_;
    matrix<T> work_;
    int pending_ = 0;
    long long n_ = 0;
};

} // namespace models::least_squares_detail

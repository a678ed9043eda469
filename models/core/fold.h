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
//
// Sparse rows (a categorical column's indicators and their products with
// numbers: mostly exact zeros) are folded apart, grouped by which columns
// are non-zero: each group keeps the small triangle of its own columns, and
// the groups' triangles are folded into the whole one at the end. A row is
// exactly zero outside its group's columns, so this is the same
// factorisation of the same rows (the rows taken in another order), at a
// few times the square of the group's width a row instead of the whole
// design's.
#pragma once

#include "design.h"
#include "precision.h"

#include <Eigen/Householder>
#include <Eigen/QR>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace models::least_squares_detail {

// Rows gathered before they are folded into the triangle.
inline constexpr int block_rows = 512;
// Reflectors gathered into one blocked update of the columns to their
// right (matrix products instead of a rank-one update per reflector).
inline constexpr int fold_panel_columns = 8;
// Sparse rows are grouped only in designs at least this wide (narrower ones
// gain nothing), and only when at most half of a row's columns are non-zero
// (else the group's triangle costs as much as the whole one).
inline constexpr int grouped_width_min = 16;
// Rows a group gathers before they are folded into its triangle.
inline constexpr int group_block_rows = 128;
// Memory the groups' triangles may take together; rows of further patterns
// go to the whole triangle.
inline constexpr std::size_t group_bytes_max = std::size_t(8) << 20;

// The columns that are non-zero in a row, as a key.
struct pattern_hash {
    std::size_t operator()(const std::vector<int>& columns) const {
        std::uint64_t h = 14695981039346656037ull;
        for (int c : columns)
            h = (h ^ static_cast<std::uint64_t>(c)) * 1099511628211ull;
        return static_cast<std::size_t>(h);
    }
};

template <class T> class accumulator {
  public:
    // Empty shifts with an intercept: the first row added gives them.
    accumulator(const design& d, std::vector<double> shifts)
        : d_(d), m_(d.terms() + 1), shifts_(std::move(shifts)),
          work_(matrix<T>::Zero(m_ + block_rows, m_)), row_(m_) {}

    void add(const double* rows, std::size_t count) {
        const int raw = d_.raw_columns();
        if (count > 0 && d_.intercept && shifts_.empty()) {
            shifts_.assign(rows, rows + raw);
            sums_.assign(raw, 0.0L);
        }
        // The sums a column at a time, held in registers over the block.
        for (std::size_t c = 0; c < sums_.size(); ++c) {
            const long double shift = shifts_[c];
            sums_[c] += extended_sum(count, [&](std::size_t i) {
                return static_cast<long double>(rows[i * raw + c]) - shift;
            });
        }
        if (dense_rows(d_, rows, count, shifts_)) {
            add_dense(rows, count);
            n_ += static_cast<long long>(count);
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const double* row = rows + i * raw;
            expand_terms<T>(d_, row, shifts_, [&](int j) -> T& { return row_[j]; });
            row_[m_ - 1] = shifted_response<T>(row, shifts_);
            if (!add_sparse()) {
                for (int j = 0; j < m_; ++j)
                    work_(m_ + pending_, j) = row_[j];
                if (++pending_ == block_rows)
                    fold();
            }
        }
        n_ += static_cast<long long>(count);
    }

    // The triangle of every row added (its first terms + 1 rows; the rest
    // are zero).
    const matrix<T>& triangle() {
        merge_groups();
        if (pending_ > 0)
            fold();
        return work_;
    }
    // Folds the rows of another accumulator of the same design and shifts
    // into this one (a range of the data read on another thread): its
    // triangle is stacked under this one's and folded, which is the QR of
    // all the rows to rounding; its sums and rows are added.
    void absorb(accumulator& other) {
        const matrix<T>& t = other.triangle();
        for (int r = 0; r < m_; ++r) {
            work_.row(m_ + pending_) = t.row(r);
            if (++pending_ == block_rows)
                fold();
        }
        for (std::size_t c = 0; c < sums_.size() && c < other.sums_.size(); ++c)
            sums_[c] += other.sums_[c];
        n_ += other.n_;
    }
    // Keeps the sums of the shifted values (sums()) with shifts given at
    // construction, as it does with the first row's.
    void keep_sums() { sums_.assign(static_cast<std::size_t>(d_.raw_columns()), 0.0L); }

    long long rows() const { return n_; }
    const std::vector<double>& shifts() const { return shifts_; }
    // Per raw column, the sum of its values less its shift, in extended
    // precision: the means, to the last digit (empty without an intercept).
    const std::vector<long double>& sums() const { return sums_; }

  private:
    // Householder QR of the triangle stacked on the pending rows: the new
    // triangle spans both.
    void fold() { fold(work_, m_, pending_); }

    // A dense block of a linear design's rows, copied into the pending rows
    // a column at a time: the same values expand_terms gives (a finite
    // value equal to its shift differs from it by an exact zero).
    void add_dense(const double* rows, std::size_t count) {
        const std::size_t raw = static_cast<std::size_t>(d_.raw_columns());
        for (std::size_t done = 0; done < count;) {
            const std::size_t n = std::min(count - done, std::size_t(block_rows - pending_));
            const double* block = rows + done * raw;
            for (int j = 0; j < m_ - 1; ++j) {
                const int c = raw_column_of_term(d_, j);
                if (c == 0) {
                    work_.col(j).segment(m_ + pending_, static_cast<Eigen::Index>(n)).setOnes();
                    continue;
                }
                const T shift = T(shift_of(shifts_, c));
                for (std::size_t i = 0; i < n; ++i)
                    work_(m_ + pending_ + static_cast<Eigen::Index>(i), j) =
                        T(block[i * raw + c]) - shift;
            }
            const T shift = T(shift_of(shifts_, 0));
            for (std::size_t i = 0; i < n; ++i)
                work_(m_ + pending_ + static_cast<Eigen::Index>(i), m_ - 1) =
                    T(block[i * raw]) - shift;
            pending_ += static_cast<int>(n);
            done += n;
            if (pending_ == block_rows)
                fold();
        }
    }

    // A group of rows with the same non-zero columns, and their triangle.
    struct group {
        std::vector<int> columns;
        matrix<T> work; // the triangle over columns, then the pending rows
        int pending = 0;
    };

    // Puts the row into its group; false when it is dense or there is no
    // room for a new group.
    bool add_sparse() {
        if (m_ < grouped_width_min)
            return false;
        int nonzero = 0;
        for (int j = 0; j < m_; ++j)
            nonzero += row_[j] != T(0);
        if (nonzero > 0 && 2 * nonzero > m_)
            return false;
        pattern_.clear();
        for (int j = 0; j < m_; ++j)
            if (row_[j] != T(0))
                pattern_.push_back(j);
        const int width = static_cast<int>(pattern_.size());
        if (width == 0) // a row of zeros adds nothing to the triangle
            return true;
        if (2 * width > m_)
            return false;
        auto found = group_of_.find(pattern_);
        if (found == group_of_.end()) {
            const std::size_t bytes =
                sizeof(T) * static_cast<std::size_t>((width + group_block_rows) * width);
            if (group_bytes_ + bytes > group_bytes_max)
                return false;
            group_bytes_ += bytes;
            groups_.push_back({pattern_, matrix<T>::Zero(width + group_block_rows, width), 0});
            found = group_of_.emplace(pattern_, static_cast<int>(groups_.size() - 1)).first;
        }
        group& g = groups_[static_cast<std::size_t>(found->second)];
        for (int c = 0; c < width; ++c)
            g.work(width + g.pending, c) = row_[g.columns[static_cast<std::size_t>(c)]];
        if (++g.pending == group_block_rows)
            fold(g.work, width, g.pending);
        return true;
    }

    // Folds each group's triangle, as rows over the whole design's columns,
    // into the whole triangle; the groups are then empty.
    void merge_groups() {
        for (group& g : groups_) {
            const int width = static_cast<int>(g.columns.size());
            if (g.pending > 0)
                fold(g.work, width, g.pending);
            for (int r = 0; r < width; ++r) {
                work_.row(m_ + pending_).setZero();
                for (int c = r; c < width; ++c)
                    work_(m_ + pending_, g.columns[static_cast<std::size_t>(c)]) = g.work(r, c);
                if (++pending_ == block_rows)
                    fold();
            }
        }
        groups_.clear();
        group_of_.clear();
        group_bytes_ = 0;
    }

    // Householder QR of a triangle of width columns stacked on its pending
    // rows: the new triangle spans both.
    static void fold(matrix<T>& work, int width, int& pending) {
        Eigen::Ref<matrix<T>> stacked = work.topRows(width + pending);
        vector<T> coefficients(width);
        Eigen::internal::householder_qr_inplace_blocked<Eigen::Ref<matrix<T>>, vector<T>>::run(
            stacked, coefficients, fold_panel_columns);
        work.topRows(width).template triangularView<Eigen::StrictlyLower>().setZero();
        work.bottomRows(work.rows() - width).setZero();
        pending = 0;
    }

    design d_;
    int m_;
    std::vector<double> shifts_;
    std::vector<long double> sums_;
    matrix<T> work_;
    int pending_ = 0;
    vector<T> row_; // the row being added: its terms, then y
    std::vector<int> pattern_;
    std::vector<group> groups_;
    std::unordered_map<std::vector<int>, int, pattern_hash> group_of_;
    std::size_t group_bytes_ = 0;
    long long n_ = 0;
};

} // namespace models::least_squares_detail

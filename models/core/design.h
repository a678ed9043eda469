// What is regressed on what, and the one place where a raw row of the data
// becomes a row of the design.
//
// Rows arrive as [y, x1, ..., xk]: the response first, then the predictor
// columns the user chose. The design's terms are an optional intercept
// (a column of ones) followed either by the k predictors or by the powers
// 1..d of x1. Every column but the intercept may be shifted by a constant
// near the data (see least_squares.h); a shift changes no fitted quantity
// but the intercept, which the solve maps back.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace models {

struct design {
    int predictors = 1;    // k, the predictor columns in a row
    bool intercept = true; // a constant term first
    int degree = 0;        // 0: linear in the k predictors; d >= 1: the powers 1..d of x1
    // Coefficients of the full model: the intercept, then one per predictor
    // or per power.
    int terms() const { return (intercept ? 1 : 0) + (degree > 0 ? degree : predictors); }
    // Values in a raw row: y and the k predictors.
    int raw_columns() const { return predictors + 1; }
};

// The shift of raw column c (0 is y); no shifts at all means none.
inline double shift_of(const std::vector<double>& shifts, int c) {
    return shifts.empty() ? 0.0 : shifts[static_cast<std::size_t>(c)];
}

// The raw column term j of a linear design (degree 0) is taken from: the
// predictor's column (1..k), or 0 for the intercept (0 is y's column, never
// a term's). expand_terms writes the terms in this order.
inline int raw_column_of_term(const design& d, int j) {
    return d.intercept ? j : j + 1;
}

// Writes the design's terms for one raw row as out(0) .. out(terms - 1), in
// the precision T: each shifted value is formed in T (exact for doubles
// within a factor two of their shift, to T's precision otherwise), and the
// powers of a polynomial design are taken in T. The response is not
// written; see shifted_response.
template <class T, class Out>
void expand_terms(const design& d, const double* row, const std::vector<double>& shifts,
                  Out&& out) {
    int j = 0;
    if (d.intercept)
        out(j++) = T(1);
    if (d.degree > 0) {
        const T t = T(row[1]) - T(shift_of(shifts, 1));
        T power = t;
        for (int k = 1; k <= d.degree; ++k, power *= t)
            out(j++) = power;
    } else {
        // A finite value equal to its shift (the zeros of a sparse row) is
        // an exact zero, without arithmetic in T.
        for (; j < d.terms(); ++j) {
            const int c = raw_column_of_term(d, j);
            const double shift = shift_of(shifts, c);
            out(j) = row[c] == shift && std::isfinite(shift) ? T(0) : T(row[c]) - T(shift);
        }
    }
}

// Whether a block of raw rows of a linear design is dense: at most a
// quarter of its predictor values equal their shift (the zeros of sparse,
// categorical rows). Dense blocks are handled a column at a time, without
// looking for each row's non-zero terms.
inline bool dense_rows(const design& d, const double* rows, std::size_t count,
                       const std::vector<double>& shifts) {
    if (d.degree != 0)
        return false;
    const std::size_t raw = static_cast<std::size_t>(d.raw_columns());
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t c = 1; c < raw; ++c)
            zeros += rows[i * raw + c] == shift_of(shifts, static_cast<int>(c));
    return 4 * zeros <= count * (raw - 1);
}

// The row's response less its shift, in T.
template <class T> T shifted_response(const double* row, const std::vector<double>& shifts) {
    return T(row[0]) - T(shift_of(shifts, 0));
}

} // namespace models

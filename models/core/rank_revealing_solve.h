// The rank-revealing solve of the least-squares problem held in a triangle,
// and the map of its solution back to the data's own terms.
//
// Contract: solve() walks the terms in order and drops (aliases) a term
// whose diagonal in the triangle, its length beyond the span of the earlier
// kept terms, is at most share times its full length, re-triangularising
// the remaining columns after each drop; the kept terms are then solved by
// back substitution in T. The caller picks share: 0 in the double pass
// (only exact zeros are dropped there; the driver sends suspect terms to the
// quadruple pass), aliased_share in the quadruple pass. finish() maps the
// shifted design's coefficients and covariance to the data's terms (the
// intercept takes back what the shifts moved, powers of (x - c) expand by
// the binomial theorem) in T, and rounds to double once at the end.
#pragma once

#include "least_squares.h"
#include "precision.h"

#include <Eigen/Householder>
#include <Eigen/QR>

#include <vector>

namespace models::least_squares_detail {

// In the quadruple pass, a term this close to the span of the others is an
// exact combination of them at the data's own rounding level (the data are
// doubles, rounded at 1.1e-16): it is aliased.
inline constexpr double aliased_share = 1e-14;

// The solution of the least-squares problem held in a triangle, in T.
template <class T> struct solution {
    std::vector<bool> aliased;
    std::vector<int> kept; // term indices, in order
    vector<T> beta;        // per kept term, in the shifted design
    matrix<T> cov;         // (X'X)^-1 over the kept terms, in the shifted design
    matrix<T> inverse;     // R^-1 of the kept terms
    matrix<T> reduced;     // the triangle of [kept terms | y]
    T rss = 0;
};

// Drops the terms whose share of length beyond the earlier terms is below
// share, re-triangularising the rest after each drop; solves the rest.
template <class T> solution<T> solve(const matrix<T>& r, int terms, double share) {
    using std::abs;
    solution<T> s;
    s.aliased.assign(terms, false);
    std::vector<T> norms(terms);
    for (int j = 0; j < terms; ++j)
        norms[j] = r.col(j).norm();
    matrix<T> w = r;
    std::vector<int> columns(terms);
    for (int j = 0; j < terms; ++j)
        columns[j] = j;
    for (int pos = 0; pos < static_cast<int>(columns.size());) {
        const int term = columns[pos];
        if (norms[term] > 0 && abs(w(pos, pos)) > T(share) * norms[term]) {
            ++pos;
            continue;
        }
        s.aliased[term] = true;
        columns.erase(columns.begin() + pos);
        // Without the column, the rows from pos down are re-triangularised.
        matrix<T> rest(w.rows() - pos, w.cols() - pos - 1);
        rest << w.block(pos, pos + 1, w.rows() - pos, w.cols() - pos - 1);
        Eigen::HouseholderQR<Eigen::Ref<matrix<T>>> qr(rest);
        rest.template triangularView<Eigen::StrictlyLower>().setZero();
        matrix<T> next = matrix<T>::Zero(w.rows(), w.cols() - 1);
        next.topLeftCorner(pos, pos) = w.topLeftCorner(pos, pos);
        next.block(0, pos, pos, w.cols() - pos - 1) = w.block(0, pos + 1, pos, w.cols() - pos - 1);
        next.bottomRightCorner(rest.rows(), rest.cols()) = rest;
        w = next;
    }
    const int k = static_cast<int>(columns.size());
    s.kept = columns;
    s.reduced = w;
    const auto tri = w.topLeftCorner(k, k).template triangularView<Eigen::Upper>();
    s.beta = tri.solve(w.col(w.cols() - 1).head(k));
    s.inverse = tri.solve(matrix<T>::Identity(k, k));
    s.cov = s.inverse * s.inverse.transpose();
    s.rss = w.col(w.cols() - 1).tail(w.rows() - k).squaredNorm();
    return s;
}

// The map from the shifted design's coefficients to the data's own: the
// intercept takes back what the shifts moved; powers of (x - c) expand to
// powers of x by the binomial theorem.
template <class T> matrix<T> unshift_map(const design& d, const std::vector<double>& shifts) {
    const int terms = d.terms();
    matrix<T> map = matrix<T>::Identity(terms, terms);
    if (!d.intercept || shifts.empty())
        return map;
    if (d.degree == 0) {
        for (int j = 1; j < terms; ++j)
            map(0, j) = -T(shifts[j]);
        return map;
    }
    const T minus_c = -T(shifts[1]);
    // map(j, k) = C(k, j) (-c)^(k - j) for j <= k.
    for (int k = 0; k < terms; ++k) {
        T binomial = 1, power = 1;
        for (int j = k; j >= 0; --j) {
            map(j, k) = binomial * power;
            binomial = binomial * T(j) / T(k - j + 1);
            power *= minus_c;
        }
    }
    return map;
}

struct finished {
    std::vector<double> coefficients, std_errors;
    double rss = 0;
    std::vector<double> shifts, shifted_coefficients;
};

// The coefficients and standard errors in the data's own terms.
template <class T>
finished finish(const design& d, const solution<T>& s, const std::vector<double>& shifts,
                long long n) {
    const int terms = d.terms();
    vector<T> beta = vector<T>::Zero(terms);
    for (std::size_t a = 0; a < s.kept.size(); ++a)
        beta(s.kept[a]) = s.beta(a);
    const matrix<T> map = unshift_map<T>(d, shifts);
    vector<T> raw = map * beta;
    if (d.intercept && !shifts.empty())
        raw(0) += T(shifts[0]);
    // A standard error is the length of m'R^-1 for the term's row m of the
    // map: solved from R'w = m, it does not cancel as m'(R^-1 R^-T)m would.
    const int k = static_cast<int>(s.kept.size());
    const auto tri = s.reduced.topLeftCorner(k, k).template triangularView<Eigen::Upper>();
    vector<T> m(k);
    const long long df = n - static_cast<long long>(s.kept.size());
    using std::sqrt;
    const T variance = df > 0 ? s.rss / T(df) : T(0);
    finished f;
    f.rss = static_cast<double>(s.rss);
    f.shifts = shifts;
    for (int j = 0; j < terms; ++j)
        f.shifted_coefficients.push_back(s.aliased[j] ? nan : static_cast<double>(beta(j)));
    for (int j = 0; j < terms; ++j) {
        const bool out = s.aliased[j];
        f.coefficients.push_back(out ? nan : static_cast<double>(raw(j)));
        if (out || df <= 0) {
            f.std_errors.push_back(nan);
            continue;
        }
        for (int a = 0; a < k; ++a)
            m(a) = map(j, s.kept[a]);
        const vector<T> w = tri.transpose().solve(m);
        f.std_errors.push_back(static_cast<double>(sqrt(variance * w.squaredNorm())));
    }
    return f;
}

// A finished solution's results into the fit.
template <class T> void take(least_squares_fit& fit, const finished& f, const solution<T>& s) {
    fit.coefficients = f.coefficients;
    fit.std_errors = f.std_errors;
    fit.aliased = s.aliased;
    fit.rank = static_cast<int>(s.kept.size());
    fit.rss = f.rss;
    fit.shifts = f.shifts;
    fit.shifted_coefficients = f.shifted_coefficients;
    fit.ok = true;
}

} // namespace models::least_squares_detail

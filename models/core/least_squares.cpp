#include "least_squares.h"

#include <Eigen/Dense>
#include <boost/multiprecision/eigen.hpp>
#include <boost/multiprecision/float128.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace models {

namespace {

using quad = boost::multiprecision::float128;
template <class T> using matrix = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>;
template <class T> using vector = Eigen::Matrix<T, Eigen::Dynamic, 1>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double unit_roundoff = std::numeric_limits<double>::epsilon() / 2;
// Rows gathered before they are folded into the triangle.
constexpr int block_rows = 512;
// The double pass is trusted when every result's estimated relative error
// is below this: 14 digits, one more than the floor we promise.
constexpr double trusted_error = 1e-14;
// A term whose distance from the span of the earlier terms is below this
// share of its own length is suspect in double precision: the quadruple
// pass decides.
constexpr double suspect_share = 1e-8;
// In the quadruple pass, a term this close to the span of the others is an
// exact combination of them at the data's own rounding level (the data are
// doubles, rounded at 1.1e-16): it is aliased.
constexpr double aliased_share = 1e-14;

// Folds rows of [y, x1..xk] into the triangle of the design [terms | y].
// Each column but the intercept is shifted by a value near the data (the
// first row's, or the mean from an earlier pass): a predictor near 1e9 with
// a small spread then loses nothing to the constant it shares with the
// intercept. Shifts change no fitted quantity but the intercept, which is
// restored afterwards.
template <class T> class accumulator {
  public:
    accumulator(const design& d, std::vector<double> shifts)
        : d_(d), m_(d.terms() + 1), shifts_(std::move(shifts)),
          work_(matrix<T>::Zero(m_ + block_rows, m_)) {}

    void add(const double* rows, std::size_t count) {
        const int raw = d_.predictors + 1;
        for (std::size_t i = 0; i < count; ++i) {
            const double* row = rows + i * raw;
            if (d_.intercept && shifts_.empty())
                shifts_.assign(row, row + raw);
            put_row(row, m_ + pending_);
            if (++pending_ == block_rows)
                fold();
        }
        n_ += static_cast<long long>(count);
    }

    // The triangle of every row added.
    const matrix<T>& triangle() {
        if (pending_ > 0)
            fold();
        return work_;
    }
    long long rows() const { return n_; }
    const std::vector<double>& shifts() const { return shifts_; }

  private:
    double shift(int column) const { return shifts_.empty() ? 0.0 : shifts_[column]; }

    // One design row: the shifts are subtracted in T, exactly for doubles
    // within a factor two of each other and to T's precision otherwise.
    void put_row(const double* row, int at) {
        int j = 0;
        if (d_.intercept)
            work_(at, j++) = T(1);
        if (d_.degree > 0) {
            const T t = T(row[1]) - T(shift(1));
            T power = t;
            for (int k = 1; k <= d_.degree; ++k, power *= t)
                work_(at, j++) = power;
        } else {
            for (int c = 1; c <= d_.predictors; ++c)
                work_(at, j++) = T(row[c]) - T(shift(c));
        }
        work_(at, j) = T(row[0]) - T(shift(0));
    }

    // Householder QR of the triangle stacked on the pending rows: the new
    // triangle spans both. Orthogonal steps keep the rounding errors at the
    // level of the data's own, whatever the conditioning.
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
    matrix<T> work_;
    int pending_ = 0;
    long long n_ = 0;
};

template <class T> T square(const T& v) {
    return v * v;
}

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
};

// The coefficients and standard errors in the data's own terms.
template <class T>
finished finish(const design& d, const solution<T>& s, const std::vector<double>& shifts,
                long long n) {
    const int terms = d.terms();
    vector<T> beta = vector<T>::Zero(terms);
    matrix<T> cov = matrix<T>::Zero(terms, terms);
    for (std::size_t a = 0; a < s.kept.size(); ++a) {
        beta(s.kept[a]) = s.beta(a);
        for (std::size_t b = 0; b < s.kept.size(); ++b)
            cov(s.kept[a], s.kept[b]) = s.cov(a, b);
    }
    const matrix<T> map = unshift_map<T>(d, shifts);
    vector<T> raw = map * beta;
    if (d.intercept && !shifts.empty())
        raw(0) += T(shifts[0]);
    const matrix<T> raw_cov = map * cov * map.transpose();
    const long long df = n - static_cast<long long>(s.kept.size());
    using std::sqrt;
    const T variance = df > 0 ? s.rss / T(df) : T(0);
    finished f;
    f.rss = static_cast<double>(s.rss);
    for (int j = 0; j < terms; ++j) {
        const bool out = s.aliased[j];
        f.coefficients.push_back(out ? nan : static_cast<double>(raw(j)));
        f.std_errors.push_back(
            out || df <= 0 ? nan : static_cast<double>(sqrt(variance * raw_cov(j, j))));
    }
    return f;
}

// The largest relative error the double pass may have left in any result,
// from the conditioning of the design with unit-length columns (the
// first-order bounds of Householder least squares, with the usual small
// multiple of the unit roundoff), through the map back to the data's terms.
double double_pass_error(const design& d, const solution<double>& s,
                         const std::vector<double>& shifts, double y_norm, double& condition) {
    const int k = static_cast<int>(s.kept.size());
    if (k == 0)
        return 0;
    Eigen::VectorXd lengths(k);
    for (int a = 0; a < k; ++a)
        lengths(a) = s.reduced.col(a).head(a + 1).norm();
    const Eigen::MatrixXd scaled =
        s.reduced.topLeftCorner(k, k) * lengths.cwiseInverse().asDiagonal();
    const Eigen::MatrixXd scaled_inverse = lengths.asDiagonal() * s.inverse;
    condition = scaled.norm() * scaled_inverse.norm();
    const Eigen::VectorXd scaled_beta = lengths.cwiseProduct(s.beta);
    const double residual = std::sqrt(s.rss);
    const double eta = scaled_beta.norm() > 0 ? residual / (scaled.norm() * scaled_beta.norm()) : 0;
    const double base = unit_roundoff * 8 * std::sqrt(double(k + 1));
    const double normwise = base * (condition + condition * condition * eta);

    const int terms = d.terms();
    Eigen::VectorXd error = Eigen::VectorXd::Zero(terms), beta = Eigen::VectorXd::Zero(terms);
    for (int a = 0; a < k; ++a) {
        error(s.kept[a]) = normwise * scaled_beta.norm() / lengths(a);
        beta(s.kept[a]) = s.beta(a);
    }
    const Eigen::MatrixXd map = unshift_map<double>(d, shifts);
    const Eigen::VectorXd raw = map * beta;
    const Eigen::VectorXd raw_error = map.cwiseAbs() * error;
    double worst = 0;
    for (int a = 0; a < k; ++a) {
        const int j = s.kept[a];
        worst = std::max(worst, raw(j) != 0 ? raw_error(j) / std::fabs(raw(j)) : 0.0);
        // Standard errors: the inverse triangle is good to about base times
        // the condition, and the map back may cancel more.
        const Eigen::RowVectorXd row = map.row(j);
        Eigen::MatrixXd cov = Eigen::MatrixXd::Zero(terms, terms);
        for (int b = 0; b < k; ++b)
            for (int c = 0; c < k; ++c)
                cov(s.kept[b], s.kept[c]) = s.cov(b, c);
        const double exact = row * cov * row.transpose();
        const double bound = row.cwiseAbs() * cov.cwiseAbs() * row.cwiseAbs().transpose();
        if (exact > 0)
            worst = std::max(worst, base * condition * condition * bound / exact);
    }
    if (residual > 0)
        worst = std::max(worst, base * condition * y_norm / residual);
    return worst;
}

// The design's mean of each raw column from the double pass's triangle,
// with its shift: a better centre for the quadruple pass.
std::vector<double> centred_shifts(const design& d, const Eigen::MatrixXd& r,
                                   const std::vector<double>& shifts, long long n) {
    if (!d.intercept || shifts.empty() || n == 0)
        return shifts;
    std::vector<double> centre = shifts;
    // Row 0 of the triangle is the intercept's: R(0, j) = sum(column j) / sqrt(n)
    // up to a common sign, which R(0, 0) = ±sqrt(n) carries.
    const double root_n = r(0, 0);
    const int y_col = d.terms();
    centre[0] = shifts[0] + r(0, y_col) / root_n;
    if (d.degree > 0) {
        centre[1] = shifts[1] + r(0, 1) / root_n;
    } else {
        for (int c = 1; c <= d.predictors; ++c)
            centre[c] = shifts[c] + r(0, c) / root_n;
    }
    for (double& v : centre)
        if (!std::isfinite(v))
            v = 0;
    return centre;
}

bool all_finite(const Eigen::MatrixXd& r) {
    return r.allFinite();
}

} // namespace

least_squares_fit fit_least_squares(const design& d, const row_source& source) {
    least_squares_fit fit;
    const int terms = d.terms();
    const std::size_t raw = static_cast<std::size_t>(d.predictors) + 1;
    if (terms < 1 || (d.degree > 0 && d.predictors != 1)) {
        fit.error = "the model has no terms";
        return fit;
    }
    std::vector<double> kept;
    kept.reserve(std::min<std::size_t>(kept_values_max, 4096 * raw));
    bool kept_whole = true;
    accumulator<double> fast(d, {});
    {
        if (!source([&](const double* values, std::size_t rows) {
                if (kept_whole && kept.size() + rows * raw <= kept_values_max) {
                    kept.insert(kept.end(), values, values + rows * raw);
                } else if (kept_whole) {
                    kept_whole = false;
                    std::vector<double>().swap(kept);
                }
                fast.add(values, rows);
                return true;
            })) {
            fit.error = "the data could not be read";
            return fit;
        }
    }
    fit.n = fast.rows();
    if (fit.n < terms) {
        fit.error = "too few rows: " + std::to_string(fit.n) + " for " + std::to_string(terms) +
                    " coefficients";
        return fit;
    }
    const Eigen::MatrixXd r = fast.triangle().topRows(terms + 1);
    if (!all_finite(r)) {
        fit.error = "the values are too large to fit (a power or product overflows)";
        return fit;
    }
    const solution<double> s = solve<double>(r, terms, 0.0);
    bool suspect = false;
    for (int a = 0; a < static_cast<int>(s.kept.size()); ++a) {
        const double length = r.col(s.kept[a]).norm();
        suspect = suspect || !(std::fabs(s.reduced(a, a)) > suspect_share * length);
    }
    const double error =
        suspect ? 1.0 : double_pass_error(d, s, fast.shifts(), r.col(terms).norm(), fit.condition);
    fit.tss = d.intercept ? r.col(terms).tail(terms).squaredNorm() : r.col(terms).squaredNorm();

    if (!suspect && error <= trusted_error) {
        const finished f = finish<double>(d, s, fast.shifts(), fit.n);
        fit.coefficients = f.coefficients;
        fit.std_errors = f.std_errors;
        fit.aliased = s.aliased;
        fit.rank = static_cast<int>(s.kept.size());
        fit.rss = f.rss;
        fit.triangle = r;
        fit.ok = true;
        return fit;
    }

    // The quadruple pass, centred on the means the first pass found.
    accumulator<quad> exact(d, centred_shifts(d, r, fast.shifts(), fit.n));
    bool read = true;
    if (kept_whole) {
        exact.add(kept.data(), kept.size() / raw);
    } else {
        read = source([&](const double* values, std::size_t rows) {
            exact.add(values, rows);
            return true;
        });
    }
    if (!read || exact.rows() != fit.n) {
        fit.error = "the data changed or could not be read again for the second pass";
        return fit;
    }
    const matrix<quad> rq = exact.triangle().topRows(terms + 1);
    const solution<quad> sq = solve<quad>(rq, terms, aliased_share);
    const finished f = finish<quad>(d, sq, exact.shifts(), fit.n);
    fit.coefficients = f.coefficients;
    fit.std_errors = f.std_errors;
    fit.aliased = sq.aliased;
    fit.rank = static_cast<int>(sq.kept.size());
    fit.rss = f.rss;
    fit.tss = static_cast<double>(d.intercept ? rq.col(terms).tail(terms).squaredNorm()
                                              : rq.col(terms).squaredNorm());
    fit.triangle = rq.cast<double>();
    fit.extended = true;
    fit.ok = true;
    return fit;
}

} // namespace models

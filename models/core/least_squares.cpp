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
// Refinement sharpens the coefficients and the residual sum of squares, not
// the standard errors: their first-order estimate must be below this (13
// digits). The estimate runs about ten times the errors measured against
// the quadruple pass (14.0 estimated, 14.9 measured on a million-row
// design of condition 21).
constexpr double se_trusted_error = 1e-13;
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
            if (d_.intercept && shifts_.empty()) {
                shifts_.assign(row, row + raw);
                sums_.assign(raw, 0.0L);
            }
            for (std::size_t c = 0; c < sums_.size(); ++c)
                sums_[c] += static_cast<long double>(row[c]) - shifts_[c];
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
    // Per raw column, the sum of its values less its shift, in extended
    // precision: the means, to the last digit (empty without an intercept).
    const std::vector<long double>& sums() const { return sums_; }

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
    std::vector<long double> sums_;
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
    std::vector<double> shifts, shifted_coefficients;
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
    f.shifts = shifts;
    for (int j = 0; j < terms; ++j)
        f.shifted_coefficients.push_back(s.aliased[j] ? nan : static_cast<double>(beta(j)));
    for (int j = 0; j < terms; ++j) {
        const bool out = s.aliased[j];
        f.coefficients.push_back(out ? nan : static_cast<double>(raw(j)));
        f.std_errors.push_back(
            out || df <= 0 ? nan : static_cast<double>(sqrt(variance * raw_cov(j, j))));
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

// The largest relative error the double pass may have left in any result,
// from the conditioning of the design with unit-length columns (the
// first-order bounds of Householder least squares, with the usual small
// multiple of the unit roundoff), through the map back to the data's terms.
double double_pass_error(const design& d, const solution<double>& s,
                         const std::vector<double>& shifts, double y_norm, double& condition,
                         double& se_error) {
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
        // Standard errors: the map back may cancel, by bound / exact.
        const Eigen::RowVectorXd row = map.row(j);
        Eigen::MatrixXd cov = Eigen::MatrixXd::Zero(terms, terms);
        for (int b = 0; b < k; ++b)
            for (int c = 0; c < k; ++c)
                cov(s.kept[b], s.kept[c]) = s.cov(b, c);
        const double exact = row * cov * row.transpose();
        const double bound = row.cwiseAbs() * cov.cwiseAbs() * row.cwiseAbs().transpose();
        // First order: R^-1 is good to the unit roundoff times the condition
        // (times the usual root of the size), the variance to twice that and
        // the standard error to it once.
        if (exact > 0)
            se_error = std::max(se_error, unit_roundoff * std::sqrt(double(k + 1)) * condition *
                                              bound / exact);
    }
    if (residual > 0)
        worst = std::max(worst, base * condition * y_norm / residual);
    return std::max(worst, se_error);
}

// Moves the shifts of a linear design with an intercept to the columns'
// means, in the triangle itself: a column less a constant is the column
// less that constant times the intercept's column of ones, and as the ones
// stand first, only the triangle's first row changes. With the columns
// centred, the intercept is the mean response less the slopes times the
// means, which cancels far less than an intercept carried back from the
// first row's values; and the quadruple pass starts from the same centre.
// Polynomial designs keep their shifts (a power's centre does not move by a
// row operation); their quadruple pass is centred on the mean of x instead.
std::vector<double> recentre(const design& d, Eigen::MatrixXd& r, const std::vector<double>& shifts,
                             const std::vector<long double>& sums, long long n) {
    if (!d.intercept || d.degree > 0 || shifts.empty() || sums.size() != shifts.size() || n == 0 ||
        !(r(0, 0) != 0))
        return shifts;
    std::vector<double> centre = shifts;
    // R(0, 0) is ±sqrt(n), and R(0, j) the sum of column j over it. The sums
    // kept in extended precision give the first row anew, without the
    // rounding that folding a million rows left in it.
    const long double root = static_cast<long double>(r(0, 0));
    // Column j of the triangle (1..k, then y) and raw column c (y = 0).
    for (int j = 1; j <= d.terms(); ++j) {
        const int c = j < d.terms() ? j : 0;
        const long double sum = sums[c];
        const double mean = static_cast<double>(shifts[c] + sum / n);
        if (!std::isfinite(mean))
            continue;
        // What is left of the column's sum once the mean, rounded, is the shift.
        r(0, j) =
            static_cast<double>((sum - (static_cast<long double>(mean) - shifts[c]) * n) / root);
        centre[c] = mean;
    }
    return centre;
}

bool all_finite(const Eigen::MatrixXd& r) {
    return r.allFinite();
}

// Iterative refinement of the double pass's solution: the residuals and
// the gradient X'r are formed in extended precision over the rows, and the
// correction solves R'R d = X'r with the double triangle (corrected
// semi-normal equations). Each step shrinks the error by about the condition
// squared times the unit roundoff, so one or two steps give the slopes to
// the last digit, and with them an intercept that cancels; one pass over the
// data a step, a few operations a value instead of a new factorisation.
class refinement {
  public:
    refinement(const design& d, const solution<double>& s, const std::vector<double>& shifts)
        : d_(d), kept_(s.kept), shifts_(shifts), beta_(s.beta.cast<long double>()),
          gradient_(vector<long double>::Zero(beta_.size())),
          row_(vector<long double>::Zero(d.terms())) {}

    void add(const double* rows, std::size_t count) {
        const std::size_t raw = static_cast<std::size_t>(d_.predictors) + 1;
        const int k = static_cast<int>(kept_.size());
        for (std::size_t i = 0; i < count; ++i) {
            const double* row = rows + i * raw;
            design_row(row);
            long double residual = static_cast<long double>(row[0]) - shift(0);
            for (int a = 0; a < k; ++a)
                residual -= beta_(a) * row_(kept_[a]);
            for (int a = 0; a < k; ++a)
                gradient_(a) += row_(kept_[a]) * residual;
            rss_ += residual * residual;
        }
    }

    // Applies the correction; the residual sum of squares at the corrected
    // solution.
    long double step(const Eigen::MatrixXd& triangle) {
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
    const vector<long double>& beta() const { return beta_; }

  private:
    long double shift(int column) const {
        return shifts_.empty() ? 0.0L : static_cast<long double>(shifts_[column]);
    }
    void design_row(const double* row) {
        int j = 0;
        if (d_.intercept)
            row_(j++) = 1;
        if (d_.degree > 0) {
            const long double t = row[1] - shift(1);
            long double power = t;
            for (int k = 1; k <= d_.degree; ++k, power *= t)
                row_(j++) = power;
        } else {
            for (int c = 1; c <= d_.predictors; ++c)
                row_(j++) = row[c] - shift(c);
        }
    }

    design d_;
    std::vector<int> kept_;
    std::vector<double> shifts_;
    vector<long double> beta_, gradient_, row_;
    long double rss_ = 0;
};

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
    Eigen::MatrixXd r = fast.triangle().topRows(terms + 1);
    if (!all_finite(r)) {
        fit.error = "the values are too large to fit (a power or product overflows)";
        return fit;
    }
    const std::vector<double> shifts = recentre(d, r, fast.shifts(), fast.sums(), fit.n);
    // The quadruple pass of a polynomial is centred on the mean of x (and y).
    std::vector<double> exact_shifts = shifts;
    if (d.degree > 0 && d.intercept && !shifts.empty() && r(0, 0) != 0) {
        exact_shifts[1] = shifts[1] + r(0, 1) / r(0, 0);
        exact_shifts[0] = shifts[0] + r(0, terms) / r(0, 0);
        if (!std::isfinite(exact_shifts[0]) || !std::isfinite(exact_shifts[1]))
            exact_shifts = shifts;
    }
    const solution<double> s = solve<double>(r, terms, 0.0);
    bool suspect = false;
    for (int a = 0; a < static_cast<int>(s.kept.size()); ++a) {
        const double length = r.col(s.kept[a]).norm();
        suspect = suspect || !(std::fabs(s.reduced(a, a)) > suspect_share * length);
    }
    double se_error = 0;
    const double error =
        suspect ? 1.0
                : double_pass_error(d, s, shifts, r.col(terms).norm(), fit.condition, se_error);
    fit.tss = d.intercept ? r.col(terms).tail(terms).squaredNorm() : r.col(terms).squaredNorm();

    if (!suspect && error <= trusted_error) {
        take(fit, finish<double>(d, s, shifts, fit.n), s);
        fit.triangle = r;
        return fit;
    }

    // Refinement where the design is well enough conditioned for it to
    // contract fast: each step multiplies the error by about this.
    const double contraction = 8 * unit_roundoff * fit.condition * fit.condition;
    // It sharpens the coefficients and the residual sum of squares; the
    // standard errors stay those of the double triangle, so they must
    // already be good.
    if (!suspect && contraction < 1e-3 && se_error <= se_trusted_error) {
        const int steps = error * contraction <= trusted_error ? 1 : 2;
        refinement refine(d, s, shifts);
        long double rss = 0;
        bool read = true;
        for (int step = 0; step < steps && read; ++step) {
            long long rows = 0;
            if (kept_whole) {
                refine.add(kept.data(), kept.size() / raw);
                rows = static_cast<long long>(kept.size() / raw);
            } else {
                read = source([&](const double* values, std::size_t count) {
                    refine.add(values, count);
                    rows += static_cast<long long>(count);
                    return true;
                });
            }
            read = read && rows == fit.n;
            rss = refine.step(s.reduced);
        }
        if (!read) {
            fit.error = "the data changed or could not be read again for the second pass";
            return fit;
        }
        solution<long double> refined;
        refined.aliased = s.aliased;
        refined.kept = s.kept;
        refined.beta = refine.beta();
        refined.cov = s.cov.cast<long double>();
        refined.rss = rss;
        take(fit, finish<long double>(d, refined, shifts, fit.n), refined);
        fit.triangle = r;
        fit.refined = true;
        return fit;
    }

    // The quadruple pass, centred on the means the first pass found.
    accumulator<quad> exact(d, exact_shifts);
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
    take(fit, finish<quad>(d, sq, exact.shifts(), fit.n), sq);
    fit.tss = static_cast<double>(d.intercept ? rq.col(terms).tail(terms).squaredNorm()
                                              : rq.col(terms).squaredNorm());
    fit.triangle = rq.cast<double>();
    fit.extended = true;
    return fit;
}

} // namespace models

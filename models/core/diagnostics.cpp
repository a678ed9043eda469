#include "diagnostics.h"

#include "statistics.h"

#include <Eigen/Dense>

#include <cmath>
#include <memory>

namespace models {

namespace {

// The map from the shifted design's columns to the data's own: a raw
// column is its shifted one plus its shift times the intercept's ones; a
// raw power x^k = (t + c)^k expands by the binomial theorem.
Eigen::MatrixXd raw_columns_map(const design& d, const std::vector<double>& shifts) {
    const int terms = d.terms();
    Eigen::MatrixXd map = Eigen::MatrixXd::Identity(terms, terms);
    if (!d.intercept || shifts.empty())
        return map;
    if (d.degree == 0) {
        for (int j = 1; j < terms; ++j)
            map(0, j) = shifts[static_cast<std::size_t>(j)];
        return map;
    }
    const double c = shifts[1];
    for (int k = 0; k < terms; ++k) {
        double binomial = 1, power = 1;
        for (int j = k; j >= 0; --j) {
            map(j, k) = binomial * power;
            binomial = binomial * j / (k - j + 1);
            power *= c;
        }
    }
    return map;
}

// The triangle of the raw model matrix (T'T = X'X over all terms, in the
// data's own columns rather than the shifted ones the fit used).
Eigen::MatrixXd raw_triangle(const design& d, const least_squares_fit& fit) {
    const int terms = d.terms();
    return fit.triangle.topLeftCorner(terms, terms).triangularView<Eigen::Upper>() *
           raw_columns_map(d, fit.shifts);
}

} // namespace

double scaled_condition(const Eigen::MatrixXd& raw, const std::vector<int>& kept) {
    Eigen::MatrixXd chosen(raw.rows(), static_cast<Eigen::Index>(kept.size()));
    for (std::size_t a = 0; a < kept.size(); ++a) {
        const Eigen::VectorXd column = raw.col(kept[a]);
        const double length = column.norm();
        if (!(length > 0))
            return NAN;
        chosen.col(static_cast<Eigen::Index>(a)) = column / length;
    }
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(chosen);
    const Eigen::VectorXd values = svd.singularValues();
    return values.size() > 0 && values(values.size() - 1) > 0
               ? values(0) / values(values.size() - 1)
               : INFINITY;
}

// The raw triangle is upper triangular with the intercept's column first, so
// its rows 1.. over the slopes are the triangle S of the slopes made
// orthogonal to that column (centred, or for a weighted fit orthogonal to
// sqrt(w)): V = (S'S)^-1 and V^-1 = S'S up to sigma^2, which cancels. A QR
// of the kept slopes' columns of S gives both diagonals.
std::vector<double> inflation_factors(const Eigen::MatrixXd& raw, const std::vector<int>& kept,
                                      bool intercept) {
    const Eigen::Index terms = raw.cols();
    std::vector<double> vif(static_cast<std::size_t>(terms), NAN);
    if (!intercept || kept.size() < 3 || kept[0] != 0)
        return vif;
    std::vector<int> slopes(kept.begin() + 1, kept.end());
    Eigen::MatrixXd orthogonal(terms - 1, static_cast<Eigen::Index>(slopes.size()));
    for (std::size_t a = 0; a < slopes.size(); ++a)
        orthogonal.col(static_cast<Eigen::Index>(a)) = raw.block(1, slopes[a], terms - 1, 1);
    const Eigen::Index k = orthogonal.cols();
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(orthogonal);
    const Eigen::MatrixXd r = qr.matrixQR().topRows(k).triangularView<Eigen::Upper>();
    const Eigen::MatrixXd inverse =
        r.triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(k, k));
    for (Eigen::Index a = 0; a < k; ++a)
        vif[static_cast<std::size_t>(slopes[static_cast<std::size_t>(a)])] =
            inverse.row(a).squaredNorm() * r.col(a).squaredNorm();
    return vif;
}

void residual_sums::add(double e, const double* gradient) {
    const long double e2 = static_cast<long double>(e) * e;
    sum += e;
    squares += e2;
    cubes += e2 * e;
    fourths += e2 * e2;
    if (count > 0)
        differences += static_cast<long double>(e - last) * (e - last);
    else
        first = e;
    last = e;
    ++count;
    cross += static_cast<double>(e2) * Eigen::Map<const Eigen::VectorXd>(gradient, cross.size());
}

void residual_sums::absorb(const residual_sums& next) {
    if (next.count == 0)
        return;
    if (count > 0)
        differences += static_cast<long double>(next.first - last) * (next.first - last);
    else
        first = next.first;
    sum += next.sum;
    squares += next.squares;
    cubes += next.cubes;
    fourths += next.fourths;
    differences += next.differences;
    last = next.last;
    count += next.count;
    cross += next.cross;
}

namespace {

// A run of consecutive rows read for the sums, each row's residual and
// gradient from its own residual function.
struct residual_reader {
    row_residual residual;
    std::size_t width = 0;
    Eigen::VectorXd gradient;
    residual_sums sums;

    residual_reader(row_residual r, std::size_t w, Eigen::Index k)
        : residual(std::move(r)), width(w), gradient(k), sums(k) {}

    void add(const double* values, std::size_t rows) {
        for (std::size_t i = 0; i < rows; ++i)
            sums.add(residual(values + i * width, gradient.data()), gradient.data());
    }
};

} // namespace

bool diagnose_linear(const design& d, const least_squares_fit& fit, const row_source& source,
                     const row_residual& residual, const Eigen::MatrixXd& triangle,
                     linear_diagnostics& out, bool weighted_intercept,
                     const split_row_source& split, const range_residuals& per_range) {
    // One pass gives the residuals' power sums, Durbin-Watson, and X'e^2.
    const std::size_t width = static_cast<std::size_t>(d.predictors) + 1;
    const Eigen::Index k = triangle.rows();
    residual_reader all(residual, width, k);
    bool read = false;
    if (split && per_range)
        read = read_ranges(
            split, [&] { return std::make_unique<residual_reader>(per_range(), width, k); },
            [&all](const residual_reader& part) { all.sums.absorb(part.sums); });
    if (!read)
        read = source([&](const double* values, std::size_t rows) {
            all.add(values, rows);
            return true;
        });
    return read && finish_linear_diagnostics(d, fit, all.sums, triangle, out, weighted_intercept);
}

bool finish_linear_diagnostics(const design& d, const least_squares_fit& fit,
                               const residual_sums& sums, const Eigen::MatrixXd& triangle,
                               linear_diagnostics& out, bool weighted_intercept) {
    std::vector<int> kept;
    for (int j = 0; j < d.terms(); ++j)
        if (!fit.aliased[static_cast<std::size_t>(j)])
            kept.push_back(j);
    const Eigen::MatrixXd raw = raw_triangle(d, fit);
    out.condition_number = scaled_condition(raw, kept);
    out.vif = inflation_factors(raw, kept, d.intercept || weighted_intercept);

    // The auxiliary regression of the squared residuals on the model's own
    // terms: with R'R = X'X, its explained sum of squares about the mean is
    // |R^-T X'e^2|^2 less the intercept's share, the first component.
    const Eigen::Index k = triangle.rows();
    const long long count = sums.count;
    const long double sum = sums.sum, squares = sums.squares, cubes = sums.cubes,
                      fourths = sums.fourths, differences = sums.differences;
    Eigen::VectorXd cross = sums.cross;
    if (count != fit.n || count == 0 || cross.size() != k)
        return false;
    const double n = static_cast<double>(count);
    out.durbin_watson = squares > 0 ? static_cast<double>(differences / squares) : NAN;
    const long double aux_total = fourths - squares * squares / count;
    if (d.intercept && k > 1 && aux_total > 0 && !fit.aliased[0]) {
        if (!sums.solved)
            triangle.transpose().triangularView<Eigen::Lower>().solveInPlace(cross);
        const double explained = cross.tail(k - 1).squaredNorm();
        out.bp_df = static_cast<double>(k - 1);
        out.bp_statistic = n * explained / static_cast<double>(aux_total);
        out.bp_p = chi_squared_upper_tail(out.bp_statistic, out.bp_df);
    } else {
        out.bp_statistic = out.bp_df = out.bp_p = NAN;
    }

    // Central moments from the power sums, in extended precision: the
    // residuals' mean is near zero beside their spread.
    const long double mean = sum / count, s2 = squares / count, s3 = cubes / count,
                      s4 = fourths / count;
    const long double m2 = s2 - mean * mean;
    const long double m3 = s3 - 3 * mean * s2 + 2 * mean * mean * mean;
    const long double m4 =
        s4 - 4 * mean * s3 + 6 * mean * mean * s2 - 3 * mean * mean * mean * mean;
    if (m2 > 0) {
        const double skew = static_cast<double>(m3 / std::pow(m2, 1.5L));
        const double excess = static_cast<double>(m4 / (m2 * m2)) - 3;
        out.jb_statistic = n / 6 * (skew * skew + excess * excess / 4);
        out.jb_p = chi_squared_upper_tail(out.jb_statistic, 2);
    } else {
        out.jb_statistic = out.jb_p = NAN;
    }
    return true;
}

} // namespace models

// Degree choice. The basis is Chebyshev polynomials of x mapped onto
// [-1, 1], made orthonormal by a Householder QR of [basis | y]. Mapping x
// and using Chebyshev rather than raw powers keeps the basis matrix well
// conditioned up to degree 15 (raw powers of unscaled x lose all digits
// long before), and Householder QR is backward stable, so the columns of Q
// are orthonormal to working precision. Q's first d + 1 columns span the
// polynomials of degree d, so one factorisation serves every degree: the
// RSS of degree d is the sum of squares of y's entries of R below row d,
// and the hat values are running sums of squares of Q's rows.
#include "degree.h"

#include "criterion.h"

#include <Eigen/QR>

#include <algorithm>
#include <cmath>
#include <limits>

namespace models {
namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;

constexpr double infinity = std::numeric_limits<double>::infinity();

// A hat value this close to 1 is 1 within rounding: leave-one-out does not
// apply to that fit.
constexpr double hat_one_margin = 1e-10;
// A basis column whose part independent of the lower degrees is below this
// share of its length adds no usable direction (x values too few or too
// tightly clustered for that degree).
constexpr double dependent_share = 1e-10;

MatrixXd chebyshev_basis(const std::vector<double>& x, int degree) {
    const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
    const double centre = 0.5 * (*lo + *hi);
    const double half = 0.5 * (*hi - *lo);
    const Eigen::Index n = static_cast<Eigen::Index>(x.size());
    MatrixXd v(n, degree + 1);
    for (Eigen::Index i = 0; i < n; ++i) {
        const double t = half > 0 ? (x[i] - centre) / half : 0;
        v(i, 0) = 1;
        if (degree >= 1)
            v(i, 1) = t;
        for (int j = 2; j <= degree; ++j)
            v(i, j) = 2 * t * v(i, j - 1) - v(i, j - 2);
    }
    return v;
}

int distinct_count(std::vector<double> x) {
    std::sort(x.begin(), x.end());
    return static_cast<int>(std::unique(x.begin(), x.end()) - x.begin());
}

degree_fit left_out(int degree, std::string reason) {
    degree_fit f;
    f.degree = degree;
    f.reason = std::move(reason);
    return f;
}

// Fits degrees 1..top from one QR; the caller has checked top + 1 < n.
void fit_degrees(const std::vector<double>& x, const std::vector<double>& y, int top,
                 std::vector<degree_fit>& fits) {
    const Eigen::Index n = static_cast<Eigen::Index>(x.size());
    MatrixXd a(n, top + 2);
    a.leftCols(top + 1) = chebyshev_basis(x, top);
    a.col(top + 1) = Eigen::Map<const VectorXd>(y.data(), n);
    const VectorXd lengths = a.leftCols(top + 1).colwise().norm();
    Eigen::HouseholderQR<MatrixXd> qr(a);
    const MatrixXd& r = qr.matrixQR();
    const MatrixXd q = qr.householderQ() * MatrixXd::Identity(n, top + 1);
    const VectorXd yv = a.col(top + 1);

    VectorXd fitted = q.col(0) * r(0, top + 1);
    VectorXd hat = q.col(0).cwiseAbs2();
    bool dependent = false;
    for (int d = 1; d <= top; ++d) {
        if (dependent || std::abs(r(d, d)) <= dependent_share * lengths[d]) {
            dependent = true;
            fits.push_back(left_out(d, "the x values are too close together for this degree"));
            continue;
        }
        fitted += q.col(d) * r(d, top + 1);
        hat += q.col(d).cwiseAbs2();
        degree_fit f;
        f.degree = d;
        f.available = true;
        f.rss = r.col(top + 1).segment(d + 1, top + 1 - d).squaredNorm();
        const gaussian_scores g = gaussian_scores_of(f.rss, static_cast<double>(n), d + 1);
        f.aic = g.aic;
        f.aicc = g.aicc;
        f.bic = g.bic;
        f.cv_applicable = (1 - hat.array() > hat_one_margin).all();
        if (f.cv_applicable) {
            const VectorXd residual = yv - fitted;
            f.press = (residual.array() / (1 - hat.array())).square().sum();
            f.cv = f.press / static_cast<double>(n);
        } else {
            f.press = f.cv = infinity;
        }
        fits.push_back(std::move(f));
    }
}

double value_of(const degree_fit& f, degree_criterion c) {
    switch (c) {
    case degree_criterion::aic:
        return f.aic;
    case degree_criterion::aicc:
        return f.aicc;
    case degree_criterion::bic:
        return f.bic;
    case degree_criterion::cv:
        return f.cv_applicable ? f.cv : infinity;
    case degree_criterion::cp:
    case degree_criterion::adjr2:
        break; // not among degree_criteria
    }
    return infinity;
}

degree_choice failure(std::string error) {
    degree_choice c;
    c.error = std::move(error);
    return c;
}

} // namespace

degree_choice choose_degree(const std::vector<double>& x, const std::vector<double>& y,
                            int max_degree, degree_criterion criterion) {
    if (x.size() != y.size())
        return failure("x and y differ in length");
    if (max_degree < 1 || max_degree > largest_max_degree)
        return failure("the highest degree must be 1 to " + std::to_string(largest_max_degree));
    for (size_t i = 0; i < x.size(); ++i)
        if (!std::isfinite(x[i]) || !std::isfinite(y[i]))
            return failure("a value is not a finite number");

    const int n = static_cast<int>(x.size());
    const int distinct = distinct_count(x);
    // Degree d needs d + 1 distinct x values, and one more row than
    // coefficients to leave a residual.
    int top = 0;
    while (top < max_degree && top + 2 <= distinct && top + 2 < n)
        ++top;

    degree_choice choice;
    if (top > 0)
        fit_degrees(x, y, top, choice.fits);
    for (int d = top + 1; d <= max_degree; ++d) {
        choice.fits.push_back(left_out(
            d, d + 1 > distinct
                   ? "needs " + std::to_string(d + 1) + " coefficients but x has only " +
                         std::to_string(distinct) + " distinct values"
                   : "needs more rows than its " + std::to_string(d + 1) + " coefficients"));
    }
    // A degree that fits exactly (its residuals only the rounding of the
    // data) is the answer whatever the criteria say: higher degrees fit the
    // rounding and nothing else, and their criteria compare noise.
    double total = 0;
    for (double v : y)
        total += v * v;
    const double exact_level = 1e-24 * total; // residuals at 1e-12 of the data
    for (const degree_fit& f : choice.fits) {
        if (f.available && f.rss <= exact_level) {
            choice.chosen = f.degree;
            choice.ok = true;
            return choice;
        }
    }
    double best = infinity;
    for (const degree_fit& f : choice.fits) {
        const double v = f.available ? value_of(f, criterion) : infinity;
        if (v < best) {
            best = v;
            choice.chosen = f.degree;
        }
    }
    choice.ok = std::any_of(choice.fits.begin(), choice.fits.end(),
                            [](const degree_fit& f) { return f.available; });
    if (!choice.ok)
        choice.error = "no degree can be fitted to these data";
    return choice;
}

} // namespace models

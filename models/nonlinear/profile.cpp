#include "profile.h"
#include "search.h"

#include <boost/math/distributions/students_t.hpp>
#include <boost/math/tools/toms748_solve.hpp>

#include <cmath>
#include <limits>

namespace models {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
// The search for the cut-off steps out from the estimate by this many
// Wald half-widths, doubling, before the side counts as unbounded.
constexpr double first_step = 0.5;
constexpr int step_doublings = 20;
// Root-finding stops when the bracket is this many bits of a double wide;
// each profile point is a fit to rounding, so ends agree to about 13 digits.
constexpr int root_bits = 46;
constexpr std::uintmax_t root_iterations = 100;

struct profiler {
    const fit_problem& pr;
    Eigen::Index j;
    Eigen::VectorXd estimates;
    Eigen::VectorXd slope; // how the other parameters move with j, to first order
    double rss_hat, s;
    int max_evaluations;
    int evaluations = 0;
    std::vector<bool> fixed;
    Eigen::VectorXd lower, upper; // the bounds; empty: none
    bool end_at_bound = false;    // set by end(): it returned the bound

    // The least sum of squares with j held at b[j], the others fitted from
    // b (within their bounds, where there are bounds) and left in b.
    long double fit_others(Eigen::VectorXd& b) {
        Eigen::VectorXd free_fit = b;
        const long double rss = fit_with_fixed(pr, free_fit, fixed, max_evaluations, evaluations);
        const bool inside = lower.size() == 0 || ((free_fit.array() >= lower.array()).all() &&
                                                  (free_fit.array() <= upper.array()).all());
        if (std::isfinite(static_cast<double>(rss)) && inside) {
            b = free_fit;
            return rss;
        }
        if (lower.size() == 0)
            return rss;
        // The unconstrained fit failed or left the box: the projected one, with j
        // held by bounds at its value.
        Eigen::VectorXd lo = lower, hi = upper;
        lo[j] = hi[j] = b[j];
        const bounded_run run = projected_levenberg_marquardt(pr, b, lo, hi, max_evaluations);
        evaluations += run.evaluations;
        if (run.stopped)
            return std::numeric_limits<long double>::infinity();
        b = run.b;
        Eigen::VectorXd r;
        return residuals(pr, b, r);
    }

    // The profile t statistic at c, from a fit of the others started at
    // their first-order values from `from` (the nearest profile point).
    double tau(double c, Eigen::VectorXd& from) {
        Eigen::VectorXd b = from + slope * (c - from[j]);
        b[j] = c;
        if (lower.size() != 0)
            b = b.cwiseMax(lower).cwiseMin(upper);
        const long double rss = fit_others(b);
        if (!std::isfinite(static_cast<double>(rss)))
            return nan;
        from = b;
        const double rise = std::max(0.0, static_cast<double>(rss) - rss_hat);
        return (c < estimates[j] ? -1.0 : 1.0) * std::sqrt(rise) / s;
    }

    // The end on one side (direction -1 or 1), or NaN; the bound on that
    // side (end_at_bound set) where the profile stays below the cut-off
    // up to it.
    double end(double direction, double q, double half_width) {
        end_at_bound = false;
        const double bound = lower.size() == 0 ? direction * inf
                             : direction < 0   ? lower[j]
                                               : upper[j];
        Eigen::VectorXd previous = estimates;
        double c_previous = estimates[j];
        double step = first_step * half_width;
        for (int k = 0; k <= step_doublings; ++k, step *= 2) {
            double c = estimates[j] + direction * step;
            const bool at_bound = direction * (c - bound) >= 0;
            if (at_bound)
                c = bound;
            Eigen::VectorXd at = previous;
            const double t = tau(c, at);
            if (std::isnan(t))
                return nan;
            if (std::abs(t) >= q) {
                // The cut-off lies between c_previous and c.
                Eigen::VectorXd warm = previous;
                auto gap = [&](double x) {
                    if (x == estimates[j])
                        return -q;
                    Eigen::VectorXd w = warm;
                    const double v = tau(x, w);
                    return std::isnan(v) ? nan : std::abs(v) - q;
                };
                double lo = std::min(c_previous, c), hi = std::max(c_previous, c);
                double f_lo = lo == c ? std::abs(t) - q : gap(lo);
                double f_hi = hi == c ? std::abs(t) - q : gap(hi);
                if (std::isnan(f_lo) || std::isnan(f_hi) || f_lo * f_hi > 0)
                    return nan;
                std::uintmax_t iterations = root_iterations;
                auto root = boost::math::tools::toms748_solve(
                    gap, lo, hi, f_lo, f_hi, boost::math::tools::eps_tolerance<double>(root_bits),
                    iterations);
                return 0.5 * (root.first + root.second);
            }
            if (at_bound) {
                end_at_bound = true;
                return bound;
            }
            previous = at;
            c_previous = c;
        }
        return nan;
    }
};

} // namespace

std::vector<profile_interval> profile_intervals(const formula& f,
                                                const std::vector<std::vector<double>>& columns,
                                                const nonlinear_fit& fit, double level,
                                                const solver_options& options) {
    std::vector<profile_interval> out(fit.estimates.size(), {nan, nan, false, false, false, 0});
    fit_problem pr;
    std::string error;
    if (!fit.converged || fit.df <= 0 || !(fit.rss > 0) ||
        !make_problem(f, columns, pr, error, options.low_parts, options.weights))
        return out;
    const boost::math::students_t_distribution<double> t_dist(static_cast<double>(fit.df));
    const double q = boost::math::quantile(boost::math::complement(t_dist, (1 - level) / 2));
    const double s = std::sqrt(fit.rss / static_cast<double>(fit.df));
    const Eigen::VectorXd estimates = Eigen::Map<const Eigen::VectorXd>(fit.estimates.data(), pr.p);
    const int max_evaluations =
        options.max_evaluations > 0 ? options.max_evaluations : 200 * static_cast<int>(pr.p + 1);
    for (Eigen::Index j = 0; j < pr.p; ++j) {
        const double variance = fit.covariance(j, j);
        if (!(variance > 0))
            continue;
        Eigen::VectorXd slope = fit.covariance.col(j) / variance;
        for (Eigen::Index k = 0; k < pr.p; ++k)
            if (!std::isfinite(slope[k]))
                slope[k] = 0;
        profiler prof{pr, j, estimates, slope, fit.rss, s, max_evaluations, 0, {}, {}, {}};
        prof.fixed.assign(static_cast<size_t>(pr.p), false);
        prof.fixed[static_cast<size_t>(j)] = true;
        if (options.lower.size() == static_cast<size_t>(pr.p) &&
            options.upper.size() == static_cast<size_t>(pr.p)) {
            prof.lower = Eigen::Map<const Eigen::VectorXd>(options.lower.data(), pr.p);
            prof.upper = Eigen::Map<const Eigen::VectorXd>(options.upper.data(), pr.p);
        }
        const double half_width = q * std::sqrt(variance);
        auto& interval = out[static_cast<size_t>(j)];
        interval.profiled = true;
        interval.low = prof.end(-1, q, half_width);
        interval.low_at_bound = prof.end_at_bound;
        interval.high = prof.end(1, q, half_width);
        interval.high_at_bound = prof.end_at_bound;
        interval.evaluations = prof.evaluations;
    }
    return out;
}

} // namespace models

#include "statistics.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/students_t.hpp>

#include <cmath>
#include <limits>

namespace models {

namespace {

constexpr double not_applicable = std::numeric_limits<double>::quiet_NaN();

// Boost.Math reports domain errors by returning NaN rather than throwing, so
// no exception can leave these functions whatever the arguments.
using quiet_policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;

bool usable_df(double df) {
    return std::isfinite(df) && df > 0;
}

} // namespace

double t_two_sided_p(double t, double df) {
    if (!usable_df(df) || std::isnan(t))
        return not_applicable;
    if (std::isinf(t))
        return 0.0;
    const boost::math::students_t_distribution<double, quiet_policy> dist(df);
    // The upper tail of |t| directly: 1 - cdf would lose every digit of a
    // small p-value.
    return 2.0 * boost::math::cdf(boost::math::complement(dist, std::fabs(t)));
}

double f_upper_tail(double f, double df1, double df2) {
    if (!usable_df(df1) || !usable_df(df2) || std::isnan(f) || f < 0)
        return not_applicable;
    if (std::isinf(f))
        return 0.0;
    const boost::math::fisher_f_distribution<double, quiet_policy> dist(df1, df2);
    return boost::math::cdf(boost::math::complement(dist, f));
}

double t_interval_quantile(double level, double df) {
    if (!usable_df(df) || !(level > 0 && level < 1))
        return not_applicable;
    const boost::math::students_t_distribution<double, quiet_policy> dist(df);
    return boost::math::quantile(boost::math::complement(dist, (1 - level) / 2));
}

double chi_squared_upper_tail(double x, double df) {
    if (!usable_df(df) || std::isnan(x) || x < 0)
        return not_applicable;
    if (std::isinf(x))
        return 0.0;
    const boost::math::chi_squared_distribution<double, quiet_policy> dist(df);
    return boost::math::cdf(boost::math::complement(dist, x));
}

coefficient make_coefficient(std::string name, double estimate, double std_error, double df,
                             double level) {
    coefficient row;
    row.name = std::move(name);
    row.estimate = estimate;
    row.std_error = std_error;
    if (!usable_df(df) || !std::isfinite(std_error) || std_error < 0) {
        row.std_error = row.t = row.p = row.ci_low = row.ci_high = not_applicable;
        return row;
    }
    if (std_error == 0) {
        // An exact fit: the estimate is known exactly, and no test applies.
        row.t = row.p = not_applicable;
        row.ci_low = row.ci_high = estimate;
        return row;
    }
    row.t = estimate / std_error;
    row.p = t_two_sided_p(row.t, df);
    const double q = t_interval_quantile(level, df);
    row.ci_low = estimate - q * std_error;
    row.ci_high = estimate + q * std_error;
    return row;
}

information gaussian_information(double rss, double n, int parameters) {
    information info;
    if (!(n > 0) || !(rss >= 0)) {
        info.log_likelihood = info.aic = info.aicc = info.bic = not_applicable;
        return info;
    }
    constexpr double two_pi = 6.283185307179586476925286766559;
    // A perfect fit has an unbounded likelihood: +inf, reported as null.
    info.log_likelihood = -0.5 * n * (std::log(two_pi * rss / n) + 1.0);
    const double k = parameters + 1.0; // the coefficients and the variance
    info.aic = -2.0 * info.log_likelihood + 2.0 * k;
    info.bic = -2.0 * info.log_likelihood + std::log(n) * k;
    info.aicc = n - k - 1.0 > 0 ? info.aic + 2.0 * k * (k + 1.0) / (n - k - 1.0) : not_applicable;
    return info;
}

} // namespace models

// The statistics every model's report shares: t tests and intervals of
// estimates, F tests, and the Gaussian log-likelihood with the information
// criteria. Distributions and quantiles come from Boost.Math.
#pragma once

#include <string>

namespace models {

// One row of a coefficient table.
struct coefficient {
    std::string name;
    double estimate = 0;
    double std_error = 0;
    double t = 0;      // estimate / std_error
    double p = 0;      // two-sided, Student's t with the residual df
    double ci_low = 0; // interval (95% unless asked otherwise), Student's t quantile
    double ci_high = 0;
};

// The row for an estimate with its standard error, tested against zero with
// df residual degrees of freedom; the interval at the confidence level.
// Values that do not apply (df <= 0, a zero or non-finite standard error)
// are NaN.
coefficient make_coefficient(std::string name, double estimate, double std_error, double df,
                             double level = 0.95);

// Upper tail of the F distribution: P(F(df1, df2) > f); NaN where it does
// not apply.
double f_upper_tail(double f, double df1, double df2);

// Two-sided p-value of t with df degrees of freedom; NaN where it does not
// apply.
double t_two_sided_p(double t, double df);

// The t quantile that leaves (1 - level) / 2 in each tail: the half-width
// of a two-sided interval at level, in standard errors; NaN where it does
// not apply.
double t_interval_quantile(double level, double df);

// Upper tail of the chi-squared distribution: P(X(df) > x); NaN where it
// does not apply.
double chi_squared_upper_tail(double x, double df);

// Gaussian log-likelihood of a least-squares fit at the maximum-likelihood
// variance rss / n, and the criteria that follow from it. parameters counts
// the estimated coefficients; the variance adds one more to AIC, AICc and
// BIC, as common tools count them.
struct information {
    double log_likelihood = 0;
    double aic = 0;
    double aicc = 0; // AIC with the small-sample correction; NaN when n <= k + 1
    double bic = 0;
};
information gaussian_information(double rss, double n, int parameters);

} // namespace models

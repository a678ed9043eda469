// Confidence intervals of a non-linear fit by profiling the sum of squares:
// for parameter j, S(c) is the least sum of squares with j held at c, and the
// profile t statistic is sign(c - estimate) * sqrt(S(c) - S(estimate)) / s,
// s the residual standard deviation. The interval's ends are where it
// reaches -q and q, q the t quantile at the level on n - p degrees of
// freedom; each is found by root-finding (TOMS 748) on the profile, each
// point of which is a full fit of the other parameters.
#pragma once

#include "formula.h"
#include "solver.h"

#include <vector>

namespace models {

struct profile_interval {
    // NaN where the profile does not reach the cut-off on that side (the
    // interval is unbounded there, or the fits fail before it).
    double low = 0, high = 0;
    // With bounds: the end is the parameter's bound, the profile not
    // reaching the cut-off before it (the interval is cut by the bound).
    bool low_at_bound = false, high_at_bound = false;
    bool profiled = false; // false: a parameter at its bound, or no variance
    int evaluations = 0;   // of the model, over every profile fit
};

// Intervals for every parameter of a converged fit; columns and options
// (low parts, weights, bounds) as the fit was made with. With bounds, each
// profile point is a fit of the others within theirs, the profiled
// parameter's own range ends at its bounds, and a parameter at a bound is
// not profiled (no interval, as it has no standard error).
std::vector<profile_interval> profile_intervals(const formula& f,
                                                const std::vector<std::vector<double>>& columns,
                                                const nonlinear_fit& fit, double level,
                                                const solver_options& options = {});

} // namespace models

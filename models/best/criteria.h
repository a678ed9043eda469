// Scores of best subsets by each criterion of criterion.h (AIC, AICc, BIC,
// Mallows' Cp, adjusted R²), and their ranking.
#pragma once

#include "criterion.h"
#include "subsets.h"

#include <vector>

namespace models {

using subset_criterion = criterion_id;

struct subset_scores {
    double aic = 0;
    double aicc = 0; // NaN when n <= coefficients + 2
    double bic = 0;
    double cp = 0;    // NaN when the full model leaves no variance to scale by
    double adjr2 = 0; // NaN when it does not apply
};

// The sizes of a search and what the criteria need beyond each subset's RSS.
struct subset_context {
    double n = 0;               // rows fitted
    int forced = 1;             // forced coefficients (1: the intercept)
    int columns = 0;            // candidate columns, all terms
    double full_rss = 0;        // all candidates: scales Cp
    double forced_only_rss = 0; // forced columns alone: the total for adjusted R²
};

subset_context context_of(const subset_result& result, double n, int forced);

// A subset whose terms have `columns` design columns, with residual sum of
// squares rss.
subset_scores score_subset(const subset_context& context, int columns, double rss);
double score_value(const subset_scores& s, subset_criterion c);

struct ranked_subset {
    subset model;
    subset_scores scores;
    int place = 1; // 1: the best of its size, 2: the second, ...
};

// Every subset listed (each size's nbest), best criterion first; values
// that do not apply (NaN) go last, ties keep the smaller size first.
std::vector<ranked_subset> rank_subsets(const subset_result& result, const subset_context& context,
                                        subset_criterion c);

} // namespace models

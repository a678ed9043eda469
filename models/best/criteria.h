// Criteria for choosing among the best subsets of each size: AIC, AICc and
// BIC of the Gaussian likelihood (counted as in statistics.h: the variance
// is one more parameter), Mallows' Cp and adjusted R².
#pragma once

#include "subsets.h"

#include <optional>
#include <string_view>
#include <vector>

namespace models {

enum class subset_criterion { aic, aicc, bic, cp, adjr2 };

// "aic", "aicc", "bic", "cp" or "adjr2" (any case); nothing for other text.
std::optional<subset_criterion> parse_subset_criterion(std::string_view text);
const char* criterion_name(subset_criterion c);

// Adjusted R² is better when higher; the others when lower.
bool higher_is_better(subset_criterion c);

struct subset_scores {
    double aic = 0;
    double aicc = 0; // NaN when n <= coefficients + 2
    double bic = 0;
    double cp = 0;    // NaN when the full model leaves no variance to scale by
    double adjr2 = 0; // NaN when it does not apply
};

// AIC, AICc and BIC of a least-squares fit with the given number of
// coefficients (the variance counts as one more parameter).
struct gaussian_scores {
    double aic = 0;
    double aicc = 0; // NaN when n <= coefficients + 2
    double bic = 0;
};
gaussian_scores gaussian_scores_of(double rss, double n, int coefficients);

// The sizes of a search and what the criteria need beyond each subset's RSS.
struct subset_context {
    double n = 0;               // rows fitted
    int forced = 1;             // forced coefficients (1: the intercept)
    int candidates = 0;         // p
    double full_rss = 0;        // all candidates: scales Cp
    double forced_only_rss = 0; // forced columns alone: the total for adjusted R²
};

subset_context context_of(const subset_result& result, double n, int forced);

// A subset of k candidates with residual sum of squares rss.
subset_scores score_subset(const subset_context& context, int k, double rss);
double score_value(const subset_scores& s, subset_criterion c);

struct ranked_subset {
    subset model;
    subset_scores scores;
};

// The best subset of every size, best criterion first; values that do not
// apply (NaN) go last, ties keep the smaller size first.
std::vector<ranked_subset> rank_subsets(const subset_result& result, const subset_context& context,
                                        subset_criterion c);

} // namespace models

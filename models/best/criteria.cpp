#include "criteria.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>

namespace models {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double two_pi = 6.283185307179586;

struct criterion_entry {
    subset_criterion c;
    const char* name;
};
constexpr criterion_entry criterion_table[] = {{subset_criterion::aic, "aic"},
                                               {subset_criterion::aicc, "aicc"},
                                               {subset_criterion::bic, "bic"},
                                               {subset_criterion::cp, "cp"},
                                               {subset_criterion::adjr2, "adjr2"}};

} // namespace

std::optional<subset_criterion> parse_subset_criterion(std::string_view text) {
    std::string lower(text);
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const auto& e : criterion_table)
        if (lower == e.name)
            return e.c;
    return std::nullopt;
}

const char* criterion_name(subset_criterion c) {
    for (const auto& e : criterion_table)
        if (e.c == c)
            return e.name;
    return "";
}

bool higher_is_better(subset_criterion c) {
    return c == subset_criterion::adjr2;
}

subset_context context_of(const subset_result& result, double n, int forced) {
    subset_context context;
    context.n = n;
    context.forced = forced;
    context.candidates = result.candidates;
    context.full_rss = result.full_rss;
    context.forced_only_rss = result.forced_only_rss;
    return context;
}

gaussian_scores gaussian_scores_of(double rss, double n, int coefficients) {
    const double params = coefficients + 1.0; // and the variance
    // -2 log-likelihood at the maximum-likelihood variance rss / n.
    const double deviance = n * std::log(two_pi * rss / n) + n;
    gaussian_scores g;
    g.aic = deviance + 2 * params;
    g.aicc = n - params - 1 > 0 ? g.aic + 2 * params * (params + 1) / (n - params - 1) : nan;
    g.bic = deviance + params * std::log(n);
    return g;
}

subset_scores score_subset(const subset_context& ctx, int k, double rss) {
    const double n = ctx.n;
    const int coefficients = k + ctx.forced;
    const gaussian_scores g = gaussian_scores_of(rss, n, coefficients);
    subset_scores s;
    s.aic = g.aic;
    s.aicc = g.aicc;
    s.bic = g.bic;
    const double full_df = n - ctx.forced - ctx.candidates;
    const double sigma2 = full_df > 0 ? ctx.full_rss / full_df : 0;
    s.cp = sigma2 > 0 ? rss / sigma2 - n + 2 * coefficients : nan;
    // Against the forced-only model: the centred total with an intercept,
    // the uncentred one without.
    const double df = n - coefficients;
    const double total_df = n - ctx.forced;
    s.adjr2 = df > 0 && total_df > 0 && ctx.forced_only_rss > 0
                  ? 1 - (rss / df) / (ctx.forced_only_rss / total_df)
                  : nan;
    return s;
}

double score_value(const subset_scores& s, subset_criterion c) {
    switch (c) {
    case subset_criterion::aic:
        return s.aic;
    case subset_criterion::aicc:
        return s.aicc;
    case subset_criterion::bic:
        return s.bic;
    case subset_criterion::cp:
        return s.cp;
    case subset_criterion::adjr2:
        return s.adjr2;
    }
    return nan;
}

std::vector<ranked_subset> rank_subsets(const subset_result& result, const subset_context& ctx,
                                        subset_criterion c) {
    std::vector<ranked_subset> ranked;
    for (const subset& s : result.best) {
        if (s.terms.empty())
            continue; // a size never reached (stopped search)
        ranked.push_back({s, score_subset(ctx, static_cast<int>(s.terms.size()), s.rss)});
    }
    const bool higher = higher_is_better(c);
    std::stable_sort(ranked.begin(), ranked.end(),
                     [&](const ranked_subset& a, const ranked_subset& b) {
                         const double x = score_value(a.scores, c);
                         const double y = score_value(b.scores, c);
                         if (std::isnan(x) || std::isnan(y))
                             return !std::isnan(x) && std::isnan(y);
                         return higher ? x > y : x < y;
                     });
    return ranked;
}

} // namespace models

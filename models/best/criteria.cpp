#include "criteria.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace models {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

} // namespace

subset_context context_of(const subset_result& result, double n, int forced) {
    subset_context context;
    context.n = n;
    context.forced = forced;
    context.columns = result.columns;
    context.full_rss = result.full_rss;
    context.forced_only_rss = result.forced_only_rss;
    return context;
}

subset_scores score_subset(const subset_context& ctx, int columns, double rss) {
    const double n = ctx.n;
    const int coefficients = columns + ctx.forced;
    const gaussian_scores g = gaussian_scores_of(rss, n, coefficients);
    subset_scores s;
    s.aic = g.aic;
    s.aicc = g.aicc;
    s.bic = g.bic;
    const double full_df = n - ctx.forced - ctx.columns;
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
    case criterion_id::aic:
        return s.aic;
    case criterion_id::aicc:
        return s.aicc;
    case criterion_id::bic:
        return s.bic;
    case criterion_id::cp:
        return s.cp;
    case criterion_id::adjr2:
        return s.adjr2;
    case criterion_id::cv:
        break;
    }
    return nan;
}

std::vector<ranked_subset> rank_subsets(const subset_result& result, const subset_context& ctx,
                                        subset_criterion c) {
    std::vector<ranked_subset> ranked;
    const auto add = [&](const subset& s, int place) {
        if (!s.terms.empty()) // a size never reached (stopped search)
            ranked.push_back({s, score_subset(ctx, s.columns, s.rss), place});
    };
    if (result.listed.empty())
        for (const subset& s : result.best)
            add(s, 1);
    for (const auto& size : result.listed)
        for (std::size_t i = 0; i < size.size(); ++i)
            add(size[i], static_cast<int>(i) + 1);
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

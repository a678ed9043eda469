// The criteria against hand-computed values, their parsing and ranking.
#include "criteria.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

models::subset_context small_case() {
    models::subset_context c;
    c.n = 10;
    c.forced = 1;
    c.candidates = 3;
    c.full_rss = 4;
    c.forced_only_rss = 20;
    return c;
}

TEST(criteria, values_by_hand) {
    // k = 2 candidates + intercept + variance = 4 parameters, rss = 5:
    // -2 log L = 10 ln(2 pi 5 / 10) + 10 = 10 ln(pi) + 10.
    const models::subset_scores s = models::score_subset(small_case(), 2, 5);
    const double deviance = 10 * std::log(M_PI) + 10;
    EXPECT_NEAR(s.aic, deviance + 8, 1e-12);
    EXPECT_NEAR(s.aicc, deviance + 8 + 40.0 / 5, 1e-12);
    EXPECT_NEAR(s.bic, deviance + 4 * std::log(10.0), 1e-12);
    EXPECT_NEAR(s.cp, 5 / (4.0 / 6) - 10 + 6, 1e-12); // sigma2 = 4 / (10 - 1 - 3)
    EXPECT_NEAR(s.adjr2, 1 - (5.0 / 7) / (20.0 / 9), 1e-12);
    // Without an intercept the total is uncentred, over n degrees of freedom.
    models::subset_context no_intercept = small_case();
    no_intercept.forced = 0;
    EXPECT_NEAR(models::score_subset(no_intercept, 2, 5).adjr2, 1 - (5.0 / 8) / (20.0 / 10), 1e-12);
    // Too few rows: AICc and Cp do not apply.
    models::subset_context tight = small_case();
    tight.n = 4;
    EXPECT_TRUE(std::isnan(models::score_subset(tight, 2, 5).aicc));
    EXPECT_TRUE(std::isnan(models::score_subset(tight, 2, 5).cp));
}

TEST(criteria, parsing) {
    const struct {
        const char* text;
        std::optional<models::subset_criterion> want;
    } table[] = {{"aic", models::subset_criterion::aic},
                 {"AICc", models::subset_criterion::aicc},
                 {"bic", models::subset_criterion::bic},
                 {"cp", models::subset_criterion::cp},
                 {"adjr2", models::subset_criterion::adjr2},
                 {"cv", std::nullopt},
                 {"", std::nullopt},
                 {"aic ", std::nullopt}};
    for (const auto& row : table)
        EXPECT_EQ(models::parse_subset_criterion(row.text), row.want) << row.text;
}

TEST(criteria, ranking_puts_best_first_in_the_right_direction) {
    models::subset_result r;
    r.candidates = 3;
    r.full_rss = 4;
    r.forced_only_rss = 20;
    r.best = {{{0}, 9}, {{0, 2}, 5}, {{0, 1, 2}, 4}};
    const auto ctx = models::context_of(r, 10, 1);
    for (auto c : {models::subset_criterion::aic, models::subset_criterion::bic,
                   models::subset_criterion::cp, models::subset_criterion::adjr2}) {
        const auto ranked = models::rank_subsets(r, ctx, c);
        ASSERT_EQ(ranked.size(), 3u);
        for (size_t i = 1; i < ranked.size(); ++i) {
            const double a = models::score_value(ranked[i - 1].scores, c);
            const double b = models::score_value(ranked[i].scores, c);
            EXPECT_TRUE(models::higher_is_better(c) ? a >= b : a <= b) << models::criterion_name(c);
        }
    }
    // With 6 rows AICc does not apply to three candidates (5 parameters),
    // which then go last.
    const auto tight =
        models::rank_subsets(r, models::context_of(r, 6, 1), models::subset_criterion::aicc);
    EXPECT_EQ(tight.back().model.terms.size(), 3u);
    EXPECT_TRUE(std::isnan(tight.back().scores.aicc));
}

} // namespace

// The criteria against hand-computed values, their parsing and ranking.
#include "criteria.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

models::subset_context small_case() {
    models::subset_context c;
    c.n = 10;
    c.forced = 1;
    c.columns = 3;
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

TEST(criteria, names_in_any_case_within_each_programs_set) {
    using models::criterion_id;
    const struct {
        const char* text;
        models::criterion_set allowed;
        std::optional<criterion_id> want;
    } table[] = {{"aic", models::subset_criteria, criterion_id::aic},
                 {"AICc", models::family_criteria, criterion_id::aicc},
                 {"Bic", models::degree_criteria, criterion_id::bic},
                 {"cp", models::subset_criteria, criterion_id::cp},
                 {"ADJR2", models::subset_criteria, criterion_id::adjr2},
                 {"cv", models::degree_criteria, criterion_id::cv},
                 {"cv", models::subset_criteria, std::nullopt},
                 {"cp", models::family_criteria, std::nullopt},
                 {"", models::subset_criteria, std::nullopt},
                 {"aic ", models::subset_criteria, std::nullopt}};
    for (const auto& row : table)
        EXPECT_EQ(models::criterion_named(row.text, row.allowed), row.want) << row.text;
    EXPECT_EQ(models::criteria_list(models::subset_criteria), "aic|aicc|bic|cp|adjr2");
    EXPECT_EQ(models::criteria_list(models::degree_criteria, ", "), "aic, aicc, bic, cv");
    EXPECT_STREQ(models::criterion_label(criterion_id::aicc), "aicc");
}

TEST(criteria, ranking_puts_best_first_in_the_right_direction) {
    models::subset_result r;
    r.columns = 3;
    r.full_rss = 4;
    r.forced_only_rss = 20;
    r.best = {{{0}, 9, 1}, {{0, 2}, 5, 2}, {{0, 1, 2}, 4, 3}};
    const auto ctx = models::context_of(r, 10, 1);
    for (auto c : {models::criterion_id::aic, models::criterion_id::bic, models::criterion_id::cp,
                   models::criterion_id::adjr2}) {
        const auto ranked = models::rank_subsets(r, ctx, c);
        ASSERT_EQ(ranked.size(), 3u);
        for (size_t i = 1; i < ranked.size(); ++i) {
            const double a = models::score_value(ranked[i - 1].scores, c);
            const double b = models::score_value(ranked[i].scores, c);
            EXPECT_TRUE(models::higher_is_better(c) ? a >= b : a <= b)
                << models::criterion_label(c);
        }
    }
    // With 6 rows AICc does not apply to three candidates (5 parameters),
    // which then go last.
    const auto tight =
        models::rank_subsets(r, models::context_of(r, 6, 1), models::criterion_id::aicc);
    EXPECT_EQ(tight.back().model.terms.size(), 3u);
    EXPECT_TRUE(std::isnan(tight.back().scores.aicc));
}

} // namespace

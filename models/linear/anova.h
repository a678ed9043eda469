// The sequential (type I) analysis of variance of a least-squares fit, as
// R's anova() gives it for lm: each term's sum of squares is what it adds
// to the fit after the terms before it. With the design factorised as
// X = QR, these are the squares of Q'y's entries at the term's columns, so
// the final triangle of [X | y] holds them all; aliased columns are taken
// out first (the triangle of the rest is recomputed), and terms left with
// no column are not listed.
#pragma once

#include <Eigen/Core>

#include <string>
#include <vector>

namespace models {

struct anova_row {
    std::string term; // "group", "supp:dose", or "residuals"
    double df = 0;
    double sum_sq = 0;
    double mean_sq = 0;
    double f = 0; // NaN for the residuals
    double p = 0; // NaN for the residuals
};

// triangle: of [coefficient columns | y] (R'R = X'X), as the fit keeps it;
// aliased and term_of: per coefficient column (term_of -1: the intercept,
// which is not listed); labels: per term. The last row is the residuals.
std::vector<anova_row> sequential_anova(const Eigen::MatrixXd& triangle,
                                        const std::vector<bool>& aliased,
                                        const std::vector<int>& term_of,
                                        const std::vector<std::string>& labels, double rss,
                                        double residual_df);

// The triangle of the columns not aliased, then y, recomputed from the
// fit's triangle by an orthogonal factorisation (k + 1 square).
Eigen::MatrixXd kept_triangle(const Eigen::MatrixXd& triangle, const std::vector<bool>& aliased);

} // namespace models

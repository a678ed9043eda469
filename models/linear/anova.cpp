#include "anova.h"

#include "statistics.h"

#include <Eigen/QR>

#include <cmath>

namespace models {

Eigen::MatrixXd kept_triangle(const Eigen::MatrixXd& triangle, const std::vector<bool>& aliased) {
    const int columns = static_cast<int>(aliased.size());
    std::vector<int> kept;
    for (int j = 0; j < columns; ++j)
        if (!aliased[j])
            kept.push_back(j);
    const int k = static_cast<int>(kept.size());
    Eigen::MatrixXd chosen(triangle.rows(), k + 1);
    for (int a = 0; a < k; ++a)
        chosen.col(a) = triangle.col(kept[a]);
    chosen.col(k) = triangle.col(columns);
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(chosen);
    Eigen::MatrixXd r = qr.matrixQR().topRows(std::min<Eigen::Index>(k + 1, chosen.rows()));
    r.triangularView<Eigen::StrictlyLower>().setZero();
    Eigen::MatrixXd square = Eigen::MatrixXd::Zero(k + 1, k + 1);
    square.topRows(r.rows()) = r;
    return square;
}

std::vector<anova_row> sequential_anova(const Eigen::MatrixXd& triangle,
                                        const std::vector<bool>& aliased,
                                        const std::vector<int>& term_of,
                                        const std::vector<std::string>& labels, double rss,
                                        double residual_df) {
    const Eigen::MatrixXd r = kept_triangle(triangle, aliased);
    const Eigen::Index k = r.cols() - 1;
    std::vector<anova_row> rows(labels.size());
    std::vector<bool> present(labels.size(), false);
    Eigen::Index a = 0;
    for (std::size_t j = 0; j < aliased.size(); ++j) {
        if (aliased[j])
            continue;
        const double effect = r(a++, k);
        if (term_of[j] < 0)
            continue;
        anova_row& row = rows[static_cast<std::size_t>(term_of[j])];
        row.df += 1;
        row.sum_sq += effect * effect;
        present[static_cast<std::size_t>(term_of[j])] = true;
    }
    const double residual_ms = residual_df > 0 ? rss / residual_df : NAN;
    std::vector<anova_row> table;
    for (std::size_t t = 0; t < labels.size(); ++t) {
        if (!present[t])
            continue;
        anova_row row = rows[t];
        row.term = labels[t];
        row.mean_sq = row.sum_sq / row.df;
        row.f = row.mean_sq / residual_ms;
        row.p = f_upper_tail(row.f, row.df, residual_df);
        table.push_back(row);
    }
    anova_row residuals;
    residuals.term = "residuals";
    residuals.df = residual_df;
    residuals.sum_sq = rss;
    residuals.mean_sq = residual_ms;
    residuals.f = residuals.p = NAN;
    table.push_back(residuals);
    return table;
}

} // namespace models

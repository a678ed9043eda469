// The branch-and-bound search against an exhaustive search on small random
// problems, with and without an intercept, and with collinear columns.
#include "subsets.h"

#include <Eigen/QR>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;

enum class defect { none, combination, duplicate, zero };

struct problem {
    unsigned seed;
    int p;
    bool intercept;
    int rows;
    defect kind;
};

// Candidates correlated through a shared factor, y driven by a few of them.
MatrixXd make_design(const problem& c) {
    std::mt19937 engine(c.seed);
    std::normal_distribution<double> normal;
    const int f = c.intercept ? 1 : 0;
    MatrixXd d(c.rows, f + c.p + 1);
    for (int i = 0; i < c.rows; ++i) {
        const double shared = normal(engine);
        if (f)
            d(i, 0) = 1;
        for (int j = 0; j < c.p; ++j)
            d(i, f + j) = normal(engine) + 0.7 * shared + 3 * f;
        double y = normal(engine);
        for (int j = 0; j < c.p; j += 3)
            y += (j % 2 ? -0.6 : 0.9) * d(i, f + j);
        d(i, f + c.p) = y;
    }
    const int last = f + c.p - 1;
    if (c.kind == defect::combination && c.p >= 3)
        d.col(last) = d.col(f) - 2 * d.col(f + 1);
    if (c.kind == defect::duplicate && c.p >= 2)
        d.col(last) = d.col(f);
    if (c.kind == defect::zero)
        d.col(last).setZero();
    return d;
}

// RSS of y on the forced columns and the given candidates, by a complete
// orthogonal decomposition
// of the raw design (independent of the search's R; exact for rank-deficient sets).
double direct_rss(const MatrixXd& d, int f, unsigned mask, int p) {
    std::vector<int> cols;
    for (int j = 0; j < f; ++j)
        cols.push_back(j);
    for (int j = 0; j < p; ++j)
        if (mask >> j & 1u)
            cols.push_back(f + j);
    const VectorXd y = d.col(f + p);
    if (cols.empty())
        return y.squaredNorm();
    MatrixXd x(d.rows(), cols.size());
    for (size_t j = 0; j < cols.size(); ++j)
        x.col(j) = d.col(cols[j]);
    const VectorXd b = x.completeOrthogonalDecomposition().solve(y);
    return (y - x * b).squaredNorm();
}

unsigned mask_of(const std::vector<int>& terms) {
    unsigned mask = 0;
    for (int t : terms)
        mask |= 1u << t;
    return mask;
}

class subsets_vs_exhaustive : public ::testing::TestWithParam<problem> {};

TEST_P(subsets_vs_exhaustive, same_best_rss_for_every_size) {
    const problem c = GetParam();
    const int f = c.intercept ? 1 : 0;
    const MatrixXd d = make_design(c);
    Eigen::HouseholderQR<MatrixXd> qr(d);
    const MatrixXd r = qr.matrixQR().topRows(d.cols()); // packed: search reads the upper part

    models::subset_options options;
    options.forced = f;
    const models::subset_result got = models::best_subsets(r, options);
    ASSERT_EQ(got.status, models::subset_status::ok);
    ASSERT_EQ(got.best.size(), static_cast<size_t>(c.p));

    std::vector<double> exhaustive(c.p + 1, INFINITY);
    for (unsigned mask = 1; mask < (1u << c.p); ++mask) {
        const int k = __builtin_popcount(mask);
        exhaustive[k] = std::min(exhaustive[k], direct_rss(d, f, mask, c.p));
    }
    const double scale = direct_rss(d, f, 0, c.p);
    for (int k = 1; k <= c.p; ++k) {
        const models::subset& s = got.best[k - 1];
        SCOPED_TRACE("size " + std::to_string(k));
        ASSERT_EQ(s.terms.size(), static_cast<size_t>(k));
        EXPECT_TRUE(std::is_sorted(s.terms.begin(), s.terms.end()));
        const double tol = 1e-10 * exhaustive[k] + 1e-13 * scale;
        EXPECT_NEAR(s.rss, exhaustive[k], tol);
        // The subset reported really has that RSS (ties may pick another
        // subset with the same fit).
        EXPECT_NEAR(direct_rss(d, f, mask_of(s.terms), c.p), exhaustive[k], tol);
    }
    EXPECT_NEAR(got.full_rss, exhaustive[c.p], 1e-10 * exhaustive[c.p] + 1e-13 * scale);
    EXPECT_NEAR(got.forced_only_rss, scale, 1e-10 * scale);
}

INSTANTIATE_TEST_SUITE_P(
    table, subsets_vs_exhaustive,
    ::testing::Values(
        problem{1, 1, true, 12, defect::none}, problem{2, 2, false, 10, defect::none},
        problem{3, 3, true, 15, defect::combination}, problem{4, 5, true, 20, defect::none},
        problem{5, 6, false, 25, defect::none}, problem{6, 7, true, 30, defect::duplicate},
        problem{7, 8, true, 14, defect::none}, problem{8, 9, false, 40, defect::zero},
        problem{9, 10, true, 60, defect::none}, problem{10, 11, true, 50, defect::combination},
        problem{11, 12, true, 80, defect::none}, problem{12, 12, false, 40, defect::duplicate}));

TEST(subsets, refuses_bad_input_and_handles_no_candidates) {
    EXPECT_EQ(models::best_subsets(MatrixXd::Identity(3, 2)).status,
              models::subset_status::invalid_input);
    MatrixXd bad = MatrixXd::Identity(3, 3);
    bad(0, 2) = NAN;
    EXPECT_EQ(models::best_subsets(bad).status, models::subset_status::invalid_input);
    const models::subset_result none = models::best_subsets(MatrixXd::Identity(2, 2));
    EXPECT_EQ(none.status, models::subset_status::ok);
    EXPECT_TRUE(none.best.empty());
    EXPECT_DOUBLE_EQ(none.full_rss, 1);
}

TEST(subsets, progress_can_stop_the_search) {
    // A pure-noise response prunes little, so the search passes the first
    // check (every 64 nodes taken from the stack) long before its end.
    MatrixXd d = make_design({21, 20, true, 100, defect::none});
    std::mt19937 engine(3);
    std::normal_distribution<double> normal;
    for (int i = 0; i < d.rows(); ++i)
        d(i, d.cols() - 1) = normal(engine);
    Eigen::HouseholderQR<MatrixXd> qr(d);
    models::subset_options options;
    options.progress_seconds = 0;
    std::vector<double> fractions;
    options.progress = [&](const models::subset_progress& p) {
        fractions.push_back(p.fraction);
        return fractions.size() < 2;
    };
    const auto got = models::best_subsets(qr.matrixQR().topRows(d.cols()), options);
    EXPECT_EQ(got.status, models::subset_status::stopped);
    ASSERT_EQ(fractions.size(), 2u);
    EXPECT_GT(fractions[0], 0);
    EXPECT_LE(fractions[0], fractions[1]);
    EXPECT_LT(fractions[1], 1);
}

} // namespace

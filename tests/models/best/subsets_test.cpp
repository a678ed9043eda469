// The branch-and-bound search against an exhaustive search on small random
// problems, with and without an intercept, and with collinear columns.
#include "subsets.h"

#include <Eigen/QR>
#include <gtest/gtest.h>

#include <algorithm>
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

// RSS of y on the forced columns and the given candidate columns, by a
// complete orthogonal decomposition of the raw design (independent of the
// search's R; exact for rank-deficient sets).
double direct_rss(const MatrixXd& d, int f, const std::vector<int>& candidate_cols) {
    std::vector<int> cols;
    for (int j = 0; j < f; ++j)
        cols.push_back(j);
    for (int c : candidate_cols)
        cols.push_back(f + c);
    const VectorXd y = d.col(d.cols() - 1);
    if (cols.empty())
        return y.squaredNorm();
    MatrixXd x(d.rows(), cols.size());
    for (size_t j = 0; j < cols.size(); ++j)
        x.col(j) = d.col(cols[j]);
    const VectorXd b = x.completeOrthogonalDecomposition().solve(y);
    return (y - x * b).squaredNorm();
}

// The candidate columns of a set of terms of the given widths.
std::vector<int> columns_of(const std::vector<int>& terms, const std::vector<int>& widths) {
    std::vector<int> first(widths.size() + 1, 0), cols;
    for (size_t t = 0; t < widths.size(); ++t)
        first[t + 1] = first[t] + widths[t];
    for (int t : terms)
        for (int c = 0; c < widths[t]; ++c)
            cols.push_back(first[t] + c);
    return cols;
}

// Checks the search's listed subsets of every size against an exhaustive
// search over the terms: the same nbest residual sums of squares (to
// rounding), each reported subset really having its RSS, forced-in terms in
// every one.
void expect_exhaustive(const MatrixXd& d, const models::subset_options& options) {
    const int f = options.forced;
    const int columns = static_cast<int>(d.cols()) - f - 1;
    std::vector<int> widths = options.widths;
    if (widths.empty())
        widths.assign(columns, 1);
    const int terms = static_cast<int>(widths.size());
    Eigen::HouseholderQR<MatrixXd> qr(d);
    const MatrixXd r = qr.matrixQR().topRows(d.cols()); // packed: the search reads the upper part
    const models::subset_result got = models::best_subsets(r, options);
    ASSERT_EQ(got.status, models::subset_status::ok) << got.message;

    unsigned forced_mask = 0;
    for (int t : options.force_in)
        forced_mask |= 1u << t;
    const int sizes = terms - static_cast<int>(options.force_in.size());
    std::vector<std::vector<double>> exhaustive(sizes + 1);
    for (unsigned mask = 1; mask < (1u << terms); ++mask) {
        if ((mask & forced_mask) != forced_mask || mask == forced_mask)
            continue;
        std::vector<int> in;
        for (int t = 0; t < terms; ++t)
            if (mask >> t & 1u)
                in.push_back(t);
        exhaustive[in.size() - options.force_in.size()].push_back(
            direct_rss(d, f, columns_of(in, widths)));
    }
    const double scale = direct_rss(d, f, {});
    ASSERT_EQ(got.listed.size(), static_cast<size_t>(sizes));
    for (int k = 1; k <= sizes; ++k) {
        SCOPED_TRACE("size " + std::to_string(k));
        std::vector<double>& all = exhaustive[k];
        std::sort(all.begin(), all.end());
        const auto& listed = got.listed[k - 1];
        ASSERT_EQ(listed.size(), std::min<size_t>(all.size(), options.nbest));
        for (size_t i = 0; i < listed.size(); ++i) {
            const models::subset& s = listed[i];
            const double tol = 1e-10 * all[i] + 1e-13 * scale;
            ASSERT_EQ(s.terms.size(), k + options.force_in.size());
            EXPECT_TRUE(std::is_sorted(s.terms.begin(), s.terms.end()));
            for (int t : options.force_in)
                EXPECT_TRUE(std::count(s.terms.begin(), s.terms.end(), t));
            EXPECT_EQ(s.columns, static_cast<int>(columns_of(s.terms, widths).size()));
            EXPECT_NEAR(s.rss, all[i], tol);
            // Ties may pick another subset with the same fit.
            EXPECT_NEAR(direct_rss(d, f, columns_of(s.terms, widths)), all[i], tol);
        }
        EXPECT_EQ(got.best[k - 1].terms, listed.front().terms);
    }
    const double full =
        direct_rss(d, f, columns_of(std::vector<int>(got.best.back().terms), widths));
    EXPECT_NEAR(got.full_rss, full, 1e-10 * full + 1e-13 * scale);
    EXPECT_NEAR(got.forced_only_rss, scale, 1e-10 * scale);
}

class subsets_vs_exhaustive : public ::testing::TestWithParam<problem> {};

TEST_P(subsets_vs_exhaustive, same_best_rss_for_every_size_on_one_and_two_threads) {
    const problem c = GetParam();
    const MatrixXd d = make_design(c);
    for (int threads : {1, 2}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        models::subset_options options;
        options.forced = c.intercept ? 1 : 0;
        options.threads = threads;
        expect_exhaustive(d, options);
    }
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

// Terms that are groups of columns (a categorical variable's columns enter
// together), forced-in terms and several subsets per size, against an
// exhaustive search over the terms.
struct grouped {
    problem data;
    std::vector<int> widths; // empty: single columns
    std::vector<int> force_in;
    int nbest;
};

class grouped_vs_exhaustive : public ::testing::TestWithParam<grouped> {};

TEST_P(grouped_vs_exhaustive, same_subsets_as_exhaustive) {
    const grouped c = GetParam();
    const MatrixXd d = make_design(c.data);
    models::subset_options options;
    options.forced = c.data.intercept ? 1 : 0;
    options.widths = c.widths;
    options.force_in = c.force_in;
    options.nbest = c.nbest;
    options.threads = 2;
    expect_exhaustive(d, options);
}

INSTANTIATE_TEST_SUITE_P(
    table, grouped_vs_exhaustive,
    ::testing::Values(
        // Several best per size and forced-in single columns.
        grouped{{21, 8, true, 40, defect::none}, {}, {}, 3},
        grouped{{22, 9, true, 40, defect::none}, {}, {2, 5}, 2},
        grouped{{23, 7, false, 30, defect::duplicate}, {}, {0}, 4},
        // Groups; the last column of each design repeats or combines
        // earlier ones, so a group holds a column aliased with other terms
        // (as an interaction cell the main effects span).
        grouped{{24, 9, true, 40, defect::none}, {1, 2, 3, 1, 2}, {}, 1},
        grouped{{25, 10, true, 50, defect::combination}, {2, 1, 3, 2, 2}, {}, 2},
        grouped{{26, 8, true, 30, defect::duplicate}, {3, 1, 2, 2}, {1}, 2},
        grouped{{27, 9, false, 40, defect::zero}, {1, 1, 4, 3}, {}, 3},
        grouped{{28, 11, true, 60, defect::none}, {2, 2, 2, 1, 1, 3}, {0, 3}, 1}));

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

TEST(subsets, progress_moves_and_can_stop_the_search) {
    // A pure-noise response prunes little, so the search runs long enough
    // for reports (every millisecond) well before its end.
    MatrixXd d = make_design({21, 24, true, 100, defect::none});
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
        return !(p.fraction > 0 && fractions.size() >= 2);
    };
    const auto got = models::best_subsets(qr.matrixQR().topRows(d.cols()), options);
    EXPECT_EQ(got.status, models::subset_status::stopped);
    ASSERT_GE(fractions.size(), 2u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_GT(fractions.back(), 0);
    EXPECT_LT(fractions.back(), 1);
}

TEST(subsets, refuses_widths_and_forced_terms_that_do_not_fit) {
    const MatrixXd r = MatrixXd::Identity(5, 5); // intercept, 3 candidate columns, y
    models::subset_options options;
    options.widths = {1, 1};
    EXPECT_EQ(models::best_subsets(r, options).status, models::subset_status::invalid_input);
    options.widths = {2, 0, 1};
    EXPECT_EQ(models::best_subsets(r, options).status, models::subset_status::invalid_input);
    options.widths = {2, 1};
    options.force_in = {1, 1};
    EXPECT_EQ(models::best_subsets(r, options).status, models::subset_status::invalid_input);
    options.force_in = {2};
    EXPECT_EQ(models::best_subsets(r, options).status, models::subset_status::invalid_input);
}

} // namespace

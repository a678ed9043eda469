#include "anova.h"
#include "design_coding.h"
#include "linear_formula.h"
#include "model_terms.h"
#include "robust_covariance.h"

#include <gtest/gtest.h>

#include <Eigen/QR>

#include <cmath>

namespace models {
namespace {

std::string term_labels(const model_terms& t) {
    std::string out = t.intercept ? "1" : "0";
    for (const auto& term : t.terms)
        out += " + " + term.label;
    return out;
}

TEST(Formula, ExpandsTermsAsRDoes) {
    const std::vector<std::string> names = {"y", "a", "b", "c", "Solar R", "w"};
    struct row {
        const char* formula;
        const char* terms;
    } rows[] = {
        {"y ~ a", "1 + a"},
        {"y ~ a*b", "1 + a + b + a:b"},
        {"y ~ b:a + a", "1 + a + b:a"}, // variables keep their first order
        {"y ~ a*b*c", "1 + a + b + c + a:b + a:c + b:c + a:b:c"},
        {"y ~ a*b - a:b", "1 + a + b"},
        {"y ~ a + b - 1", "0 + a + b"},
        {"y ~ 0 + a", "0 + a"},
        {"y ~ -1 + a", "0 + a"},
        {"y ~ .", "1 + a + b + c + `Solar R`"},
        {"y ~ . - c", "1 + a + b + `Solar R`"},
        {"log(y) ~ log(a) + I(b^2) + C(c) + `Solar R`", "1 + log(a) + I(b^2) + C(c) + `Solar R`"},
        {"y ~ I(a - 2000) + I(a/b) + sqrt(abs(b))", "1 + I(a - 2000) + I(a/b) + sqrt(abs(b))"},
        {"y ~ (a + b):c", "1 + a:c + b:c"},
    };
    for (const auto& r : rows) {
        const model_terms t = expand_formula(r.formula, names, {5});
        ASSERT_TRUE(t.ok) << r.formula << ": " << t.error;
        EXPECT_EQ(term_labels(t), r.terms) << r.formula;
    }
}

TEST(Formula, RefusesMalformedTextSayingWhere) {
    const std::vector<std::string> names = {"y", "a"};
    struct row {
        const char* formula;
        bool usage;
        const char* error;
    } rows[] = {
        {"y a", true, "at character 3: expected '~'"},
        {"~ a", true, "at character 1: expected the response"},
        {"y ~ a +", true, "at character 8: expected a column name"},
        {"y ~ log(a", true, "at character 10: expected ')'"},
        {"y ~ foo(a)", true, "at character 5: unknown function \"foo\""},
        {"y ~ a $ b", true, "at character 7: unexpected character '$'"},
        {"y ~ 2", true, "at character 5: expected a term"},
        {"y ~ `a", true, "at character 5: a backquoted name is not closed"},
        {"y ~ a:1", true, "at character 6: an interaction joins terms"},
        {"y ~ C(2)", true, "at character 7: expected a column name inside C( )"},
        {"y ~ b", false, "there is no column \"b\"; the columns are: y, a"},
    };
    for (const auto& r : rows) {
        const model_terms t = expand_formula(r.formula, names, {});
        EXPECT_FALSE(t.ok) << r.formula;
        EXPECT_EQ(t.usage_error, r.usage) << r.formula;
        EXPECT_NE(t.error.find(r.error), std::string::npos) << r.formula << ": " << t.error;
    }
}

TEST(Formula, CodesCategoricalColumnsWithRNames) {
    // wool (A, B) and tension (H, L, M, sorted), dose numeric.
    const std::vector<std::string> names = {"breaks", "wool", "tension", "dose"};
    level_table wool, tension;
    for (const char* l : {"B", "A"})
        wool.id(l);
    for (const char* l : {"L", "M", "H"})
        tension.id(l);
    struct row {
        const char* formula;
        const char* columns;
    } rows[] = {
        {"breaks ~ wool*tension",
         "(intercept) wool[B] tension[L] tension[M] wool[B]:tension[L] wool[B]:tension[M]"},
        {"breaks ~ wool*dose", "(intercept) wool[B] dose wool[B]:dose"},
        // A margin absent: the factor takes an indicator per level.
        {"breaks ~ tension + wool:tension",
         "(intercept) tension[L] tension[M] tension[H]:wool[B] tension[L]:wool[B] "
         "tension[M]:wool[B]"},
        {"breaks ~ wool:dose", "(intercept) wool[A]:dose wool[B]:dose"},
        {"breaks ~ tension - 1", "tension[H] tension[L] tension[M]"},
        {"breaks ~ wool + tension - 1", "wool[A] wool[B] tension[L] tension[M]"},
    };
    for (const auto& r : rows) {
        const model_terms t = expand_formula(r.formula, names, {});
        ASSERT_TRUE(t.ok) << t.error;
        std::vector<const level_table*> levels;
        for (const auto& v : t.variables)
            levels.push_back(v.label == "wool" ? &wool : v.label == "tension" ? &tension : nullptr);
        std::string got;
        for (const auto& n : coefficient_names(code_design(t, levels)))
            got += (got.empty() ? "" : " ") + n;
        EXPECT_EQ(got, r.columns) << r.formula;
    }
}

TEST(Formula, ExpandsRowsAndSaysWhyARowFails) {
    const std::vector<std::string> names = {"y", "g", "x"};
    const model_terms t = expand_formula("log(y) ~ g*log(x)", names, {});
    ASSERT_TRUE(t.ok);
    level_table g;
    g.id("b");
    g.id("a");
    const design_coding coding = code_design(t, {&g, nullptr});
    row_expander expand(t, coding);
    double x[3], y;
    const double good[] = {std::exp(2.0), 0 /* level b */, std::exp(3.0)};
    ASSERT_TRUE(expand.expand(good, y, x));
    EXPECT_DOUBLE_EQ(y, 2);
    EXPECT_EQ(x[0], 1);
    EXPECT_DOUBLE_EQ(x[1], 3);
    EXPECT_DOUBLE_EQ(x[2], 3);
    const double bad[] = {1, 1, -2};
    EXPECT_FALSE(expand.expand(bad, y, x));
    EXPECT_EQ(expand.why(bad), "log(x): log of -2");
}

// Sequential sums of squares and HC standard errors on a small unbalanced
// two-factor design, against values R's anova() and sandwich::vcovHC give.
TEST(Formula, AnovaAndSandwichOnATriangle) {
    // y ~ a*b, a and b two levels each, unbalanced.
    const double data[][3] = {{1, 0, 0}, {2, 0, 0}, {4, 1, 0}, {3, 1, 1}, {7, 0, 1},
                              {5, 1, 1}, {6, 0, 1}, {9, 1, 0}, {2, 0, 0}};
    const int n = 9;
    Eigen::MatrixXd x(n, 5);
    for (int i = 0; i < n; ++i)
        x.row(i) << 1, data[i][1], data[i][2], data[i][1] * data[i][2], data[i][0];
    Eigen::HouseholderQR<Eigen::MatrixXd> qr(x);
    Eigen::MatrixXd r = qr.matrixQR().topRows(5).triangularView<Eigen::Upper>();
    const Eigen::VectorXd beta =
        r.topLeftCorner(4, 4).triangularView<Eigen::Upper>().solve(r.col(4).head(4));
    const double rss = r(4, 4) * r(4, 4);
    const auto table =
        sequential_anova(r, {false, false, false, false}, {-1, 0, 1, 2}, {"a", "b", "a:b"}, rss, 5);
    ASSERT_EQ(table.size(), 4u);
    // R: anova(lm(y ~ a*b)) on these rows.
    EXPECT_NEAR(table[0].sum_sq, 6.05, 1e-13);
    EXPECT_NEAR(table[1].sum_sq, 4.95, 1e-13);
    EXPECT_NEAR(table[2].sum_sq, 29.33333333333333, 1e-12);
    EXPECT_NEAR(table[3].sum_sq, 15.66666666666667, 1e-12);
    // vcovHC(fit, "HC3"), uncentred and centred on the means alike.
    for (bool centred : {false, true}) {
        std::vector<double> means(4, 0.0);
        for (int j = 1; j < 4; ++j)
            means[j] = x.col(j).mean();
        sandwich_covariance hc(kept_triangle(r, {false, false, false, false}), beta, means, centred,
                               hc_type::hc3);
        for (int i = 0; i < n; ++i) {
            const Eigen::RowVectorXd row = x.row(i).head(4);
            hc.add(x(i, 4), row.data());
        }
        const Eigen::MatrixXd cov = hc.covariance();
        EXPECT_NEAR(std::sqrt(cov(0, 0)), 0.40824829046386374, 1e-13);
        EXPECT_NEAR(std::sqrt(cov(3, 3)), 3.89444048184930747, 1e-13);
    }
}

} // namespace
} // namespace models

// Formulas: accepted texts with their value and exact derivatives at a
// point, refused texts with the column and reason, and start values.
#include "formula.h"
#include "solver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const std::vector<std::string> columns = {"y", "x", "z"};

struct accepted {
    const char* text;
    std::vector<double> b; // parameters in order of first appearance
    double expected;       // the model at x = 2, z = 0.5
};

const accepted accepted_cases[] = {
    {"y ~ b1*(1-exp(-b2*x))", {3, 0.5}, 3 * (1 - std::exp(-1.0))},
    {"y = b1*(1-exp[-b2*x]) + e", {3, 0.5}, 3 * (1 - std::exp(-1.0))},
    {"log[y] = b1 - b2*x * exp[-b3*z] + e", {1, 2, 3}, 1 - 4 * std::exp(-1.5)},
    {"y ~ -x^2*a", {1}, -4},
    {"y ~ a*2^3^2", {1}, 512},
    {"y ~ a*x**-2", {1}, 0.25},
    {"y ~ b1 * (b2+x)**(-1/b3)", {2, 1, 0.5}, 2.0 / 9},
    {"y ~ b1 - b2*x - atan(b3/(x-b4))/pi",
     {1, 0.1, 2, 1},
     0.8 - std::atan(2.0) / 3.14159265358979323846},
    {"y ~ k*sqrt(x)+abs(-k)*sin(z)*cos(z)/tan(z)",
     {2},
     2 * std::sqrt(2.0) + 2 * std::cos(0.5) * std::cos(0.5)},
    {"y~.5E+1*k+1e-1*log(x)-+k", {1}, 4 + 0.1 * std::log(2.0)},
};

class formula_accepted : public ::testing::TestWithParam<accepted> {};

// Value as stated; every Jacobian column agrees with a central difference.
TEST_P(formula_accepted, evaluates_with_exact_derivatives) {
    const accepted& c = GetParam();
    auto f = models::parse_formula(c.text, columns);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(f.value.parameters.size(), c.b.size());
    std::vector<Eigen::ArrayXd> data = {Eigen::ArrayXd::Constant(1, 1.0),
                                        Eigen::ArrayXd::Constant(1, 2.0),
                                        Eigen::ArrayXd::Constant(1, 0.5)};
    Eigen::VectorXd b =
        Eigen::Map<const Eigen::VectorXd>(c.b.data(), static_cast<long>(c.b.size()));
    Eigen::ArrayXd v;
    Eigen::MatrixXd jac;
    f.value.model.evaluate(data, 1, b, v, &jac);
    EXPECT_NEAR(v[0], c.expected, 1e-12 * (1 + std::abs(c.expected)));
    for (Eigen::Index j = 0; j < b.size(); ++j) {
        double h = 1e-6 * (1 + std::abs(b[j]));
        Eigen::VectorXd up = b, down = b;
        up[j] += h;
        down[j] -= h;
        Eigen::ArrayXd vu, vd;
        f.value.model.evaluate(data, 1, up, vu);
        f.value.model.evaluate(data, 1, down, vd);
        EXPECT_NEAR(jac(0, j), (vu[0] - vd[0]) / (2 * h), 1e-6 * (1 + std::abs(jac(0, j))))
            << f.value.parameters[static_cast<size_t>(j)];
    }
}

INSTANTIATE_TEST_SUITE_P(texts, formula_accepted, ::testing::ValuesIn(accepted_cases));

struct refused {
    const char* text;
    const char* error;
};

const refused refused_cases[] = {
    {"y ~ b1*(1-exp(-b2*x)", "column 21: ')' expected"},
    {"y ~ b1*(1-exp[-b2*x)]", "column 20: ']' expected"},
    {"y ~ b1*x)", "column 9: unmatched ')'"},
    {"y ~ b1 # x", "column 8: unexpected character '#'"},
    {"y ~ b1*", "column 8: expression expected at the end"},
    {"y ~ b1 b2", "column 8: operator expected"},
    {"y b1*x", "column 3: '~' expected"},
    {"b1 ~ b1*x", "column 1: 'b1' is not a column; the response uses columns only"},
    {"y ~ foo(x)*b", "column 5: unknown function 'foo'"},
    {"y ~ exp*b", "column 8: '(' expected after exp"},
    {"y ~ 1.5e3x*b", "column 10: malformed number"},
    {"y ~ 2*x", "the model has no parameters"},
    {"y ~ b1*1e999", "column 8: number out of range"},
};

class formula_refused : public ::testing::TestWithParam<refused> {};

TEST_P(formula_refused, says_where_and_why) {
    auto f = models::parse_formula(GetParam().text, columns);
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(texts, formula_refused, ::testing::ValuesIn(refused_cases));

TEST(starts, parsed_or_refused_with_the_name) {
    const std::vector<std::string> p = {"b1", "b2"};
    struct row {
        const char* text;
        std::vector<double> values;
        const char* error;
    };
    const row rows[] = {
        {"b1=500, b2=1e-4", {500, 1e-4}, ""},
        {"b2 = -.5 b1=2.5E+03", {2500, -0.5}, ""},
        {"b1=500", {}, "no start value for 'b2'"},
        {"b1=1 b2=2 b3=3", {}, "column 11: 'b3' is not a parameter of the model"},
        {"b1=1, b1=2", {}, "column 7: 'b1' is given twice"},
        {"b1 500, b2=1", {}, "column 4: '=' expected"},
        {"b1=x, b2=1", {}, "column 4: number expected"},
    };
    for (const row& r : rows) {
        auto s = models::parse_starts(r.text, p);
        EXPECT_EQ(s.ok, r.error[0] == 0) << r.text;
        EXPECT_EQ(s.error, r.error) << r.text;
        if (s.ok) {
            EXPECT_EQ(s.values, r.values) << r.text;
        }
    }
}

// A name that is no column but a slip of one is asked about; "+ e" is the
// published error term only while e is neither a column nor started.
TEST(starts, slips_of_column_names_and_the_error_term) {
    const std::vector<std::string> data = {"rate", "conc", "Temperature"};
    const std::pair<const char*, const char*> slips[] = {
        {"cnoc", "conc"},   {"Conc", "conc"}, {"rtae", "rate"}, {"Vm", ""},
        {"concs2", "conc"}, {"K", ""},        {"conk", "conc"}, {"temprature", "Temperature"},
        {"alpha", ""}};
    for (const auto& [name, column] : slips)
        EXPECT_EQ(models::near_column(name, data), column) << name;

    auto f = models::parse_formula("rate ~ Vm*cnoc/(K+cnoc)", data);
    ASSERT_TRUE(f.ok);
    auto s = models::parse_starts("Vm=200, K=0.1", f.value.parameters, f.value.near_columns);
    EXPECT_EQ(s.error, "'cnoc' is not a column (did you mean 'conc'?); taken as a parameter, "
                       "it needs a start value");

    EXPECT_EQ(models::parse_formula("y ~ a*x + e", columns).value.parameters,
              std::vector<std::string>{"a"});
    EXPECT_EQ(models::parse_formula("y ~ a*x + e", columns, true).value.parameters,
              (std::vector<std::string>{"a", "e"}));
    EXPECT_EQ(models::named_in_starts("a=1, e = 2"), (std::vector<std::string>{"a", "e"}));
}

TEST(bounds, parsed_per_parameter_or_refused_where) {
    const std::vector<std::string> p = {"Vm", "K"};
    const double inf = std::numeric_limits<double>::infinity();
    struct row {
        const char* text;
        std::vector<double> lower, upper;
        const char* error;
    };
    const row rows[] = {
        {"K>=0, Vm<=500", {-inf, 0}, {500, inf}, ""},
        {"0 <= K <= 1e-1 Vm > -2", {-2, 0}, {inf, 0.1}, ""},
        {"-1 >= K", {-inf, -inf}, {inf, -1}, ""},
        {"", {-inf, -inf}, {inf, inf}, ""},
        {"Km>=0", {}, {}, "column 1: 'Km' is not a parameter of the model"},
        {"K=0", {}, {}, "column 2: '<=' or '>=' expected"},
        {"K>=x", {}, {}, "column 4: number expected"},
        {"1<=K<=0", {}, {}, "column 4: the bounds of 'K' leave no value"},
    };
    for (const row& r : rows) {
        auto b = models::parse_bounds(r.text, p);
        EXPECT_EQ(b.error, r.error) << r.text;
        if (b.ok) {
            EXPECT_EQ(b.lower, r.lower) << r.text;
            EXPECT_EQ(b.upper, r.upper) << r.text;
        }
    }
}

// Runaways and failures are reported, never as a result.
TEST(solver, refuses_or_reports_what_it_cannot_fit) {
    auto f = models::parse_formula("y ~ b1*exp(b2*x)", {"y", "x"});
    ASSERT_TRUE(f.ok);
    const std::vector<std::vector<double>> data = {{1, 2, 3, 4}, {0, 1, 2, 3}};
    // Starts where the model overflows.
    auto bad = models::fit_nonlinear(f.value, data, {1, 1e6});
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.error, "the model is not finite at the start values");
    // A parameter with no effect (b2 multiplies an all-zero column).
    const std::vector<std::vector<double>> flat = {{1, 2, 3, 4}, {0, 0, 0, 0}};
    auto lost = models::fit_nonlinear(f.value, flat, {1, 1});
    EXPECT_TRUE(lost.ok);
    EXPECT_FALSE(lost.converged);
    EXPECT_FALSE(lost.reason.empty());
    EXPECT_TRUE(lost.estimates.empty());
    // Mismatched columns and the response's domain.
    EXPECT_FALSE(models::fit_nonlinear(f.value, {{1, 2}, {0, 1, 2}}, {1, 1}).ok);
    auto logf = models::parse_formula("log(y) ~ b1*x", {"y", "x"});
    auto neg = models::fit_nonlinear(logf.value, {{1, -2, 3}, {1, 2, 3}}, {1});
    EXPECT_EQ(neg.error, "the response is not finite in row 2");
}

} // namespace

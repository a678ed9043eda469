// Fits that must not stop at a false optimum, poles inside the data, case
// weights, bounds and profile intervals, on R's Puromycin data (treated).
#include "catalogue.h"
#include "profile.h"
#include "solver.h"

#include <boost/math/distributions/students_t.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const std::vector<std::string> names = {"rate", "conc"};
const std::vector<double> conc = {0.02, 0.02, 0.06, 0.06, 0.11, 0.11,
                                  0.22, 0.22, 0.56, 0.56, 1.10, 1.10};
const std::vector<double> rate = {76, 47, 97, 107, 123, 139, 159, 152, 191, 201, 207, 200};
const std::vector<std::vector<double>> data = {rate, conc};
constexpr double true_rss = 1195.4488145;

models::formula michaelis(const char* text = "rate ~ Vm*conc/(K+conc)") {
    auto f = models::parse_formula(text, names);
    EXPECT_TRUE(f.ok) << f.error;
    return f.value;
}

// From a sign slip of K the solver alone stops at a local minimum with its
// pole between two concentrations; the grid check finds the true one.
TEST(optimum, bad_start_restarted_to_the_true_minimum) {
    const auto f = michaelis();
    struct row {
        std::vector<double> start;
        bool restarted;
    };
    for (const row& r : {row{{200, -0.05}, true}, row{{200, 0.1}, false}}) {
        const auto fit = models::fit_nonlinear(f, data, r.start);
        ASSERT_TRUE(fit.converged) << fit.reason;
        EXPECT_NEAR(fit.rss, true_rss, 1e-6 * true_rss);
        EXPECT_NEAR(fit.estimates[0], 212.68374, 1e-4);
        EXPECT_NEAR(fit.estimates[1], 0.06412123, 1e-7);
        EXPECT_EQ(fit.restarted, r.restarted);
        EXPECT_EQ(fit.note.empty(), !r.restarted);
        EXPECT_GT(fit.grid_points, 0);
        EXPECT_FALSE(fit.pole.found);
    }
    models::solver_options unchecked;
    unchecked.check_lower = false;
    const auto local = models::fit_nonlinear(f, data, {200, -0.05}, unchecked);
    ASSERT_TRUE(local.converged);
    EXPECT_NEAR(local.rss, 130016, 1);
    const auto pole = models::find_pole(f, data, local.estimates);
    EXPECT_TRUE(pole.found);
    EXPECT_EQ(pole.column, 1);
    EXPECT_EQ(pole.from, 0.02);
    EXPECT_EQ(pole.to, 0.06);
}

// Weight 2 on a row is the row twice; zero weight is the row left out.
TEST(optimum, weights_are_repeated_rows) {
    const auto f = michaelis();
    std::vector<double> w(conc.size(), 1);
    w[0] = 2;
    w[5] = 0;
    models::solver_options weighted;
    weighted.weights = &w;
    const auto a = models::fit_nonlinear(f, data, {200, 0.1}, weighted);
    std::vector<double> r2 = rate, c2 = conc;
    r2.push_back(rate[0]);
    c2.push_back(conc[0]);
    r2.erase(r2.begin() + 5);
    c2.erase(c2.begin() + 5);
    const auto b = models::fit_nonlinear(f, {r2, c2}, {200, 0.1});
    ASSERT_TRUE(a.converged && b.converged);
    EXPECT_NEAR(a.rss, b.rss, 1e-9 * b.rss);
    for (int j = 0; j < 2; ++j)
        EXPECT_NEAR(a.estimates[j], b.estimates[j], 1e-9 * std::abs(b.estimates[j]));
    std::vector<double> negative = w;
    negative[3] = -1;
    weighted.weights = &negative;
    EXPECT_EQ(models::fit_nonlinear(f, data, {200, 0.1}, weighted).error,
              "the weight in row 4 is not a finite number of zero or more");
}

// K held at an upper bound below its optimum: reported at the bound with no
// standard error, Vm the best for that K (the fit with K fixed in the text).
TEST(optimum, bounded_parameter_stops_at_its_bound) {
    const auto f = michaelis();
    models::solver_options box;
    box.lower = {-std::numeric_limits<double>::infinity(), 0};
    box.upper = {500, 0.05};
    const auto fit = models::fit_nonlinear(f, data, {200, -0.05}, box);
    ASSERT_TRUE(fit.converged) << fit.reason;
    EXPECT_EQ(fit.estimates[1], 0.05);
    EXPECT_EQ(fit.at_bound, (std::vector<int>{0, 1}));
    EXPECT_TRUE(std::isnan(fit.std_errors[1]));
    const auto fixed = models::fit_nonlinear(michaelis("rate ~ Vm*conc/(0.05+conc)"), data, {200});
    ASSERT_TRUE(fixed.converged);
    EXPECT_NEAR(fit.estimates[0], fixed.estimates[0], 1e-9 * fixed.estimates[0]);
    // The bounded fit keeps n - p = 10 degrees of freedom, the fixed one 11.
    const double se = fixed.std_errors[0] * std::sqrt(11.0 / 10.0);
    EXPECT_NEAR(fit.std_errors[0], se, 1e-6 * se);
    // Bounds that hold the optimum inside change nothing.
    box.upper = {500, 1};
    const auto inside = models::fit_nonlinear(f, data, {200, 0.5}, box);
    EXPECT_NEAR(inside.rss, true_rss, 1e-9 * true_rss);
    EXPECT_EQ(inside.at_bound, (std::vector<int>{0, 0}));
}

// Each profile end is where the least sum of squares with the parameter
// held there exceeds the minimum by q^2 s^2; checked by fitting the formula
// with the end written in as a number.
TEST(optimum, profile_ends_reach_the_cut_off) {
    const auto f = michaelis();
    const auto fit = models::fit_nonlinear(f, data, {200, 0.1});
    ASSERT_TRUE(fit.converged);
    const double level = 0.9;
    const auto intervals = models::profile_intervals(f, data, fit, level);
    const boost::math::students_t_distribution<double> t(10);
    const double q = boost::math::quantile(boost::math::complement(t, 0.05));
    const double cut = fit.rss + q * q * fit.rss / 10;
    // Each parameter held at each end, written into the formula.
    const char* held_text[] = {"rate ~ %.17g*conc/(K+conc)", "rate ~ Vm*conc/(%.17g+conc)"};
    const std::vector<double> other_start[] = {{0.1}, {200}};
    for (int k = 0; k < 2; ++k)
        for (double end : {intervals[k].low, intervals[k].high}) {
            ASSERT_TRUE(std::isfinite(end));
            char text[80];
            std::snprintf(text, sizeof text, held_text[k], end);
            const auto held = models::fit_nonlinear(michaelis(text), data, other_start[k]);
            EXPECT_NEAR(held.rss, cut, 1e-9 * cut) << end;
        }
    EXPECT_LT(intervals[1].low, fit.estimates[1]);
    EXPECT_GT(intervals[1].high, fit.estimates[1]);
}

// Four points that barely rise: the rate's profile levels off below the
// cut-off on the upper side, which is then unbounded (NaN).
TEST(optimum, profile_that_never_crosses_is_unbounded) {
    auto f = models::parse_formula("y ~ a*(1-exp(-b*x))", {"y", "x"}).value;
    const std::vector<std::vector<double>> flat = {{1, 2, 2.1, 2.05}, {1, 2, 3, 4}};
    const auto fit = models::fit_nonlinear(f, flat, {2, 1});
    ASSERT_TRUE(fit.converged) << fit.reason;
    const auto intervals = models::profile_intervals(f, flat, fit, 0.99);
    EXPECT_TRUE(std::isfinite(intervals[1].low));
    EXPECT_TRUE(std::isnan(intervals[1].high));
}

// Within bounds K >= 0.055 (above K's unbounded lower end, 0.0469 at 95%):
// K's interval is cut at the bound; Vm's lower end, where K would fall
// below 0.055, is where the bounded profile (K held at 0.055) reaches the
// cut-off; the upper ends, which the bound does not reach, are unchanged.
TEST(optimum, profile_within_bounds_is_cut_at_the_bound) {
    const auto f = michaelis();
    models::solver_options box;
    box.lower = {0, 0.055};
    box.upper = {std::numeric_limits<double>::infinity(), 1};
    const auto fit = models::fit_nonlinear(f, data, {200, 0.1}, box);
    ASSERT_TRUE(fit.converged);
    const auto free = models::profile_intervals(f, data, fit, 0.95);
    const auto cut = models::profile_intervals(f, data, fit, 0.95, box);
    ASSERT_LT(free[1].low, 0.055);
    EXPECT_EQ(cut[1].low, 0.055);
    EXPECT_TRUE(cut[1].low_at_bound && !cut[1].high_at_bound && !cut[0].low_at_bound);
    EXPECT_NEAR(cut[1].high, free[1].high, 1e-9 * free[1].high);
    EXPECT_NEAR(cut[0].high, free[0].high, 1e-9 * free[0].high);
    EXPECT_GT(cut[0].low, free[0].low);
    const auto at_end = models::evaluate_model(f, data, {cut[0].low, 0.055});
    double rss = 0;
    for (std::size_t i = 0; i < rate.size(); ++i)
        rss += (rate[i] - at_end[i]) * (rate[i] - at_end[i]);
    const boost::math::students_t_distribution<double> t(10);
    const double q = boost::math::quantile(boost::math::complement(t, 0.025));
    const double cut_rss = fit.rss + q * q * fit.rss / 10;
    EXPECT_NEAR(rss, cut_rss, 1e-9 * cut_rss);
}

// The dialogue's suggestion: a formula that is a family in other names gets
// that family's self-start; another formula gets its parameters only.
TEST(optimum, start_suggestions_for_catalogue_families) {
    const auto s = models::suggest_starts(michaelis(), data);
    EXPECT_EQ(s.parameters, (std::vector<std::string>{"Vm", "K"}));
    EXPECT_EQ(s.family, "Michaelis-Menten");
    ASSERT_EQ(s.starts.size(), 2u);
    EXPECT_NEAR(s.starts[1], 0.0641, 1e-3);
    const auto none = models::suggest_starts(michaelis("rate ~ Vm*conc/(K+conc^2)"), data);
    EXPECT_EQ(none.family, "");
    EXPECT_TRUE(none.starts.empty());
}

} // namespace

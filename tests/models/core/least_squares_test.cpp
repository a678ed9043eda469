// Least squares against NIST's certified linear results and against exact
// answers computed in rational arithmetic for designs users bring.
#include "design_coding.h"
#include "least_squares.h"
#include "nist_certified.h"

#include <boost/multiprecision/cpp_int.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace models;

namespace {

// Digits of agreement with a certified value, at most 15.
double digits(double got, double certified) {
    if (certified == 0)
        return std::min(15.0, -std::log10(std::fabs(got)));
    if (got == certified)
        return 15.0;
    return std::min(15.0, -std::log10(std::fabs(got - certified) / std::fabs(certified)));
}

// Rows [y, x...] of a NIST data file.
std::vector<double> read_nist(const nist_dataset& set) {
    std::ifstream file(std::string(TREL_NIST_DIR) + "/" + set.name + ".dat");
    std::vector<double> rows;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (number < set.first_line || number > set.last_line)
            continue;
        std::istringstream fields(line);
        for (int c = 0; c < set.columns; ++c) {
            double v = 0;
            fields >> v;
            rows.push_back(v);
        }
    }
    return rows;
}

// A source sending rows in small blocks, so that block edges are crossed.
row_source source_of(const std::vector<double>& rows, int columns) {
    return [&rows, columns](const row_sink& sink) {
        const std::size_t count = rows.size() / columns;
        for (std::size_t at = 0; at < count; at += 7) {
            const std::size_t n = std::min<std::size_t>(7, count - at);
            if (!sink(rows.data() + at * columns, n))
                return false;
        }
        return true;
    };
}

design nist_design(const nist_dataset& set) {
    design d;
    d.intercept = set.intercept;
    d.predictors = set.columns - 1;
    const int slopes = static_cast<int>(set.parameters.size()) - (set.intercept ? 1 : 0);
    d.degree = set.columns == 2 && slopes > 1 ? slopes : 0;
    return d;
}

class NistLinear : public testing::TestWithParam<nist_dataset> {};

TEST_P(NistLinear, EveryResultToThirteenDigits) {
    const nist_dataset& set = GetParam();
    const std::vector<double> rows = read_nist(set);
    ASSERT_EQ(rows.size(), std::size_t(set.observations * set.columns)) << set.name;
    const least_squares_fit fit = fit_least_squares(nist_design(set), source_of(rows, set.columns));
    ASSERT_TRUE(fit.ok) << fit.error;
    ASSERT_EQ(fit.coefficients.size(), set.certified.size());
    EXPECT_EQ(fit.rank, static_cast<int>(set.certified.size())) << "no term may be dropped";
    double worst_estimate = 15, worst_sd = 15;
    for (std::size_t j = 0; j < set.certified.size(); ++j) {
        worst_estimate = std::min(worst_estimate, digits(fit.coefficients[j], set.certified[j]));
        worst_sd = std::min(worst_sd, digits(fit.std_errors[j], set.certified_sd[j]));
    }
    const double residual_sd = std::sqrt(fit.rss / double(fit.n - fit.rank));
    const double r2 = 1 - fit.rss / fit.tss;
    const double sd_digits = digits(residual_sd, set.residual_sd);
    const double r2_digits = digits(r2, set.r_squared);
    std::printf("%-9s estimates %5.1f  sds %5.1f  residual sd %5.1f  r2 %5.1f  %s\n", set.name,
                worst_estimate, worst_sd, sd_digits, r2_digits,
                fit.extended ? "(quadruple pass)" : "");
    EXPECT_GE(worst_estimate, 13.0) << set.name;
    EXPECT_GE(worst_sd, 13.0) << set.name;
    EXPECT_GE(sd_digits, 13.0) << set.name;
    EXPECT_GE(r2_digits, 13.0) << set.name;
}

std::vector<nist_dataset> linear_sets() {
    std::vector<nist_dataset> sets;
    for (const auto& set : nist_datasets())
        if (set.linear)
            sets.push_back(set);
    return sets;
}

INSTANTIATE_TEST_SUITE_P(Certified, NistLinear, testing::ValuesIn(linear_sets()),
                         [](const auto& info) { return std::string(info.param.name); });

// Exact least squares in rational arithmetic: the normal equations are safe
// there, since nothing is rounded.
using rational = boost::multiprecision::cpp_rational;

std::vector<rational> exact_coefficients(const std::vector<double>& rows, int columns,
                                         const design& d, const std::vector<double>& weights = {}) {
    const int terms = d.terms();
    std::vector<std::vector<rational>> a(terms, std::vector<rational>(terms + 1));
    for (std::size_t i = 0; i < rows.size() / columns; ++i) {
        std::vector<rational> x;
        if (d.intercept)
            x.push_back(1);
        const double* row = rows.data() + i * columns;
        if (d.degree > 0) {
            rational power = row[1];
            for (int k = 1; k <= d.degree; ++k, power *= rational(row[1]))
                x.push_back(power);
        } else {
            for (int c = 1; c < columns; ++c)
                x.push_back(rational(row[c]));
        }
        const rational w = weights.empty() ? rational(1) : rational(weights[i]);
        for (int j = 0; j < terms; ++j) {
            for (int k = 0; k < terms; ++k)
                a[j][k] += w * x[j] * x[k];
            a[j][terms] += w * x[j] * rational(row[0]);
        }
    }
    for (int j = 0; j < terms; ++j) {
        int pivot = j;
        while (a[pivot][j] == 0)
            ++pivot;
        std::swap(a[j], a[pivot]);
        for (int i = 0; i < terms; ++i) {
            if (i == j || a[i][j] == 0)
                continue;
            const rational factor = a[i][j] / a[j][j];
            for (int k = j; k <= terms; ++k)
                a[i][k] -= factor * a[j][k];
        }
    }
    std::vector<rational> beta;
    for (int j = 0; j < terms; ++j)
        beta.push_back(a[j][terms] / a[j][j]);
    return beta;
}

struct user_case {
    const char* name;
    design d;
    std::vector<double> (*make)();
};

// Noise that is the same on every run: a fixed linear congruential sequence.
double noise(unsigned& state) {
    state = state * 1103515245u + 12345u;
    return ((state >> 8) % 20001) / 10000.0 - 1.0;
}

std::vector<double> timestamps() { // seconds near 1e9, spread of a day
    std::vector<double> rows;
    unsigned s = 7;
    for (int i = 0; i < 60; ++i) {
        const double t = 1.6e9 + 1437.0 * i;
        rows.insert(rows.end(), {3.5 + 2e-5 * (t - 1.6e9) + 0.01 * noise(s), t});
    }
    return rows;
}
std::vector<double> years_seventh() { // calendar years to the 7th power
    std::vector<double> rows;
    unsigned s = 11;
    for (int year = 1950; year <= 2020; ++year)
        rows.insert(rows.end(), {100 + 0.5 * (year - 1950) + 3 * noise(s), double(year)});
    return rows;
}
std::vector<double> near_collinear() { // x2 = x1 + tiny, x3 independent
    std::vector<double> rows;
    unsigned s = 3;
    for (int i = 0; i < 40; ++i) {
        const double x1 = i * 0.25, x2 = x1 + 1e-6 * noise(s), x3 = noise(s);
        rows.insert(rows.end(), {1 + 2 * x1 - x2 + 0.5 * x3 + 0.1 * noise(s), x1, x2, x3});
    }
    return rows;
}
std::vector<double> mixed_scales() { // columns from 1e-6 to 1e6
    std::vector<double> rows;
    unsigned s = 5;
    for (int i = 0; i < 50; ++i) {
        const double a = 1e-6 * (i + noise(s)), b = 1e6 * (noise(s) + 2), c = i % 7;
        rows.insert(rows.end(), {4e5 * a + 3e-6 * b - c + noise(s), a, b, c});
    }
    return rows;
}

TEST(UserDesigns, ThirteenDigitsAgainstRationalArithmetic) {
    const user_case cases[] = {
        {"timestamps", design{1, true, 0}, timestamps},
        {"years^7", design{1, true, 7}, years_seventh},
        {"near collinear", design{3, true, 0}, near_collinear},
        {"mixed scales", design{3, true, 0}, mixed_scales},
        {"mixed scales, no intercept", design{3, false, 0}, mixed_scales},
    };
    for (const auto& c : cases) {
        const std::vector<double> rows = c.make();
        const int columns = c.d.predictors + 1;
        const least_squares_fit fit = fit_least_squares(c.d, source_of(rows, columns));
        ASSERT_TRUE(fit.ok) << c.name << ": " << fit.error;
        const std::vector<rational> exact = exact_coefficients(rows, columns, c.d);
        for (std::size_t j = 0; j < exact.size(); ++j) {
            const double want = static_cast<double>(exact[j]);
            EXPECT_GE(digits(fit.coefficients[j], want), 13.0)
                << c.name << ", term " << j << ": expected " << want << ", got "
                << fit.coefficients[j];
        }
    }
}

// Designs of categorical columns, as a formula's terms expand them: raw
// rows [y, a, b, x] (a and b level ids) into [y, design columns...].
std::vector<double> expanded(const char* formula, const std::vector<double>& raw,
                             std::vector<level_table>& tables, bool& intercept) {
    const std::vector<std::string> names = {"y", "a", "b", "x"};
    const model_terms terms = expand_formula(formula, names, {});
    std::vector<const level_table*> levels;
    for (const auto& v : terms.variables)
        levels.push_back(v.label == "a" ? &tables[0] : v.label == "b" ? &tables[1] : nullptr);
    const design_coding coding = code_design(terms, levels);
    row_expander expander(terms, coding);
    // A raw row holds the formula's columns only, in the order of the names.
    const std::size_t width = terms.columns.size();
    std::vector<double> rows, x(expander.width());
    for (std::size_t i = 0; i < raw.size() / width; ++i) {
        double y;
        expander.expand(raw.data() + width * i, y, x.data());
        rows.push_back(y);
        rows.insert(rows.end(), x.begin(), x.end());
    }
    intercept = terms.intercept;
    return rows;
}

// Unbalanced cells: a has 3 levels, b 2; cell sizes 1 to 9; a level of a
// ("c") first seen in the last rows of a long file.
std::vector<double> two_factor_rows(int count, bool late_level) {
    std::vector<double> raw;
    unsigned s = 13;
    for (int i = 0; i < count; ++i) {
        const int a = late_level ? (i >= count - 5 ? 2 : i % 2) : (i * 7) % 11 % 3;
        const int b = (i * 5) % 13 % 2;
        const double x = (i % 17) * 0.25;
        raw.insert(raw.end(),
                   {2 + a - 3 * b + 0.5 * a * b + x + noise(s), double(a), double(b), x});
    }
    return raw;
}

// A factor of many levels (unbalanced) times x far from zero: a wide,
// sparse design whose slopes per level lean on their level's column. Rows
// [y, a, x].
std::vector<double> many_level_rows(int count, int levels) {
    std::vector<double> raw;
    unsigned s = 17;
    for (int i = 0; i < count; ++i) {
        const int a = (i * 7) % 13 % levels;
        const double x = 10 + (i % 17) * 0.25;
        raw.insert(raw.end(), {1 + 0.5 * a + (1 + 0.1 * a) * x + noise(s), double(a), x});
    }
    return raw;
}

TEST(UserDesigns, CategoricalAndWeightedDesignsToThirteenDigits) {
    struct categorical_case {
        const char* name;
        const char* formula;
        int rows;
        bool late_level;
        bool weighted;
        int levels; // of a; more than 3: many_level_rows
    } cases[] = {
        {"unbalanced a*b", "y ~ a*b", 47, false, false, 3},
        {"a*b + a:x, weighted", "y ~ a*b + a:x", 60, false, true, 3},
        {"a level only at the end", "y ~ a + b + x", 3000, true, false, 3},
        {"12 levels times x near 10", "y ~ a*x", 900, false, false, 12},
    };
    for (const auto& c : cases) {
        std::vector<level_table> tables(2);
        for (const char* l : {"b", "a", "c"}) // first appearance order is not the coding's
            tables[0].id(l);
        for (int l = 3; l < c.levels; ++l)
            tables[0].id(std::string(1, static_cast<char>('a' + l)));
        tables[1].id("u");
        tables[1].id("v");
        bool intercept = true;
        std::vector<double> rows = expanded(c.formula,
                                            c.levels > 3 ? many_level_rows(c.rows, c.levels)
                                                         : two_factor_rows(c.rows, c.late_level),
                                            tables, intercept);
        const int columns = static_cast<int>(rows.size()) / c.rows;
        design d{columns - 1, intercept, 0};
        std::vector<double> weights;
        if (c.weighted) {
            // As the fit is given weighted rows: each times sqrt(w), with the
            // intercept's column sqrt(w) itself.
            std::vector<double> scaled;
            for (int i = 0; i < c.rows; ++i) {
                const double w = 1 + i % 4, root = std::sqrt(w);
                weights.push_back(w);
                scaled.push_back(root * rows[i * columns]);
                scaled.push_back(root);
                for (int j = 1; j < columns; ++j)
                    scaled.push_back(root * rows[i * columns + j]);
            }
            const least_squares_fit fit =
                fit_least_squares(design{columns, false, 0}, source_of(scaled, columns + 1));
            ASSERT_TRUE(fit.ok) << c.name << ": " << fit.error;
            const std::vector<rational> exact = exact_coefficients(rows, columns, d, weights);
            for (std::size_t j = 0; j < exact.size(); ++j)
                EXPECT_GE(digits(fit.coefficients[j], static_cast<double>(exact[j])), 13.0)
                    << c.name << ", term " << j;
            continue;
        }
        const least_squares_fit fit = fit_least_squares(d, source_of(rows, columns));
        ASSERT_TRUE(fit.ok) << c.name << ": " << fit.error;
        const std::vector<rational> exact = exact_coefficients(rows, columns, d);
        for (std::size_t j = 0; j < exact.size(); ++j)
            EXPECT_GE(digits(fit.coefficients[j], static_cast<double>(exact[j])), 13.0)
                << c.name << ", term " << j << ": expected " << static_cast<double>(exact[j])
                << ", got " << fit.coefficients[j];
    }
}

// A split source over rows in memory, cut at the given rows; the ranges are
// sent last first (each range's rows in order), so a fit cannot lean on the
// order in which ranges arrive; threaded, each range on a thread of its own,
// ending with a call of no rows, as a file's split scan sends them.
// declined: it says the split cannot be made.
split_row_source split_of(const std::vector<double>& rows, int columns,
                          std::vector<std::size_t> cuts, bool declined = false,
                          bool threaded = false) {
    return [&rows, columns, cuts, declined,
            threaded](const std::function<row_sink(int, int)>& sink_of) {
        if (declined)
            return false;
        std::vector<std::size_t> edges{0};
        edges.insert(edges.end(), cuts.begin(), cuts.end());
        edges.push_back(rows.size() / columns);
        const int ranges = static_cast<int>(edges.size()) - 1;
        std::vector<row_sink> sinks;
        for (int k = 0; k < ranges; ++k)
            sinks.push_back(sink_of(k, ranges));
        const auto send = [&](int k) {
            for (std::size_t at = edges[k]; at < edges[k + 1]; at += 1000)
                sinks[k](rows.data() + at * columns,
                         std::min<std::size_t>(1000, edges[k + 1] - at));
            if (threaded)
                sinks[k](rows.data(), 0);
        };
        std::vector<std::thread> threads;
        for (int k = ranges - 1; k >= 0; --k) {
            if (threaded)
                threads.emplace_back(send, k);
            else
                send(k);
        }
        for (std::thread& t : threads)
            t.join();
        return true;
    };
}

// Columns near 3j with a spread of 10 and a response that is nearly their
// exact combination (R² near 1): the intercept cancels, so the double pass
// alone does not give it 14 digits. pilot_unlike: the first pilot_rows rows
// follow other slopes, so the pilot is far from the solution.
std::vector<double> cancelling_rows(int count, int predictors, bool pilot_unlike) {
    std::vector<double> rows;
    unsigned s = 19;
    for (int i = 0; i < count; ++i) {
        const bool early = pilot_unlike && i < static_cast<int>(pilot_rows);
        double y = 2 + 0.05 * noise(s);
        std::vector<double> x;
        for (int j = 1; j <= predictors; ++j) {
            x.push_back(10 * noise(s) + 3 * j);
            y += (early ? 1.5 : 1.0) * (j % 3 - 1.2) * x.back();
        }
        rows.push_back(y);
        rows.insert(rows.end(), x.begin(), x.end());
    }
    return rows;
}

TEST(SplitFit, RangesFoldedTogetherGiveTheSequentialDigits) {
    struct split_case {
        const char* name;
        design d;
        std::vector<double> rows;
        std::vector<std::size_t> cuts;
        bool declined;
        int reads; // 0: any
        bool threaded = false;
    };
    std::vector<double> years;
    unsigned s = 23;
    for (int i = 0; i < 20000; ++i) {
        const double t = 1950 + (i % 700) * 0.1;
        years.insert(years.end(),
                     {100 + 0.5 * (t - 1950) + 1e-3 * (t - 1980) * (t - 1980) + noise(s), t});
    }
    const split_case cases[] = {
        {"one read: the pilot's step is enough",
         design{6, true, 0},
         cancelling_rows(20000, 6, false),
         {7001, 13000},
         false,
         1},
        {"one read, the ranges on threads",
         design{6, true, 0},
         cancelling_rows(40000, 6, false),
         {7001, 20000, 33000},
         false,
         1,
         true},
        {"a pilot unlike the rest: read again",
         design{6, true, 0},
         cancelling_rows(20000, 6, true),
         {9000},
         false,
         0},
        {"the split declined: read in turn",
         design{6, true, 0},
         cancelling_rows(20000, 6, false),
         {9000},
         true,
         0},
        {"no intercept", design{6, false, 0}, cancelling_rows(20000, 6, false), {5000}, false, 0},
        {"calendar years, cubic", design{1, true, 3}, years, {10000}, false, 0},
    };
    for (const split_case& c : cases) {
        const int columns = c.d.predictors + 1;
        const least_squares_fit whole = fit_least_squares(c.d, source_of(c.rows, columns));
        const least_squares_fit split =
            fit_least_squares(c.d, source_of(c.rows, columns),
                              split_of(c.rows, columns, c.cuts, c.declined, c.threaded));
        ASSERT_TRUE(whole.ok && split.ok) << c.name << ": " << whole.error << split.error;
        ASSERT_EQ(split.n, whole.n) << c.name;
        if (c.reads > 0) {
            EXPECT_EQ(split.reads, c.reads) << c.name;
        }
        if (c.declined) {
            EXPECT_EQ(split.coefficients, whole.coefficients) << c.name;
        }
        for (std::size_t j = 0; j < whole.coefficients.size(); ++j) {
            EXPECT_GE(digits(split.coefficients[j], whole.coefficients[j]), 13.0)
                << c.name << ", term " << j << ": expected " << whole.coefficients[j] << ", got "
                << split.coefficients[j];
            EXPECT_GE(digits(split.std_errors[j], whole.std_errors[j]), 13.0) << c.name;
        }
        EXPECT_GE(digits(split.rss, whole.rss), 13.0) << c.name;
    }
}

TEST(UserDesigns, AnExactCombinationIsAliasedAndTheRestFitted) {
    std::vector<double> rows;
    for (int i = 0; i < 20; ++i) {
        const double x1 = i, x2 = (i * 7) % 5;
        rows.insert(rows.end(), {2 + 3 * x1 - x2 + (i % 3) * 0.5, x1, x2, x1 + 2 * x2});
    }
    const least_squares_fit fit = fit_least_squares(design{3, true, 0}, source_of(rows, 4));
    ASSERT_TRUE(fit.ok) << fit.error;
    EXPECT_EQ(fit.aliased, (std::vector<bool>{false, false, false, true}));
    EXPECT_EQ(fit.rank, 3);
    EXPECT_TRUE(std::isnan(fit.coefficients[3]));
    EXPECT_NEAR(fit.coefficients[1], 3, 0.1);
}

TEST(UserDesigns, TooFewRowsAndOverflowAreRefused) {
    const std::vector<double> two = {1, 1, 2, 2};
    EXPECT_FALSE(fit_least_squares(design{1, true, 3}, source_of(two, 2)).ok);
    const std::vector<double> huge = {1, 1e200, 2, 2e200, 3, 1e201, 4, 5e200, 5, 7e200};
    const least_squares_fit fit = fit_least_squares(design{1, true, 2}, source_of(huge, 2));
    EXPECT_FALSE(fit.ok);
    EXPECT_NE(fit.error.find("too large"), std::string::npos) << fit.error;
}

} // namespace

#include "catalogue.h"

#include "criterion.h"
#include "search.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <limits>

namespace models {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double pi = 3.14159265358979323846;

// What a self-start knows of the data.
struct summary {
    double x_min, x_max, range, y_min, y_max;
};

using candidates = std::vector<std::vector<double>>; // per parameter

// v * 10^k for k from `from` to `to` in steps, with both signs if asked.
std::vector<double> decades(double v, double from, double to, double step, bool both_signs) {
    std::vector<double> out;
    for (double k = from; k <= to + 1e-9; k += step) {
        out.push_back(v * std::pow(10.0, k));
        if (both_signs)
            out.push_back(-v * std::pow(10.0, k));
    }
    return out;
}

// Evenly spaced values across [lo, hi].
std::vector<double> spread(double lo, double hi, int count) {
    std::vector<double> out;
    for (int i = 0; i < count; ++i)
        out.push_back(lo + (hi - lo) * i / (count - 1));
    return out;
}

// Rates of exponentials: 1/range scaled by 1/100 to 30, either sign.
std::vector<double> rates(const summary& s, double step = 0.25) {
    return decades(1 / s.range, -2, 1.5, step, true);
}

// Locations of a midpoint: across the x range and a little beyond.
std::vector<double> locations(const summary& s) {
    return spread(s.x_min - 0.25 * s.range, s.x_max + 0.25 * s.range, 13);
}

struct family {
    const char* name;
    const char* text;                               // with the columns y and x
    bool positive_x;                                // needs x > 0
    std::function<candidates(const summary&)> grid; // non-linear parameters' values
    // Parameters (0-based) that the family defines as not negative, fitted
    // with that natural bound: rates of approach and decay, scales, shapes.
    std::vector<int> nonnegative = {};
    // The bound holds only where no x is negative (Michaelis-Menten's K: the
    // pole at x = -K then stays left of the data).
    bool bound_needs_nonnegative_x = false;
    // Parameters (0-based) whose pairs describe the same curve when swapped,
    // swapped so that the first pair's `order_by` is the smaller; -1: none.
    int order_by = -1, pair_a = -1, pair_b = -1;
};

// Each family's grid covers its non-linear parameters; the parameters that
// enter linearly are solved exactly at every grid point.
const std::vector<family>& catalogue() {
    static const std::vector<family> table = {
        {"exponential", "y ~ b1*exp(b2*x)", false,
         [](const summary& s) {
             return candidates{{}, rates(s)};
         }},
        {"exponential with asymptote", "y ~ b1 + b2*exp(b3*x)", false,
         [](const summary& s) {
             return candidates{{}, {}, rates(s)};
         }},
        // The rate of approach to the asymptote b1 is positive (R's exp(lrc)).
        {"asymptotic regression through the origin",
         "y ~ b1*(1 - exp(-b2*x))",
         false,
         [](const summary& s) {
             return candidates{{}, rates(s)};
         },
         {1}},
        {"asymptotic regression with an offset",
         "y ~ b1*(1 - exp(-b2*(x - b3)))",
         false,
         [](const summary& s) {
             // The offset is where the curve crosses zero, often left of
             // the data.
             return candidates{{}, rates(s, 0.5), spread(s.x_min - 2 * s.range, s.x_max, 13)};
         },
         {1}},
        // K, the x of half the largest rate, is positive for concentrations.
        {"Michaelis-Menten",
         "y ~ b1*x/(b2 + x)",
         false,
         [](const summary& s) {
             double scale = std::max(std::abs(s.x_min), std::abs(s.x_max));
             return candidates{{}, decades(scale, -3, 1.5, 0.125, false)};
         },
         {1},
         true},
        {"logistic (3 parameters)", "y ~ b1/(1 + exp((b2 - x)/b3))", false,
         [](const summary& s) {
             return candidates{{}, locations(s), decades(s.range, -2, 0.5, 0.25, true)};
         }},
        {"logistic (4 parameters)",
         "y ~ b1 + (b2 - b1)/(1 + exp((b3 - x)/b4))",
         false,
         [](const summary& s) {
             // The scale stays positive: its sign is the same as swapping
             // the asymptotes, which the grid already covers.
             return candidates{{}, {}, locations(s), decades(s.range, -2, 0.5, 0.25, false)};
         },
         {3}},
        {"Gompertz", "y ~ b1*exp(-exp(b3*(b2 - x)))", false,
         [](const summary& s) {
             return candidates{{}, locations(s), rates(s)};
         }},
        // The scale b3 and the shape b4 of the Weibull distribution.
        {"Weibull growth",
         "y ~ b1 - b2*exp(-(x/b3)^b4)",
         true,
         [](const summary& s) {
             return candidates{
                 {}, {}, decades(s.x_max, -2, 0.5, 0.25, false), decades(1, -0.7, 1, 0.2, false)};
         },
         {2, 3}},
        {"power law", "y ~ b1*x^b2", true,
         [](const summary&) {
             return candidates{{}, spread(-4, 4, 41)};
         }},
        // Two decays: both rates positive (R's exp(lrc1), exp(lrc2)).
        {"two-term exponential",
         "y ~ b1*exp(-b2*x) + b3*exp(-b4*x)",
         false,
         [](const summary& s) {
             return candidates{{}, rates(s, 0.5), {}, rates(s, 0.25)};
         },
         {1, 3},
         false,
         1,
         0,
         2},
    };
    return table;
}

// Swaps the terms (a, a+1) and (b, b+1) of a fit: estimates, errors,
// bounds reached and covariance.
void swap_terms(nonlinear_fit& fit, int a, int b) {
    Eigen::Index p = static_cast<Eigen::Index>(fit.estimates.size());
    Eigen::VectorXi order = Eigen::VectorXi::LinSpaced(p, 0, static_cast<int>(p) - 1);
    for (int k = 0; k < 2; ++k)
        std::swap(order[a + k], order[b + k]);
    std::vector<double> est = fit.estimates, se = fit.std_errors;
    std::vector<int> held = fit.at_bound;
    Eigen::MatrixXd cov = fit.covariance;
    for (Eigen::Index i = 0; i < p; ++i) {
        fit.estimates[static_cast<size_t>(i)] = est[static_cast<size_t>(order[i])];
        fit.std_errors[static_cast<size_t>(i)] = se[static_cast<size_t>(order[i])];
        fit.at_bound[static_cast<size_t>(i)] = held[static_cast<size_t>(order[i])];
        for (Eigen::Index j = 0; j < p; ++j)
            fit.covariance(i, j) = cov(order[i], order[j]);
    }
}

// The formula with x and y replaced by the data's column names.
std::string named(const std::string& text, const std::string& x, const std::string& y) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool alone =
            (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]))) &&
            (i + 1 == text.size() || !std::isalnum(static_cast<unsigned char>(text[i + 1])));
        if (alone && c == 'x')
            out += x;
        else if (alone && c == 'y')
            out += y;
        else
            out += c;
    }
    return out;
}

double criterion_of(criterion by, double rss, double n, double k) {
    // Gaussian log-likelihood at the ML variance rss/n; the variance counts
    // as one more parameter.
    double base = n * std::log(2 * pi * rss / n) + n;
    switch (by) {
    case criterion::aic:
        return base + 2 * (k + 1);
    case criterion::aicc:
        return n - k - 2 > 0 ? base + 2 * (k + 1) + 2 * (k + 1) * (k + 2) / (n - k - 2) : nan;
    case criterion::bic:
        return base + (k + 1) * std::log(n);
    }
    return nan;
}

// Fits one family: the best few grid points become starts for full fits.
void fit_family(const family& fam, const std::vector<std::vector<double>>& columns,
                const std::vector<double>* weights, const summary& s, family_fit& out) {
    std::string error;
    fit_problem pr;
    if (!make_problem(out.model, columns, pr, error, nullptr, weights)) {
        out.skipped = true;
        out.note = error;
        return;
    }
    candidates grid = fam.grid(s);
    solver_options options;
    options.restart = false;
    // The family's grid has already looked for the lowest basin.
    options.check_lower = false;
    options.weights = weights;
    if (!fam.nonnegative.empty() && (!fam.bound_needs_nonnegative_x || s.x_min >= 0)) {
        options.lower.assign(static_cast<size_t>(pr.p), -inf);
        options.upper.assign(static_cast<size_t>(pr.p), inf);
        for (int j : fam.nonnegative) {
            options.lower[static_cast<size_t>(j)] = 0;
            auto& values = grid[static_cast<size_t>(j)];
            values.erase(
                std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }),
                values.end());
        }
    }
    std::vector<bool> linear = linear_parameters(out.model.model, pr.p);
    Eigen::VectorXd base = Eigen::VectorXd::Zero(pr.p);
    auto starts = grid_search(pr, linear, base, grid, 4, 4000);
    for (const auto& start : starts) {
        std::vector<double> b(start.data(), start.data() + start.size());
        nonlinear_fit fit = fit_nonlinear(out.model, columns, b, options);
        if (!out.fit.converged || (fit.converged && fit.rss < out.fit.rss))
            out.fit = fit;
    }
    if (out.fit.converged && fam.order_by >= 0) {
        size_t k = static_cast<size_t>(fam.order_by),
               shift = static_cast<size_t>(fam.pair_b - fam.pair_a);
        if (out.fit.estimates[k] > out.fit.estimates[k + shift])
            swap_terms(out.fit, fam.pair_a, fam.pair_b);
    }
    if (starts.empty())
        out.note = "the model is not finite on these data for any start";
    else if (!out.fit.converged)
        out.note = out.fit.reason;
}

} // namespace

bool parse_criterion(const std::string& text, criterion& out) {
    const std::optional<criterion_id> named = criterion_named(text, family_criteria);
    if (!named)
        return false;
    out = *named == criterion_id::aic    ? criterion::aic
          : *named == criterion_id::aicc ? criterion::aicc
                                         : criterion::bic;
    return true;
}

catalogue_result fit_catalogue(const std::vector<double>& x, const std::vector<double>& y,
                               const std::string& x_name, const std::string& y_name, criterion by,
                               const std::vector<double>* weights) {
    catalogue_result result;
    if (x.size() != y.size() || x.size() < 3 || (weights && weights->size() != x.size())) {
        result.error = "at least 3 rows of x and y (and a weight for each) are needed";
        return result;
    }
    for (size_t i = 0; i < x.size(); ++i)
        if (!std::isfinite(x[i]) || !std::isfinite(y[i])) {
            result.error = "row " + std::to_string(i + 1) + " is not finite";
            return result;
        }
    auto [x_lo, x_hi] = std::minmax_element(x.begin(), x.end());
    auto [y_lo, y_hi] = std::minmax_element(y.begin(), y.end());
    summary s{*x_lo, *x_hi, *x_hi - *x_lo, *y_lo, *y_hi};
    if (!(s.range > 0)) {
        result.error = "x takes a single value";
        return result;
    }
    const std::vector<std::vector<double>> columns = {y, x};
    for (const family& fam : catalogue()) {
        family_fit out;
        out.name = fam.name;
        out.formula_text = named(fam.text, x_name, y_name);
        out.model = parse_formula(fam.text, {"y", "x"}).value;
        out.fit.parameters = out.model.parameters;
        out.criterion_value = nan;
        if (fam.positive_x && s.x_min <= 0) {
            out.skipped = true;
            out.note = "needs x > 0";
        } else if (x.size() <= out.model.parameters.size()) {
            out.skipped = true;
            out.note = "fewer rows than parameters";
        } else {
            fit_family(fam, columns, weights, s, out);
        }
        if (out.fit.converged)
            out.criterion_value = criterion_of(by, out.fit.rss, static_cast<double>(x.size()),
                                               static_cast<double>(out.model.parameters.size()));
        result.families.push_back(std::move(out));
    }
    // Ranked by the criterion; a fit without one (not converged, skipped,
    // or too few rows for AICc) comes after those with one, skipped last. An exact fit
    // (rss 0) has the criterion -infinity and comes first. Families that
    // describe the same curves (exponential with asymptote, asymptotic
    // regression with an offset) tie up to rounding: values are compared
    // to a millionth of a unit, and ties keep the catalogue's order.
    auto rounded = [](double v) { return std::isfinite(v) ? std::round(v * 1e6) : v; };
    std::stable_sort(result.families.begin(), result.families.end(),
                     [&](const family_fit& a, const family_fit& b) {
                         bool ra = !std::isnan(a.criterion_value);
                         bool rb = !std::isnan(b.criterion_value);
                         if (ra != rb)
                             return ra;
                         if (ra && rounded(a.criterion_value) != rounded(b.criterion_value))
                             return rounded(a.criterion_value) < rounded(b.criterion_value);
                         // Then converged, not converged, and skipped last.
                         auto place = [](const family_fit& f) {
                             return f.fit.converged ? 0 : (f.skipped ? 2 : 1);
                         };
                         return place(a) < place(b);
                     });
    result.ok = true;
    return result;
}

std::vector<std::pair<std::string, std::string>> catalogue_families() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const family& fam : catalogue())
        out.emplace_back(fam.name, fam.text);
    return out;
}

namespace {

// Whether two compiled models are the same expression up to the names of
// parameters and of the one column they read.
bool same_shape(const expression& a, const expression& b) {
    if (a.code.size() != b.code.size())
        return false;
    for (std::size_t i = 0; i < a.code.size(); ++i) {
        const instruction &p = a.code[i], &q = b.code[i];
        if (p.op != q.op || (p.op == opcode::constant && p.value != q.value) ||
            (p.op == opcode::parameter && p.index != q.index))
            return false;
    }
    return true;
}

} // namespace

std::string family_of(const formula& f) {
    if (f.model.columns_used().size() != 1)
        return {};
    for (const family& fam : catalogue())
        if (same_shape(f.model, parse_formula(fam.text, {"y", "x"}).value.model))
            return fam.name;
    return {};
}

start_suggestion suggest_starts(const formula& f, const std::vector<std::vector<double>>& columns) {
    start_suggestion out;
    out.parameters = f.parameters;
    out.family = family_of(f);
    fit_problem pr;
    std::string error;
    if (out.family.empty() || !make_problem(f, columns, pr, error))
        return out;
    const int used = f.model.columns_used()[0];
    const Eigen::ArrayXd& column = pr.columns[static_cast<std::size_t>(used)];
    const std::vector<double> x(column.data(), column.data() + pr.n);
    const std::vector<double> y(pr.y.data(), pr.y.data() + pr.n);
    auto [x_lo, x_hi] = std::minmax_element(x.begin(), x.end());
    auto [y_lo, y_hi] = std::minmax_element(y.begin(), y.end());
    const summary s{*x_lo, *x_hi, *x_hi - *x_lo, *y_lo, *y_hi};
    for (const family& fam : catalogue()) {
        if (fam.name != out.family)
            continue;
        if (!(s.range > 0) || (fam.positive_x && s.x_min <= 0) || x.size() <= f.parameters.size())
            return out;
        family_fit candidate;
        candidate.model = parse_formula(fam.text, {"y", "x"}).value;
        fit_family(fam, {y, x}, nullptr, s, candidate);
        if (candidate.fit.converged)
            out.starts = candidate.fit.estimates;
    }
    return out;
}

std::vector<double> evaluate_family(const family_fit& family, const std::vector<double>& x) {
    if (!family.fit.converged)
        return {};
    return evaluate_model(family.model, {{}, x}, family.fit.estimates);
}

} // namespace models

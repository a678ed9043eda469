#include "formula_fit.h"

#include "anova.h"
#include "columns.h"
#include "design_coding.h"
#include "fitted_model.h"
#include "linear_program.h"
#include "pipeline.h"
#include "rank_revealing_solve.h"
#include "robust_covariance.h"

#include <Eigen/Core>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <memory>

namespace models {

namespace {

// What the scans learn about the chosen columns: which hold text (are
// categorical) and their levels.
struct column_kinds {
    std::vector<bool> categorical;                    // per slot
    std::vector<std::unique_ptr<level_table>> levels; // per categorical slot
    std::vector<bool> text_found;                     // per slot, in the last scan
    std::string error;                                // a column with too many levels
};

std::string column_name(const model_data& data, std::size_t slot) {
    return "\"" + data.header.names[data.columns[slot]] + "\"";
}

// The coder of text fields: a level id for a categorical column; text in a
// column not yet known as categorical is noted (and, when gathering, read
// on as 0 so that the pass sees every column).
scan_hooks coder_of(column_kinds& kinds, const model_data& data, bool gathering,
                    std::vector<long long>* lines) {
    scan_hooks hooks;
    hooks.coded = kinds.categorical;
    hooks.lines = lines;
    hooks.code = [&kinds, &data, gathering](std::size_t slot, const std::string& text,
                                            double& value) {
        if (slot >= kinds.categorical.size())
            return false;
        if (!kinds.categorical[slot]) {
            kinds.text_found[slot] = true;
            value = 0;
            return gathering;
        }
        const int id = kinds.levels[slot]->id(text);
        if (id < 0) {
            kinds.error = "column " + column_name(data, slot) + " has more than " +
                          std::to_string(max_levels) + " levels (distinct texts)";
            return false;
        }
        value = id;
        return true;
    };
    return hooks;
}

// Marks the columns the last scan found text in as categorical; true when
// there were any.
bool take_text_columns(column_kinds& kinds) {
    bool any = false;
    for (std::size_t s = 0; s < kinds.categorical.size(); ++s) {
        if (kinds.text_found[s] && !kinds.categorical[s]) {
            kinds.categorical[s] = true;
            any = true;
        }
        kinds.text_found[s] = false;
    }
    return any;
}

std::string formula_text(const model_terms& terms) {
    std::string text = terms.response_label + " ~ ";
    if (!terms.intercept)
        text += "0 + ";
    if (terms.terms.empty())
        return text + "1";
    for (std::size_t t = 0; t < terms.terms.size(); ++t)
        text += (t ? " + " : "") + terms.terms[t].label;
    return text;
}

std::string anova_json(const std::vector<anova_row>& table) {
    std::vector<std::string> rows;
    for (const auto& r : table) {
        std::string row = "{\"term\": " + json_string(r.term) + ", \"df\": " + json_number(r.df) +
                          ", \"sum_sq\": " + json_number(r.sum_sq) +
                          ", \"mean_sq\": " + json_number(r.mean_sq);
        if (r.term != "residuals")
            row += ", \"f\": " + json_number(r.f) + ", \"p\": " + json_number(r.p);
        rows.push_back(row + "}");
    }
    return json_array(rows);
}

std::vector<std::string> anova_text(const std::vector<anova_row>& table) {
    std::size_t width = 9;
    for (const auto& r : table)
        width = std::max(width, r.term.size());
    auto pad = [](std::string s, std::size_t w, bool left) {
        const std::string fill(s.size() < w ? w - s.size() : 0, ' ');
        return left ? s + fill : fill + s;
    };
    std::vector<std::string> lines = {
        "Analysis of variance (sequential):",
        pad("", width, true) + "  " + pad("Df", 6, false) + "  " + pad("Sum Sq", 13, false) + "  " +
            pad("Mean Sq", 13, false) + "  " + pad("F value", 9, false) + "  " +
            pad("Pr(>F)", 9, false)};
    for (const auto& r : table) {
        std::string line = pad(r.term, width, true) + "  " + pad(short_number(r.df), 6, false) +
                           "  " + pad(short_number(r.sum_sq), 13, false) + "  " +
                           pad(short_number(r.mean_sq), 13, false);
        if (r.term != "residuals")
            line += "  " + pad(short_number(r.f, 5), 9, false) + "  " +
                    pad(short_number(r.p, 3), 9, false);
        lines.push_back(line);
    }
    return lines;
}

// A fit of a formula's terms as a fitted model: a row of the chosen columns
// (categorical values as level ids) is expanded into its design row and
// evaluated by the fit of that design, in the basis the fit used.
class terms_model final : public fitted_model {
  public:
    terms_model(const model_terms& terms, std::shared_ptr<const column_kinds> kinds,
                const design_coding& coding, std::unique_ptr<fitted_model> design_fit, bool lead,
                std::ptrdiff_t weight_slot)
        : terms_(terms), kinds_(std::move(kinds)), coding_(coding),
          design_fit_(std::move(design_fit)), expander_(terms_, coding_), lead_(lead),
          weight_slot_(weight_slot), x_(expander_.width()), design_row_(1 + lead + x_.size()) {
        triangle = design_fit_->triangle;
        sigma = design_fit_->sigma;
        df = design_fit_->df;
        coded = kinds_->categorical;
    }

    // A new case need not have the response: only the predictors' values
    // must be usable.
    bool evaluate(const double* row, double& fitted, double* gradient) const override {
        for (std::size_t c = response_columns; c + weight_columns < columns.size(); ++c)
            if (!std::isfinite(row[c]))
                return false;
        double y = 0;
        expand(row, y);
        for (std::size_t j = 1; j < design_row_.size(); ++j)
            if (!std::isfinite(design_row_[j]))
                return false;
        return design_fit_->evaluate(design_row_.data(), fitted, gradient);
    }

    double observed(const double* row) const override {
        double y = NAN;
        return expand(row, y) ? y : NAN;
    }

    double weight(const double* row) const override {
        return weight_slot_ < 0 ? 1.0 : row[weight_slot_];
    }

    bool code(std::size_t column, const std::string& text, double& value) const override {
        if (column >= kinds_->categorical.size() || !kinds_->categorical[column])
            return false;
        const int id = kinds_->levels[column]->find(text);
        value = id < 0 ? NAN : id;
        return true;
    }

    std::string level_text(std::size_t column, double id) const override {
        const level_table* levels =
            column < kinds_->levels.size() ? kinds_->levels[column].get() : nullptr;
        if (!levels || !(id >= 0) || id >= static_cast<double>(levels->size()))
            return {};
        return levels->text(static_cast<int>(id));
    }

  private:
    // The design row [y, (1,) x...] of a raw row, unweighted.
    bool expand(const double* row, double& y) const {
        const bool finite = expander_.expand(row, y, x_.data());
        design_row_[0] = y;
        if (lead_)
            design_row_[1] = 1;
        std::copy(x_.begin(), x_.end(), design_row_.begin() + 1 + (lead_ ? 1 : 0));
        return finite;
    }

    model_terms terms_;
    std::shared_ptr<const column_kinds> kinds_; // owns the level tables coding_ points to
    design_coding coding_;
    std::unique_ptr<fitted_model> design_fit_;
    mutable row_expander expander_;
    bool lead_;
    std::ptrdiff_t weight_slot_; // -1: unweighted
    mutable std::vector<double> x_, design_row_;
};

// The coefficients of a polynomial's raw powers from those of the powers of
// t = (x - centre) / scale: powers of (x - centre) expand by the binomial
// theorem as the core's own polynomial fits do, and t^k takes 1 / scale^k.
// In long double: the raw powers' coefficients of a polynomial in calendar
// years are sums of terms far larger than themselves.
using long_matrix = least_squares_detail::matrix<long double>;

long_matrix raw_power_map(const power_basis& basis) {
    design powers;
    powers.degree = basis.degree;
    long_matrix map = least_squares_detail::unshift_map<long double>(powers, {0, basis.centre});
    long double inverse_scale = 1;
    for (Eigen::Index k = 0; k < map.cols(); ++k) {
        map.col(k) *= inverse_scale;
        inverse_scale /= static_cast<long double>(basis.scale);
    }
    return map;
}

// A polynomial fit carried to the raw powers: the coefficients (NaN where
// aliased), and the covariance of the kept ones from that of the kept
// coefficients in the basis of t (kept: their indices, ascending).
void to_raw_powers(const power_basis& basis, const std::vector<int>& kept,
                   std::vector<double>& coefficients, Eigen::MatrixXd& covariance) {
    const long_matrix map = raw_power_map(basis);
    const Eigen::Index terms = map.rows(), k = static_cast<Eigen::Index>(kept.size());
    least_squares_detail::vector<long double> b =
        least_squares_detail::vector<long double>::Zero(terms);
    long_matrix full = long_matrix::Zero(terms, terms);
    for (Eigen::Index a = 0; a < k; ++a) {
        b(kept[a]) = coefficients[static_cast<std::size_t>(kept[a])];
        for (Eigen::Index c = 0; c < k; ++c)
            full(kept[a], kept[c]) = covariance(a, c);
    }
    const auto raw = (map * b).eval();
    const long_matrix raw_covariance = map * full * map.transpose();
    for (Eigen::Index j = 0; j < terms; ++j)
        if (!std::isnan(coefficients[static_cast<std::size_t>(j)]))
            coefficients[static_cast<std::size_t>(j)] = static_cast<double>(raw(j));
    for (Eigen::Index a = 0; a < k; ++a)
        for (Eigen::Index c = 0; c < k; ++c)
            covariance(a, c) = static_cast<double>(raw_covariance(kept[a], kept[c]));
}

// The classical covariance of the kept coefficients, in the design's own
// columns: sigma² (X'X)^-1 from the triangle of the shifted columns (a shift
// moves only what the intercept's coefficient takes back).
Eigen::MatrixXd classical_covariance(const least_squares_fit& fit, const design& d,
                                     const std::vector<int>& kept, double variance) {
    const Eigen::MatrixXd triangle = kept_triangle(fit.triangle, fit.aliased);
    const Eigen::Index k = static_cast<Eigen::Index>(kept.size());
    const Eigen::MatrixXd inverse =
        triangle.topLeftCorner(k, k).triangularView<Eigen::Upper>().solve(
            Eigen::MatrixXd::Identity(k, k));
    const Eigen::MatrixXd map = least_squares_detail::unshift_map<double>(d, fit.shifts);
    Eigen::MatrixXd unshift(k, k);
    for (Eigen::Index a = 0; a < k; ++a)
        for (Eigen::Index c = 0; c < k; ++c)
            unshift(a, c) = map(kept[a], kept[c]);
    return variance * unshift * inverse * inverse.transpose() * unshift.transpose();
}

// The correction to a polynomial's coefficients in the basis of t (kept
// ones; aliased ones stay 0) from one more pass over the raw rows [y, x,
// ..., w]: the residuals and the normal equations' right side X'W r summed
// in long double, with t, its powers and the weights as the data give them
// (the design rows the fit took were rounded to double after the weights'
// roots multiplied them), solved with the fit's own triangle. A tiny
// coefficient of a weighted fit gains the digits that rounding took.
bool refine_powers(const power_basis& basis, const std::vector<int>& kept,
                   const Eigen::MatrixXd& inverse_normal, std::ptrdiff_t weight_slot,
                   model_data& data, const scan_hooks& hooks, std::vector<double>& coefficients) {
    const std::size_t terms = coefficients.size(), width = data.columns.size();
    std::vector<long double> b(terms, 0.0L), right(terms, 0.0L), powers(terms);
    for (int j : kept)
        b[static_cast<std::size_t>(j)] = coefficients[static_cast<std::size_t>(j)];
    const long double centre = basis.centre, scale = basis.scale;
    data.counts = scan_rows(
        *data.file, data.header, data.columns,
        [&](const double* values, std::size_t rows) {
            for (std::size_t i = 0; i < rows; ++i) {
                const double* raw = values + i * width;
                const long double w = weight_slot < 0 ? 1.0L : raw[weight_slot];
                const long double t = (raw[1] - centre) / scale;
                long double fitted = 0, power = 1;
                for (std::size_t k = 0; k < terms; ++k, power *= t) {
                    powers[k] = power;
                    fitted += b[k] * power;
                }
                const long double residual = w * (raw[0] - fitted);
                for (std::size_t k = 0; k < terms; ++k)
                    right[k] += residual * powers[k];
            }
            return true;
        },
        data.progress, false, false, &hooks);
    if (!data.counts.ok)
        return false;
    const Eigen::Index k = static_cast<Eigen::Index>(kept.size());
    for (Eigen::Index a = 0; a < k; ++a) {
        long double step = 0;
        for (Eigen::Index c = 0; c < k; ++c)
            step += inverse_normal(a, c) * right[static_cast<std::size_t>(kept[c])];
        coefficients[static_cast<std::size_t>(kept[a])] =
            static_cast<double>(b[static_cast<std::size_t>(kept[a])] + step);
    }
    return true;
}

// The condition number and inflation factors of the raw powers' model
// matrix [1, x, ..., x^d] over the kept terms, as the polynomial fit itself
// reports them: from the triangle of the shifted powers of t, the columns
// carried back to the powers of t (V) and on to those of x = centre + scale t
// (Q, the binomial theorem). intercept: the first column is the intercept's.
void raw_power_diagnostics(const power_basis& basis, const least_squares_fit& fit, const design& d,
                           const std::vector<int>& kept, bool intercept, linear_diagnostics& g) {
    const Eigen::Index terms = basis.degree + 1;
    Eigen::MatrixXd back = Eigen::MatrixXd::Identity(terms, terms);
    if (d.intercept && !fit.shifts.empty())
        for (Eigen::Index j = 1; j < terms; ++j)
            back(0, j) = fit.shifts[static_cast<std::size_t>(j)];
    Eigen::MatrixXd powers = Eigen::MatrixXd::Zero(terms, terms);
    for (Eigen::Index j = 0; j < terms; ++j) {
        double binomial = 1, term = 1; // C(j, k) centre^(j-k) scale^k, k from 0
        for (Eigen::Index k = 0; k <= j; ++k) {
            powers(k, j) = binomial * term * std::pow(basis.centre, static_cast<double>(j - k));
            binomial = binomial * static_cast<double>(j - k) / static_cast<double>(k + 1);
            term *= basis.scale;
        }
    }
    const Eigen::MatrixXd raw =
        fit.triangle.topLeftCorner(terms, terms).triangularView<Eigen::Upper>() * back * powers;
    g.condition_number = scaled_condition(raw, kept);
    g.vif = inflation_factors(raw, kept, intercept);
}

} // namespace

bool needs_terms(const options& o) {
    return !o.formula.empty() || !o.weights.empty() || o.anova || !o.se.empty() || o.level != 0.95;
}

model_terms formula_terms(const std::string& formula, const model_data& data,
                          const std::string& weights, int& status, std::string& reason) {
    std::vector<std::size_t> excluded;
    if (!weights.empty()) {
        const column_choice w = resolve_column(weights, data.header.names);
        if (w.ok)
            excluded.push_back(w.index);
    }
    if (is_label_column(data.header.names, 0))
        excluded.push_back(0);
    model_terms terms = expand_formula(formula, data.header.names, excluded);
    if (!terms.ok) {
        status = terms.usage_error ? exit_usage : exit_data_unusable;
        reason = terms.error;
    }
    return terms;
}

std::string formula_problem(const std::string& text, const std::vector<std::string>& names) {
    std::vector<std::size_t> excluded;
    if (is_label_column(names, 0))
        excluded.push_back(0);
    const model_terms terms = expand_formula(text, names, excluded);
    return terms.ok ? std::string() : terms.error;
}

bool power_basis_of(model_data& data, int degree, power_basis& basis) {
    double low = INFINITY, high = -INFINITY;
    const bool read = rows_of(data)([&](const double* values, std::size_t rows) {
        for (std::size_t i = 0; i < rows; ++i) {
            const double x = values[i * data.columns.size() + 1];
            low = std::min(low, x);
            high = std::max(high, x);
        }
        return true;
    });
    if (!read || !data.counts.ok) {
        reading_failed(data);
        return false;
    }
    basis = power_basis{};
    basis.degree = degree;
    if (!(low <= high) || !std::isfinite(high - low))
        return true; // no rows (the fit says so), or a range t cannot span
    const double half = (high - low) / 2;
    basis.centre = low + half;
    basis.scale = half > 0 ? std::ldexp(1.0, std::ilogb(half) + 1) : 1.0;
    return true;
}

model_terms chosen_column_terms(const model_data& data, bool intercept) {
    const std::vector<std::size_t> predictors(data.columns.begin() + 1, data.columns.end());
    return terms_of_columns(data.columns[0], predictors, data.header.names, intercept);
}

scan_hooks text_noticer(bool& text_found) {
    scan_hooks hooks;
    hooks.code = [&text_found](std::size_t, const std::string&, double&) {
        text_found = true;
        return false;
    };
    return hooks;
}

model_terms power_terms(const model_data& data, const power_basis& basis) {
    model_terms terms =
        terms_of_columns(data.columns[0], {data.columns[1]}, data.header.names, true);
    const auto number = [](double value) {
        term_expression e;
        e.number = value;
        e.text = short_number(value, 17);
        return e;
    };
    const auto operation = [](expression_kind kind, term_expression a, term_expression b) {
        term_expression e;
        e.kind = kind;
        e.operands = {std::move(a), std::move(b)};
        return e;
    };
    const model_variable x = terms.variables[0];
    const term_expression t = operation(
        expression_kind::divide,
        operation(expression_kind::subtract, x.value, number(basis.centre)), number(basis.scale));
    terms.variables.clear();
    for (int k = 1; k <= basis.degree; ++k) {
        model_variable power = x;
        power.plain_column = false;
        power.label = k == 1 ? x.label : x.label + "^" + std::to_string(k);
        power.value = k == 1 ? t : operation(expression_kind::power, t, number(k));
        terms.variables.push_back(power);
        if (k > 1) {
            model_term term;
            term.variables = {k - 1};
            term.label = power.label;
            terms.terms.push_back(term);
        }
    }
    return terms;
}

namespace {

// A column the fit computes (log(x), I(year^3), ...) is rounded to double
// before it is fitted, each value by up to one part in 2^53; to first order
// the estimates can move by that times the model matrix's condition number,
// whatever precision the fit itself keeps. Where that could cost them their
// tenth digit, the report says so.
constexpr double noted_rounding_effect = 1e-10;

// The report's note on such a fit (empty when there is nothing to say).
std::string rounded_columns_note(const model_terms& terms, double condition) {
    const double effect = condition * std::ldexp(1.0, -53);
    if (!(effect > noted_rounding_effect))
        return "";
    std::string computed;
    for (const auto& v : terms.variables)
        if (!v.plain_column && !v.forced_categorical) {
            computed = v.label;
            break;
        }
    if (computed.empty())
        return "";
    return "the model matrix's condition number is " + short_number(condition, 3) +
           ": the rounding of computed columns such as " + computed +
           " can move the estimates by about " + short_number(effect, 2) +
           " of their size; centred columns (as in I((year - 2000)^3) for calendar years) "
           "keep their digits";
}

} // namespace

model_run run_terms(const program_info& program, const options& o, model_data& data,
                    model_terms terms, terms_design* design_only, const power_basis& powers) {
    // The columns read: the terms', then the weights'.
    data.columns = terms.columns;
    const bool weighted = !o.weights.empty();
    std::size_t weight_slot = 0;
    if (weighted) {
        const column_choice w = resolve_column(o.weights, data.header.names);
        if (!w.ok)
            return refused_run(exit_data_unusable, "--weights: " + w.error);
        const auto at = std::find(data.columns.begin(), data.columns.end(), w.index);
        weight_slot = static_cast<std::size_t>(at - data.columns.begin());
        if (at == data.columns.end())
            data.columns.push_back(w.index);
    }
    const std::size_t slots = data.columns.size();
    const auto shared_kinds = std::make_shared<column_kinds>();
    column_kinds& kinds = *shared_kinds;
    kinds.categorical.assign(slots, false);
    kinds.text_found.assign(slots, false);
    kinds.levels.resize(slots);
    for (const auto& v : terms.variables)
        if (v.forced_categorical)
            kinds.categorical[v.slot] = true;

    std::vector<long long> lines;
    std::string row_error;
    long long zero_weights = 0;
    long double sum_log_weights = 0;
    std::vector<long double> sums;
    long long rows_fitted = 0;
    for (std::size_t attempt = 0; attempt <= slots; ++attempt) {
        // Gather the levels of the categorical columns, and find any other
        // text column on the way.
        const bool any_categorical = std::find(kinds.categorical.begin(), kinds.categorical.end(),
                                               true) != kinds.categorical.end();
        while (any_categorical) {
            for (std::size_t s = 0; s < slots; ++s)
                kinds.levels[s] = kinds.categorical[s] ? std::make_unique<level_table>() : nullptr;
            const scan_hooks hooks = coder_of(kinds, data, true, nullptr);
            data.counts = scan_rows(*data.file, data.header, data.columns, nullptr, data.progress,
                                    false, false, &hooks);
            if (!kinds.error.empty())
                return refused_run(exit_data_unusable, data.path + ": " + kinds.error);
            if (!data.counts.ok) {
                reading_failed(data);
                return refused_run(data.status, data.reason);
            }
            if (!take_text_columns(kinds))
                break;
        }
        if (kinds.categorical[0] && terms.response.kind == expression_kind::column)
            return refused_run(exit_data_unusable,
                               "the response " + column_name(data, 0) + " holds text, not numbers");
        if (weighted && kinds.categorical[weight_slot])
            return refused_run(exit_data_unusable, "--weights: column " +
                                                       column_name(data, weight_slot) +
                                                       " holds text, not numbers");
        std::vector<const level_table*> levels;
        for (const auto& v : terms.variables) {
            if ((v.plain_column || v.forced_categorical) && kinds.categorical[v.slot]) {
                levels.push_back(kinds.levels[v.slot].get());
                continue;
            }
            levels.push_back(nullptr);
        }
        // A function of a text column, or a text column in the response.
        for (std::size_t v = 0; v <= terms.variables.size(); ++v) {
            const term_expression& e =
                v < terms.variables.size() ? terms.variables[v].value : terms.response;
            if (v < terms.variables.size() && levels[v])
                continue;
            std::vector<const term_expression*> stack = {&e};
            while (!stack.empty()) {
                const term_expression* node = stack.back();
                stack.pop_back();
                if (node->kind == expression_kind::column && kinds.categorical[node->slot])
                    return refused_run(exit_data_unusable,
                                       (v < terms.variables.size() ? terms.variables[v].label
                                                                   : terms.response_label) +
                                           ": column " + column_name(data, node->slot) +
                                           " holds text, not numbers");
                for (const auto& o2 : node->operands)
                    stack.push_back(&o2);
            }
        }
        const design_coding coding = code_design(terms, levels);
        row_expander expander(terms, coding);
        const std::size_t width = expander.width();
        const int lead = weighted && terms.intercept ? 1 : 0;
        const std::size_t out_width = 1 + lead + width;
        design d;
        d.predictors = static_cast<int>(lead + width);
        d.intercept = terms.intercept && !weighted;
        const std::size_t raw_width = slots;

        // The design rows [y, columns...], weighted rows times sqrt(w).
        row_source source = [&](const row_sink& sink) {
            std::vector<double> out(scan_block_rows * out_width);
            std::vector<double> x(width);
            sums.assign(out_width, 0.0L);
            rows_fitted = 0;
            zero_weights = 0;
            sum_log_weights = 0;
            const scan_hooks hooks = coder_of(kinds, data, false, &lines);
            const row_sink expand = [&](const double* values, std::size_t rows) {
                std::size_t m = 0;
                for (std::size_t i = 0; i < rows; ++i) {
                    const double* raw = values + i * raw_width;
                    double* to = out.data() + m * out_width;
                    double root = 1;
                    if (weighted) {
                        const double w = raw[weight_slot];
                        if (w < 0) {
                            row_error = "line " + std::to_string(lines[i]) + ": the weight " +
                                        short_number(w, 17) + " is negative";
                            return false;
                        }
                        if (w == 0) {
                            ++zero_weights;
                            continue;
                        }
                        root = std::sqrt(w);
                        sum_log_weights += std::log(static_cast<long double>(w));
                    }
                    double y;
                    if (!expander.expand(raw, y, x.data())) {
                        row_error = "line " + std::to_string(lines[i]) + ": " + expander.why(raw);
                        return false;
                    }
                    to[0] = root * y;
                    if (lead)
                        to[1] = root;
                    for (std::size_t j = 0; j < width; ++j)
                        to[1 + lead + j] = root * x[j];
                    for (std::size_t j = 0; j < out_width; ++j)
                        if (to[j] != 0) // most of a categorical design's values
                            sums[j] += to[j];
                    ++rows_fitted;
                    ++m;
                }
                return m == 0 || sink(out.data(), m);
            };
            data.counts = scan_rows(*data.file, data.header, data.columns, expand, data.progress,
                                    false, false, &hooks);
            return data.counts.ok && !data.counts.stopped;
        };

        const least_squares_fit fit = fit_least_squares(d, pipelined(source, out_width));
        if (!row_error.empty())
            return refused_run(exit_data_unusable, data.path + ": " + row_error);
        if (!kinds.error.empty())
            return refused_run(exit_data_unusable, data.path + ": " + kinds.error);
        if (take_text_columns(kinds))
            continue; // a text column: gather its levels and fit again
        if (!data.counts.ok) {
            reading_failed(data);
            return refused_run(data.status, data.reason);
        }
        if (!fit.ok)
            return refused_run(fit.error.rfind("too few", 0) == 0 ? exit_data_unusable
                                                                  : exit_not_fitted,
                               fit.error);
        if (design_only) {
            design_only->fit = fit;
            design_only->column_terms = coefficient_terms(coding);
            design_only->sum_log_weights = static_cast<double>(sum_log_weights);
            return model_run{};
        }

        // The report.
        const std::vector<std::string> names = coefficient_names(coding);
        least_squares_fit shown = fit;
        const Eigen::MatrixXd kept = kept_triangle(fit.triangle, fit.aliased);
        const Eigen::Index k = kept.cols() - 1;
        if (lead) {
            // R² and F about the weighted mean: what the terms add to the
            // intercept's fit.
            shown.tss = fit.rss;
            for (Eigen::Index a = 1; a < k; ++a)
                shown.tss += kept(a, k) * kept(a, k);
        }
        std::vector<int> kept_columns;
        for (std::size_t j = 0; j < fit.aliased.size(); ++j)
            if (!fit.aliased[j])
                kept_columns.push_back(static_cast<int>(j));
        // The coefficients in the design's columns (a polynomial's refined).
        std::vector<double> fitted_coefficients = fit.coefficients;
        if (powers.degree > 0) {
            // The raw powers' coefficients and classical standard errors.
            const scan_hooks hooks = coder_of(kinds, data, false, nullptr);
            if (!refine_powers(powers, kept_columns,
                               classical_covariance(fit, d, kept_columns, 1.0),
                               weighted ? static_cast<std::ptrdiff_t>(weight_slot) : -1, data,
                               hooks, fitted_coefficients)) {
                reading_failed(data);
                return refused_run(data.status, data.reason);
            }
            shown.coefficients = fitted_coefficients;
            const long long df = fit.n - fit.rank;
            Eigen::MatrixXd cov = classical_covariance(
                fit, d, kept_columns, df > 0 ? fit.rss / static_cast<double>(df) : NAN);
            to_raw_powers(powers, kept_columns, shown.coefficients, cov);
            for (Eigen::Index a = 0; a < k; ++a)
                shown.std_errors[static_cast<std::size_t>(kept_columns[a])] = std::sqrt(cov(a, a));
        }
        model_run run;
        run.report = linear_report(program, names, formula_text(terms), terms.intercept, data,
                                   shown, o.level);
        run.report.response = terms.response_label;
        if (weighted) {
            // The weights' own term of the likelihood, as R's logLik counts it.
            const double half_log_w = static_cast<double>(sum_log_weights) / 2;
            run.report.log_likelihood += half_log_w;
            run.report.aic -= 2 * half_log_w;
            run.report.bic -= 2 * half_log_w;
            run.report.extra_json.push_back({"weights", json_string(o.weights)});
            run.report.extra_json.push_back({"zero_weights", std::to_string(zero_weights)});
        }
        const double df = static_cast<double>(run.report.df);
        if (!o.se.empty()) {
            hc_type type = hc_type::hc0;
            parse_hc_type(o.se, type);
            Eigen::VectorXd beta(k);
            std::vector<double> means(static_cast<std::size_t>(k), 0.0);
            const int implicit = d.intercept ? 1 : 0; // the core's own column of ones
            for (Eigen::Index a = 0; a < k; ++a) {
                const int j = kept_columns[static_cast<std::size_t>(a)];
                beta(a) = fit.coefficients[static_cast<std::size_t>(j)];
                if (j >= implicit && rows_fitted > 0)
                    means[static_cast<std::size_t>(a)] = static_cast<double>(
                        sums[static_cast<std::size_t>(1 + j - implicit)] / rows_fitted);
            }
            sandwich_covariance sandwich(kept, beta, means, d.intercept, type);
            std::vector<double> row(static_cast<std::size_t>(k));
            const bool read = source([&](const double* values, std::size_t rows) {
                for (std::size_t i = 0; i < rows; ++i) {
                    const double* r = values + i * out_width;
                    for (Eigen::Index a = 0; a < k; ++a) {
                        const int j = kept_columns[static_cast<std::size_t>(a)];
                        row[static_cast<std::size_t>(a)] = j < implicit ? 1.0 : r[1 + j - implicit];
                    }
                    sandwich.add(r[0], row.data());
                }
                return true;
            });
            if (!read) {
                reading_failed(data);
                return refused_run(data.status, data.reason);
            }
            Eigen::MatrixXd cov = sandwich.covariance();
            std::vector<double> coefficients = fitted_coefficients;
            if (powers.degree > 0)
                to_raw_powers(powers, kept_columns, coefficients, cov);
            run.report.estimates.clear();
            for (Eigen::Index a = 0; a < k; ++a) {
                const std::size_t j =
                    static_cast<std::size_t>(kept_columns[static_cast<std::size_t>(a)]);
                run.report.estimates.push_back(
                    make_coefficient(names[j], coefficients[j], std::sqrt(cov(a, a)), df, o.level));
            }
            std::string upper = o.se;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            run.report.extra_text.push_back("Standard errors: heteroskedasticity-consistent (" +
                                            upper + ")");
        }
        run.report.extra_json.push_back(
            {"se_type", json_string(o.se.empty() ? std::string("classical") : o.se)});
        if (o.anova) {
            std::vector<std::string> labels;
            for (const auto& t : terms.terms)
                labels.push_back(t.label);
            const auto table = sequential_anova(fit.triangle, fit.aliased,
                                                coefficient_terms(coding), labels, fit.rss, df);
            run.report.extra_json.push_back({"anova", anova_json(table)});
            const auto text = anova_text(table);
            run.report.extra_text.insert(run.report.extra_text.end(), text.begin(), text.end());
        }
        // The fit as a model to take further (--save, --predict), and its
        // diagnostics from one more read of the design rows.
        std::unique_ptr<fitted_model> design_fit = linear_fitted_model(d, fit, {});
        double condition = NAN;
        const std::vector<int> column_terms = coefficient_terms(coding);
        const auto raw_condition = [&](linear_diagnostics& g) {
            if (powers.degree > 0)
                raw_power_diagnostics(powers, fit, d, kept_columns, d.intercept || lead != 0, g);
            condition = g.condition_number;
            // A factor's columns make one term, whose generalized VIF is not
            // computed: only one-column terms keep theirs.
            for (std::size_t j = 0; j < g.vif.size() && j < column_terms.size(); ++j)
                if (std::count(column_terms.begin(), column_terms.end(), column_terms[j]) > 1)
                    g.vif[j] = NAN;
        };
        if (o.diagnostics &&
            !add_linear_diagnostics(run.report, d, fit, source, out_width, *design_fit, names,
                                    weighted, data, raw_condition, lead != 0))
            return refused_run(data.status, data.reason);
        if (powers.degree == 0) {
            const std::string note = rounded_columns_note(terms, condition);
            if (!note.empty()) {
                run.report.extra_json.push_back({"note", json_string(note)});
                run.report.extra_text.push_back("Note: " + note + ".");
            }
        }
        auto model = std::make_shared<terms_model>(
            terms, shared_kinds, coding, std::move(design_fit), lead != 0,
            weighted ? static_cast<std::ptrdiff_t>(weight_slot) : -1);
        model->columns = data.columns;
        model->weight_columns = weighted && weight_slot == terms.columns.size() ? 1 : 0;
        run.fitted = model;

        // The fitted value at a row of the chosen columns, for the plot.
        auto shared_terms = std::make_shared<model_terms>(terms);
        auto shared_coding = std::make_shared<design_coding>(coding);
        // Later reads of these columns (the plot) code their text alike.
        auto later = std::make_shared<scan_hooks>(coder_of(kinds, data, false, nullptr));
        later->code = [shared_kinds, code = later->code](std::size_t slot, const std::string& text,
                                                         double& value) {
            return code(slot, text, value);
        };
        data.kept_hooks = later;
        data.hooks = later.get();

        std::vector<double> b = fit.coefficients;
        for (double& v : b)
            if (std::isnan(v))
                v = 0;
        const bool intercept = terms.intercept;
        run.predict = [shared_terms, shared_coding, b, intercept](const double* raw) {
            row_expander e(*shared_terms, *shared_coding);
            std::vector<double> x(e.width());
            double y;
            e.expand(raw, y, x.data());
            double value = intercept ? b[0] : 0;
            for (std::size_t j = 0; j < x.size(); ++j)
                value += b[j + (intercept ? 1 : 0)] * x[j];
            return value;
        };
        return run;
    }
    return refused_run(exit_data_unusable, "the columns' kinds could not be settled");
}

} // namespace models

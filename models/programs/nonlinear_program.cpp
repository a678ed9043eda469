#include "nonlinear_program.h"

#include "catalogue.h"
#include "columns.h"
#include "criterion.h"
#include "formula.h"
#include "profile.h"
#include "solver.h"

#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace models {

namespace {

// The t quantile of two-sided intervals at the level, on df degrees of freedom.
double t_quantile(double level, double df) {
    if (!(df > 0))
        return NAN;
    const boost::math::students_t_distribution<double> t(df);
    return boost::math::quantile(boost::math::complement(t, (1 - level) / 2));
}

// Half the sum of the logarithms of the positive weights: what the weights
// add to the Gaussian log-likelihood (zero weights drop out, as rows).
double weights_log_term(const std::vector<double>* weights) {
    double sum = 0;
    if (weights)
        for (double w : *weights)
            if (w > 0)
                sum += std::log(w);
    return 0.5 * sum;
}

// The report of a converged non-linear fit: no R² or F, which have no
// meaning without a linear model's decomposition of the variance. Intervals
// are Wald intervals at the level; a parameter at a bound has none.
fit_report nonlinear_report(const program_info& program, const model_data& data,
                            const std::string& response, const std::string& formula_text,
                            const nonlinear_fit& fit, double level,
                            const std::vector<double>* weights) {
    fit_report r;
    r.program = program.program;
    r.model = program.model;
    describe_data(data, r);
    r.response = response;
    r.formula = formula_text;
    r.n = fit.n;
    r.df = fit.df;
    r.level = level;
    const double df = static_cast<double>(fit.df);
    const double q = t_quantile(level, df);
    for (std::size_t j = 0; j < fit.parameters.size(); ++j) {
        coefficient c =
            make_coefficient(fit.parameters[j], fit.estimates[j], fit.std_errors[j], df);
        if (std::isfinite(c.ci_low) && c.std_error > 0) {
            c.ci_low = c.estimate - q * c.std_error;
            c.ci_high = c.estimate + q * c.std_error;
        }
        r.estimates.push_back(c);
    }
    r.rss = fit.rss;
    r.residual_sd = fit.df > 0 ? std::sqrt(fit.rss / df) : NAN;
    r.r_squared = r.adj_r_squared = r.f = r.f_df1 = r.f_df2 = r.f_p = NAN;
    const information info =
        gaussian_information(fit.rss, double(fit.n), static_cast<int>(fit.parameters.size()));
    const double log_w = weights_log_term(weights);
    r.log_likelihood = info.log_likelihood + log_w;
    r.aic = info.aic - 2 * log_w;
    r.bic = info.bic - 2 * log_w;
    r.extra_json.push_back({"converged", "true"});
    r.extra_json.push_back({"iterations", std::to_string(fit.iterations)});
    r.extra_json.push_back({"grid_points", std::to_string(fit.grid_points)});
    r.extra_json.push_back({"restarted", fit.restarted ? "true" : "false"});
    if (!fit.note.empty())
        r.extra_json.push_back({"note", json_string(fit.note)});
    r.extra_json.push_back({"ci_type", json_string("wald")});
    r.extra_json.push_back({"level", json_number(level)});
    r.extra_text.push_back(
        "Converged after " + std::to_string(fit.iterations) + " evaluations of the model" +
        (fit.restarted ? " (restarted from computed start values)" : "") +
        (fit.grid_points > 0 ? "; checked against " + std::to_string(fit.grid_points) +
                                   " points of a grid for a lower minimum."
                             : "."));
    if (!fit.note.empty())
        r.extra_text.push_back("Note: " + fit.note + ".");
    if (fit.pole.found) {
        const std::string x = data.header.names[static_cast<std::size_t>(fit.pole.column)];
        const std::string where = "between " + x + " = " + short_number(fit.pole.from) + " and " +
                                  x + " = " + short_number(fit.pole.to);
        r.extra_json.push_back(
            {"warning", json_string("the fitted curve has a pole or a jump " + where)});
        r.extra_text.push_back("Warning: the fitted curve has a pole or a jump " + where +
                               ", inside the range of the data.");
    }
    std::vector<std::string> held;
    for (std::size_t j = 0; j < fit.at_bound.size(); ++j)
        if (fit.at_bound[j] != 0) {
            held.push_back("{\"name\": " + json_string(fit.parameters[j]) + ", \"bound\": " +
                           json_string(fit.at_bound[j] < 0 ? "lower" : "upper") + "}");
            r.extra_text.push_back(fit.parameters[j] + " is at its " +
                                   (fit.at_bound[j] < 0 ? "lower" : "upper") +
                                   " bound: no standard error or interval.");
        }
    if (!held.empty())
        r.extra_json.push_back({"at_bound", json_array(held)});
    return r;
}

// Replaces the Wald intervals by profile intervals; a side where the
// profile does not reach the cut-off is null and said to be unbounded, or,
// where a bound comes first, ends at the bound and is said to.
void profile_report(fit_report& r, const std::vector<profile_interval>& intervals) {
    int evaluations = 0;
    std::vector<std::string> cut;
    for (std::size_t j = 0; j < intervals.size() && j < r.estimates.size(); ++j) {
        coefficient& c = r.estimates[j];
        const profile_interval& interval = intervals[j];
        c.ci_low = interval.low;
        c.ci_high = interval.high;
        evaluations += interval.evaluations;
        // A parameter at its bound has no interval, as it has no standard error.
        if (!interval.profiled)
            continue;
        for (const bool low_side : {true, false})
            if (low_side ? interval.low_at_bound : interval.high_at_bound) {
                const char* side = low_side ? "lower" : "upper";
                cut.push_back("{\"name\": " + json_string(c.name) +
                              ", \"end\": " + json_string(side) + "}");
                r.extra_text.push_back("The profile of " + c.name + " does not reach the cut-off " +
                                       (low_side ? "below" : "above") +
                                       " the estimate before its " + side +
                                       " bound: the interval ends at the bound.");
            }
        const bool low = std::isnan(c.ci_low), high = std::isnan(c.ci_high);
        if (low || high)
            r.extra_text.push_back("The profile of " + c.name + " does not reach the cut-off " +
                                   (low && high ? "on either side"
                                    : low       ? "below"
                                                : "above") +
                                   " the estimate: the interval is unbounded there.");
    }
    for (auto& member : r.extra_json)
        if (member.first == "ci_type")
            member.second = json_string("profile");
    r.extra_json.push_back({"profile_evaluations", std::to_string(evaluations)});
    if (!cut.empty())
        r.extra_json.push_back({"ci_at_bound", json_array(cut)});
    r.extra_text.push_back("Confidence intervals by profiling the residual sum of squares (" +
                           std::to_string(evaluations) + " evaluations of the model).");
}

// The rows' columns, one vector per column of the file (unused ones empty),
// from rows of the chosen columns; with part set to 1, what rounding took
// away (rows read with data.rounding).
std::vector<std::vector<double>> column_vectors(const model_data& data,
                                                const std::vector<double>& rows, int part = 0) {
    std::vector<std::vector<double>> columns(data.header.names.size());
    const std::size_t values = data.columns.size();
    const std::size_t width = data.rounding ? 2 * values : values;
    const std::size_t count = width ? rows.size() / width : 0;
    for (std::size_t c = 0; c < values; ++c) {
        auto& column = columns[data.columns[c]];
        column.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            column[i] = rows[i * width + part * values + c];
    }
    return columns;
}

} // namespace

start_offer offer_starts(byte_source& file, const data_header& header,
                         const std::string& formula_text, const progress_sink& progress) {
    start_offer offer;
    const formula_result parsed = parse_formula(formula_text, header.names);
    if (!parsed.ok)
        return offer;
    const formula& f = parsed.value;
    offer.parameters = f.parameters;
    if (family_of(f).empty())
        return offer;
    std::vector<int> used = f.response.columns_used();
    for (int c : f.model.columns_used())
        if (std::find(used.begin(), used.end(), c) == used.end())
            used.push_back(c);
    const std::vector<std::size_t> chosen(used.begin(), used.end());
    // Every stride-th row is kept; when twice offered_rows are kept, every
    // other one is dropped and the stride doubles, so the rows kept stay
    // evenly spread over the file, however long.
    std::vector<std::vector<double>> columns(header.names.size());
    std::size_t stride = 1, seen = 0;
    const auto sink = [&](const double* values, std::size_t rows) {
        for (std::size_t i = 0; i < rows; ++i, ++seen) {
            if (seen % stride != 0)
                continue;
            for (std::size_t c = 0; c < chosen.size(); ++c)
                columns[chosen[c]].push_back(values[i * chosen.size() + c]);
            if (columns[chosen[0]].size() < 2 * offered_rows)
                continue;
            for (std::size_t c : chosen) {
                std::vector<double>& column = columns[c];
                for (std::size_t k = 0; 2 * k < column.size(); ++k)
                    column[k] = column[2 * k];
                column.resize((column.size() + 1) / 2);
            }
            stride *= 2;
        }
        return true;
    };
    if (!scan_rows(file, header, chosen, sink, progress).ok)
        return offer;
    const start_suggestion suggestion = suggest_starts(f, columns);
    for (std::size_t j = 0; j < suggestion.starts.size(); ++j) {
        char value[32];
        std::snprintf(value, sizeof value, "%.3g", suggestion.starts[j]);
        offer.values += (j == 0 ? "" : ", ") + f.parameters[j] + "=" + value;
    }
    return offer;
}

model_run run_nonlinear(const program_info& program, const options& o, model_data& data) {
    // A trailing "+ e" is the published formulas' error term unless the
    // start values name e.
    const std::vector<std::string> named = named_in_starts(o.start);
    const bool keep_e = std::find(named.begin(), named.end(), "e") != named.end();
    const formula_result parsed = parse_formula(o.formula, data.header.names, keep_e);
    if (!parsed.ok)
        return refused_run(exit_usage, "--formula: " + parsed.error);
    const formula& f = parsed.value;
    const starts_result starts = parse_starts(o.start, f.parameters, f.near_columns);
    if (!starts.ok)
        return refused_run(exit_usage, "--start: " + starts.error);
    solver_options solving;
    if (!o.bounds.empty()) {
        const bounds_result bounds = parse_bounds(o.bounds, f.parameters);
        if (!bounds.ok)
            return refused_run(exit_usage, "--bounds: " + bounds.error);
        solving.lower = bounds.lower;
        solving.upper = bounds.upper;
    }
    // The columns the formula reads: the response's first, so that a plain
    // response column and one predictor plot as y against x; the weights last.
    std::vector<int> used = f.response.columns_used();
    for (int c : f.model.columns_used())
        if (std::find(used.begin(), used.end(), c) == used.end())
            used.push_back(c);
    if (used.empty())
        return refused_run(exit_usage, "--formula: the formula names no column of the data");
    int weight_column = -1;
    bool weights_apart = false; // the weights are no column of the formula
    if (!o.weights.empty()) {
        const column_choice w = resolve_column(o.weights, data.header.names);
        if (!w.ok)
            return refused_run(exit_data_unusable, "--weights: " + w.error);
        weight_column = static_cast<int>(w.index);
        weights_apart = std::find(used.begin(), used.end(), weight_column) == used.end();
        if (weights_apart)
            used.push_back(weight_column);
    }
    data.columns.assign(used.begin(), used.end());
    // Residuals near the rounding of the data (a model that fits to 1e-13)
    // are formed from the values as the file wrote them.
    data.rounding = true;
    std::vector<double> rows;
    const bool read = read_all_rows(data, rows);
    data.rounding = false;
    if (!read)
        return refused_run(data.status, data.reason);
    data.rounding = true;
    const auto columns = column_vectors(data, rows);
    const auto low = column_vectors(data, rows, 1);
    data.rounding = false;
    solving.low_parts = &low;
    const std::vector<double>* weights =
        weight_column >= 0 ? &columns[static_cast<std::size_t>(weight_column)] : nullptr;
    solving.weights = weights;
    const nonlinear_fit fit = fit_nonlinear(f, columns, starts.values, solving);
    if (!fit.ok)
        return refused_run(exit_data_unusable, (weights ? "--weights: " : "") + fit.error);
    if (!fit.converged)
        return refused_run(exit_not_fitted, "the fit did not converge: " + fit.reason);
    model_run run;
    run.report = nonlinear_report(program, data, f.response_text, o.formula, fit, o.level, weights);
    if (weights)
        run.report.extra_json.push_back(
            {"weights", json_string(data.header.names[static_cast<std::size_t>(weight_column)])});
    // The plot and the predictions read the formula's columns only.
    if (weights_apart)
        data.columns.pop_back();
    if (o.profile_ci) {
        solver_options profiling;
        profiling.low_parts = &low;
        profiling.weights = weights;
        profiling.lower = solving.lower;
        profiling.upper = solving.upper;
        profile_report(run.report, profile_intervals(f, columns, fit, o.level, profiling));
    }
    const std::size_t names = data.header.names.size();
    const std::vector<std::size_t> chosen = data.columns;
    const std::vector<double> estimates = fit.estimates;
    run.predict = [f, names, chosen, estimates](const double* row) {
        std::vector<std::vector<double>> one(names);
        for (std::size_t c = 0; c < chosen.size(); ++c)
            one[chosen[c]] = {row[c]};
        const std::vector<double> value = evaluate_model(f, one, estimates);
        return value.empty() ? NAN : value[0];
    };
    run.observed = [f, names, chosen](const double* row) {
        std::vector<Eigen::ArrayXd> one(names);
        for (std::size_t c = 0; c < chosen.size(); ++c)
            one[chosen[c]] = Eigen::ArrayXd::Constant(1, row[c]);
        Eigen::ArrayXd value;
        f.response.evaluate(one, 1, Eigen::VectorXd(), value);
        return value.size() == 1 ? value[0] : NAN;
    };
    // The leading columns only the response reads: a new case needs none.
    const std::vector<int> model_columns = f.model.columns_used();
    std::size_t response_only = 0;
    while (response_only < used.size() && std::find(model_columns.begin(), model_columns.end(),
                                                    used[response_only]) == model_columns.end())
        ++response_only;
    run.fitted = nonlinear_fitted_model(f, fit.estimates, data.columns, data.columns, response_only,
                                        fit.rss, fit.df, columns);
    return run;
}

model_run run_best_nonlinear(const program_info& program, const options& o, model_data& data) {
    if (data.predictors() != 1)
        return refused_run(exit_usage, "the best non-linear model takes one predictor; --x names " +
                                           std::to_string(data.predictors()));
    criterion by = criterion::aicc;
    if (!o.criterion.empty() && !parse_criterion(o.criterion, by))
        return refused_run(exit_usage, "--criterion: " + criteria_list(family_criteria, ", "));
    // The weights are read as a third column of each row.
    const bool weighted = !o.weights.empty();
    if (weighted) {
        const column_choice w = resolve_column(o.weights, data.header.names);
        if (!w.ok)
            return refused_run(exit_data_unusable, "--weights: " + w.error);
        data.columns.push_back(w.index);
    }
    const std::size_t width = data.columns.size();
    std::vector<double> rows;
    const bool read = read_all_rows(data, rows);
    if (!read)
        return refused_run(data.status, data.reason);
    std::vector<double> x(rows.size() / width), y(x.size()), w;
    for (std::size_t i = 0; i < x.size(); ++i) {
        y[i] = rows[width * i];
        x[i] = rows[width * i + 1];
        if (weighted)
            w.push_back(rows[width * i + 2]);
    }
    // The plot and the predictions read [y, x] only.
    const std::string weights_name = weighted ? data.header.names[data.columns.back()] : "";
    if (weighted)
        data.columns.pop_back();
    const catalogue_result result =
        fit_catalogue(x, y, data.name(1), data.name(0), by, weighted ? &w : nullptr);
    if (!result.ok)
        return refused_run(exit_data_unusable, (weighted ? "--weights: " : "") + result.error);
    if (result.families.empty() || !result.families.front().fit.converged)
        return refused_run(exit_not_fitted, "no curve family of the catalogue could be fitted");
    const family_fit& best = result.families.front();
    model_run run;
    run.report = nonlinear_report(program, data, data.name(0), best.formula_text, best.fit, o.level,
                                  weighted ? &w : nullptr);
    const char* name = o.criterion.empty() ? "aicc" : o.criterion.c_str();
    std::vector<std::string> candidates;
    std::vector<std::string>& table = run.report.preface_text;
    table.push_back(std::string("Curve families by ") + name + " (best first):");
    for (const auto& family : result.families) {
        const bool converged = family.fit.converged && !family.skipped;
        // Parameters that ended at the family's natural bound.
        std::vector<std::string> held, held_json;
        for (std::size_t j = 0; converged && j < family.fit.at_bound.size(); ++j)
            if (family.fit.at_bound[j] != 0) {
                held.push_back(family.model.parameters[j]);
                held_json.push_back(json_string(held.back()));
            }
        candidates.push_back(
            "{\"family\": " + json_string(family.name) +
            ", \"formula\": " + json_string(family.formula_text) +
            ", \"value\": " + json_number(converged ? family.criterion_value : NAN) +
            ", \"rss\": " + json_number(converged ? family.fit.rss : NAN) +
            ", \"converged\": " + (converged ? "true" : "false") +
            (held.empty() ? "" : ", \"at_bound\": " + json_array(held_json)) + "}");
        std::string line = "  " + family.name + ": ";
        line += converged ? name + std::string(" ") + short_number(family.criterion_value) +
                                ", RSS " + short_number(family.fit.rss)
                          : "not fitted" + (family.note.empty() ? "" : " (" + family.note + ")");
        for (std::size_t k = 0; k < held.size(); ++k)
            line += (k == 0 ? " (" : ", ") + held[k];
        if (!held.empty())
            line += held.size() == 1 ? " at its natural bound)" : " at their natural bounds)";
        table.push_back(line);
    }
    run.report.extra_json.push_back({"criterion", json_string(name)});
    run.report.extra_json.push_back({"family", json_string(best.name)});
    if (weighted)
        run.report.extra_json.push_back({"weights", json_string(weights_name)});
    run.report.extra_json.push_back({"candidates", json_array(candidates)});
    const family_fit chosen = best;
    run.predict = [chosen](const double* row) {
        const std::vector<double> value = evaluate_family(chosen, {row[1]});
        return value.empty() ? NAN : value[0];
    };
    run.fitted = nonlinear_fitted_model(best.model, best.fit.estimates, data.columns, {0, 1}, 1,
                                        best.fit.rss, best.fit.df, {y, x});
    return run;
}

} // namespace models

#include "nonlinear_program.h"

#include "catalogue.h"
#include "formula.h"
#include "solver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace models {

namespace {

// The report of a converged non-linear fit: no R² or F, which have no
// meaning without a linear model's decomposition of the variance.
fit_report nonlinear_report(const program_info& program, const model_data& data,
                            const std::string& response, const std::string& formula_text,
                            const nonlinear_fit& fit) {
    fit_report r;
    r.program = program.program;
    r.model = program.model;
    describe_data(data, r);
    r.response = response;
    r.formula = formula_text;
    r.n = fit.n;
    r.df = fit.df;
    const double df = static_cast<double>(fit.df);
    for (std::size_t j = 0; j < fit.parameters.size(); ++j)
        r.estimates.push_back(
            make_coefficient(fit.parameters[j], fit.estimates[j], fit.std_errors[j], df));
    r.rss = fit.rss;
    r.residual_sd = fit.df > 0 ? std::sqrt(fit.rss / df) : NAN;
    r.r_squared = r.adj_r_squared = r.f = r.f_df1 = r.f_df2 = r.f_p = NAN;
    const information info =
        gaussian_information(fit.rss, double(fit.n), static_cast<int>(fit.parameters.size()));
    r.log_likelihood = info.log_likelihood;
    r.aic = info.aic;
    r.bic = info.bic;
    r.extra_json.push_back({"converged", "true"});
    r.extra_json.push_back({"iterations", std::to_string(fit.iterations)});
    r.extra_text.push_back("Converged after " + std::to_string(fit.iterations) +
                           " evaluations of the model" +
                           (fit.restarted ? " (restarted from computed start values)." : "."));
    return r;
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

model_run run_nonlinear(const program_info& program, const options& o, model_data& data) {
    const formula_result parsed = parse_formula(o.formula, data.header.names);
    if (!parsed.ok)
        return refused_run(exit_usage, "--formula: " + parsed.error);
    const formula& f = parsed.value;
    const starts_result starts = parse_starts(o.start, f.parameters);
    if (!starts.ok)
        return refused_run(exit_usage, "--start: " + starts.error);
    // The columns the formula reads: the response's first, so that a plain
    // response column and one predictor plot as y against x.
    std::vector<int> used = f.response.columns_used();
    for (int c : f.model.columns_used())
        if (std::find(used.begin(), used.end(), c) == used.end())
            used.push_back(c);
    if (used.empty())
        return refused_run(exit_usage, "--formula: the formula names no column of the data");
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
    solver_options solving;
    solving.low_parts = &low;
    const nonlinear_fit fit = fit_nonlinear(f, columns, starts.values, solving);
    if (!fit.ok)
        return refused_run(exit_data_unusable, fit.error);
    if (!fit.converged)
        return refused_run(exit_not_fitted, "the fit did not converge: " + fit.reason);
    model_run run;
    run.report = nonlinear_report(program, data, f.response_text, o.formula, fit);
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
        return refused_run(exit_usage, "--criterion: aic, aicc or bic");
    std::vector<double> rows;
    if (!read_all_rows(data, rows))
        return refused_run(data.status, data.reason);
    std::vector<double> x(rows.size() / 2), y(rows.size() / 2);
    for (std::size_t i = 0; i < x.size(); ++i) {
        y[i] = rows[2 * i];
        x[i] = rows[2 * i + 1];
    }
    const catalogue_result result = fit_catalogue(x, y, data.name(1), data.name(0), by);
    if (!result.ok)
        return refused_run(exit_data_unusable, result.error);
    if (result.families.empty() || !result.families.front().fit.converged)
        return refused_run(exit_not_fitted, "no curve family of the catalogue could be fitted");
    const family_fit& best = result.families.front();
    model_run run;
    run.report = nonlinear_report(program, data, data.name(0), best.formula_text, best.fit);
    const char* name = o.criterion.empty() ? "aicc" : o.criterion.c_str();
    std::vector<std::string> candidates;
    std::vector<std::string>& table = run.report.preface_text;
    table.push_back(std::string("Curve families by ") + name + " (best first):");
    for (const auto& family : result.families) {
        const bool converged = family.fit.converged && !family.skipped;
        candidates.push_back("{\"family\": " + json_string(family.name) + ", \"formula\": " +
                             json_string(family.formula_text) + ", \"value\": " +
                             json_number(converged ? family.criterion_value : NAN) +
                             ", \"rss\": " + json_number(converged ? family.fit.rss : NAN) +
                             ", \"converged\": " + (converged ? "true" : "false") + "}");
        std::string line = "  " + family.name + ": ";
        line += converged ? name + std::string(" ") + short_number(family.criterion_value) +
                                ", RSS " + short_number(family.fit.rss)
                          : "not fitted" + (family.note.empty() ? "" : " (" + family.note + ")");
        table.push_back(line);
    }
    run.report.extra_json.push_back({"criterion", json_string(name)});
    run.report.extra_json.push_back({"family", json_string(best.name)});
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

#include "linear_program.h"

#include "diagnostics_report.h"
#include "formula_fit.h"
#include "pipeline.h"

#include <cmath>
#include <cstdio>

namespace models {

namespace {

std::string formula_of(const design& d, const std::vector<std::string>& terms,
                       const std::string& response) {
    std::string text = response + " ~ ";
    if (!d.intercept)
        text += "0 + ";
    const std::size_t first = d.intercept ? 1 : 0;
    if (terms.size() == first)
        return text + "1";
    for (std::size_t j = first; j < terms.size(); ++j)
        text += (j > first ? " + " : "") + terms[j];
    return text;
}

} // namespace

std::string short_number(double value, int digits) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

design linear_design(const program_info& program, const options& o, const model_data& data) {
    design d;
    d.predictors = data.predictors();
    const bool curve =
        program.kind == model_kind::curve_linear || program.kind == model_kind::best_curve;
    d.intercept = curve ? true : o.intercept;
    d.degree = curve ? o.degree : 0;
    return d;
}

std::vector<std::string> term_names(const design& d, const model_data& data) {
    std::vector<std::string> names;
    if (d.intercept)
        names.push_back("(intercept)");
    if (d.degree > 0) {
        for (int k = 1; k <= d.degree; ++k)
            names.push_back(k == 1 ? data.name(1) : data.name(1) + "^" + std::to_string(k));
    } else {
        for (int c = 1; c <= d.predictors; ++c)
            names.push_back(data.name(c));
    }
    return names;
}

fit_report linear_report(const program_info& program, const design& d, const model_data& data,
                         const least_squares_fit& fit, double level) {
    const std::vector<std::string> names = term_names(d, data);
    return linear_report(program, names, formula_of(d, names, data.name(0)), d.intercept, data, fit,
                         level);
}

fit_report linear_report(const program_info& program, const std::vector<std::string>& names,
                         const std::string& formula, bool intercept, const model_data& data,
                         const least_squares_fit& fit, double level) {
    fit_report r;
    r.program = program.program;
    r.model = program.model;
    describe_data(data, r);
    r.formula = formula;
    r.level = level;
    r.n = fit.n;
    r.df = fit.n - fit.rank;
    const double df = static_cast<double>(r.df);
    r.rss = fit.rss;
    r.residual_sd = r.df > 0 ? std::sqrt(fit.rss / df) : NAN;
    for (std::size_t j = 0; j < names.size(); ++j) {
        if (fit.aliased[j]) {
            r.aliased.push_back(names[j]);
            continue;
        }
        r.estimates.push_back(
            make_coefficient(names[j], fit.coefficients[j], fit.std_errors[j], df, level));
    }
    // Without an intercept R² and F are measured from zero, as the
    // references state them.
    r.uncentred = !intercept;
    const int tested = fit.rank - (intercept ? 1 : 0);
    r.r_squared = fit.tss > 0 ? 1.0 - fit.rss / fit.tss : NAN;
    r.adj_r_squared =
        r.df > 0 ? 1.0 - (1.0 - r.r_squared) * (double(fit.n) - (intercept ? 1 : 0)) / df : NAN;
    if (tested > 0 && r.df > 0) {
        r.f_df1 = tested;
        r.f_df2 = df;
        r.f = ((fit.tss - fit.rss) / tested) / (fit.rss / df);
        r.f_p = f_upper_tail(r.f, r.f_df1, r.f_df2);
    } else {
        r.f = r.f_df1 = r.f_df2 = r.f_p = NAN;
    }
    const information info = gaussian_information(fit.rss, double(fit.n), fit.rank);
    r.log_likelihood = info.log_likelihood;
    r.aic = info.aic;
    r.bic = info.bic;
    return r;
}

std::function<double(const double*)> linear_predictor(const design& d,
                                                      const least_squares_fit& fit) {
    // In the basis the fit used: powers of x less its shift, not of x itself.
    const std::shared_ptr<const fitted_model> model = linear_fitted_model(d, fit, {});
    return [model](const double* row) {
        double value = NAN;
        model->evaluate(row, value, nullptr);
        return value;
    };
}

bool add_linear_diagnostics(fit_report& report, const design& d, const least_squares_fit& fit,
                            const row_source& rows, std::size_t width, const fitted_model& model,
                            const std::vector<std::string>& names, bool weighted, model_data& data,
                            const std::function<void(linear_diagnostics&)>& adjust,
                            bool weighted_intercept, const split_row_source& split,
                            const range_residuals& per_range) {
    linear_diagnostics diagnostics;
    const bool read = diagnose_linear(
        d, fit, pipelined(rows, width),
        [&model](const double* row, double* gradient) {
            double value = NAN;
            model.evaluate(row, value, gradient);
            return row[0] - value;
        },
        model.triangle, diagnostics, weighted_intercept, split, per_range);
    if (!read || !data.counts.ok) {
        reading_failed(data);
        return false;
    }
    if (adjust)
        adjust(diagnostics);
    note_diagnostics(report, diagnostics, names, weighted);
    return true;
}

model_run run_linear(const program_info& program, const options& o, model_data& data) {
    const bool curve = program.kind == model_kind::curve_linear;
    if (!o.formula.empty() && !curve) {
        int status = exit_reported;
        std::string reason;
        model_terms terms = formula_terms(o.formula, data, o.weights, status, reason);
        if (!terms.ok)
            return refused_run(status, reason);
        return run_terms(program, o, data, std::move(terms));
    }
    if (!o.weights.empty() || o.anova || !o.se.empty()) {
        if (curve && data.predictors() != 1)
            return refused_run(exit_usage,
                               "the curve-linear model takes one predictor; --x names " +
                                   std::to_string(data.predictors()));
        if (!curve)
            return run_terms(program, o, data, chosen_column_terms(data, o.intercept));
        power_basis basis;
        if (!power_basis_of(data, o.degree, basis))
            return refused_run(data.status, data.reason);
        return run_terms(program, o, data, power_terms(data, basis), nullptr, basis);
    }
    // Plain numeric columns: the fit as it always was. A column that turns
    // out to hold text is categorical: the terms' fit takes over.
    bool text_column = false;
    scan_hooks notice_text = text_noticer(text_column);
    if (!curve)
        data.hooks = &notice_text;
    model_run run = run_numeric_linear(program, o, data);
    data.hooks = nullptr;
    if (text_column)
        return run_terms(program, o, data, chosen_column_terms(data, o.intercept));
    return run;
}

model_run run_numeric_linear(const program_info& program, const options& o, model_data& data) {
    model_run run;
    const design d = linear_design(program, o, data);
    if (d.degree > 0 && d.predictors != 1) {
        run.status = exit_usage;
        run.reason =
            "the curve-linear model takes one predictor; --x names " + std::to_string(d.predictors);
        return run;
    }
    const least_squares_fit fit = fit_least_squares(
        d, pipelined(rows_of(data), data.columns.size()), split_rows_of(data, o.threads));
    if (!data.counts.ok) {
        reading_failed(data);
        run.status = data.status;
        run.reason = data.reason;
        return run;
    }
    if (!fit.ok) {
        const bool too_few = fit.error.rfind("too few", 0) == 0;
        run.status = too_few ? exit_data_unusable : exit_not_fitted;
        run.reason = fit.error;
        return run;
    }
    run.report = linear_report(program, d, data, fit, o.level);
    run.predict = linear_predictor(d, fit);
    run.fitted = linear_fitted_model(d, fit, data.columns);
    // Without diagnostics the fit's one read is the whole run.
    if (!o.diagnostics)
        return run;
    // With --save, the diagnostics are taken in the save's pass.
    if (!o.save.empty()) {
        const std::shared_ptr<const fitted_model> model = run.fitted;
        const std::vector<std::string> names = term_names(d, data);
        const bool weighted = !o.weights.empty();
        run.diagnose_from = [d, fit, model, names, weighted](const residual_sums& sums,
                                                             fit_report& report) {
            linear_diagnostics diagnostics;
            if (!finish_linear_diagnostics(d, fit, sums, model->triangle, diagnostics))
                return false;
            note_diagnostics(report, diagnostics, names, weighted);
            return true;
        };
        return run;
    }
    // The diagnostics' pass on every thread, each range with a model of its own.
    const std::vector<std::size_t> columns = data.columns;
    const range_residuals per_range = [d, fit, columns]() -> row_residual {
        const std::shared_ptr<const fitted_model> model = linear_fitted_model(d, fit, columns);
        return [model](const double* row, double* gradient) {
            double value = NAN;
            model->evaluate(row, value, gradient);
            return row[0] - value;
        };
    };
    if (!add_linear_diagnostics(run.report, d, fit, rows_of(data), data.columns.size(), *run.fitted,
                                term_names(d, data), !o.weights.empty(), data, nullptr, false,
                                split_rows_of(data, o.threads), per_range))
        return refused_run(data.status, data.reason);
    return run;
}

} // namespace models

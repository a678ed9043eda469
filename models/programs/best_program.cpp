#include "best_program.h"

#include "criteria.h"
#include "degree.h"
#include "linear_program.h"
#include "pipeline.h"
#include "subsets.h"

#include <cmath>
#include <cstdio>

namespace models {

namespace {

// Fits the chosen model as the linear or curve-linear program would and
// names it the best model.
model_run fit_chosen(const program_info& program, const options& o, model_data& data,
                     model_kind as) {
    const program_info* plain = program_numbered(as == model_kind::linear ? 1 : 3);
    model_run run = run_linear(*plain, o, data);
    run.report.program = program.program;
    run.report.model = program.model;
    return run;
}

} // namespace

model_run run_best_linear(const program_info& program, const options& o, model_data& data) {
    subset_criterion by = subset_criterion::bic;
    if (!o.criterion.empty()) {
        const auto parsed = parse_subset_criterion(o.criterion);
        if (!parsed)
            return refused_run(exit_usage, "--criterion: aic, aicc, bic, cp or adjr2");
        by = *parsed;
    }
    // The full model's triangle holds every subset's residual sum of squares.
    const design d{data.predictors(), o.intercept, 0};
    const least_squares_fit full =
        fit_least_squares(d, pipelined(rows_of(data), data.columns.size()));
    if (!data.counts.ok) {
        reading_failed(data);
        return refused_run(data.status, data.reason);
    }
    if (!full.ok)
        return refused_run(
            full.error.rfind("too few", 0) == 0 ? exit_data_unusable : exit_not_fitted, full.error);
    subset_options search;
    search.forced = o.intercept ? 1 : 0;
    if (data.work_progress)
        search.progress = [&data](const subset_progress& p) {
            data.work_progress("searching the subsets", p.fraction);
            return true;
        };
    const subset_result found = best_subsets(full.triangle, search);
    if (data.work_progress)
        data.work_progress("searching the subsets", 1.0);
    if (found.status != subset_status::ok)
        return refused_run(exit_not_fitted, "the subset search failed: " + found.message);
    const subset_context context = context_of(found, double(full.n), search.forced);
    const std::vector<ranked_subset> ranked = rank_subsets(found, context, by);
    if (ranked.empty())
        return refused_run(exit_not_fitted, "no subset could be ranked");

    // The chosen subset, fitted and reported as the linear model is.
    const std::vector<std::size_t> all = data.columns;
    std::vector<std::string> candidates;
    std::vector<std::string> lines = {std::string("Best subset of each size, by ") +
                                      criterion_name(by) + " (best first):"};
    for (const auto& r : ranked) {
        std::vector<std::string> names;
        std::string listed;
        for (int t : r.model.terms) {
            names.push_back(json_string(data.name(t + 1)));
            listed += (listed.empty() ? "" : " ") + data.name(t + 1);
        }
        const double value = score_value(r.scores, by);
        candidates.push_back("{\"terms\": " + json_array(names) +
                             ", \"k\": " + std::to_string(r.model.terms.size()) + ", \"rss\": " +
                             json_number(r.model.rss) + ", \"value\": " + json_number(value) + "}");
        lines.push_back("  k=" + std::to_string(r.model.terms.size()) + "  RSS " +
                        short_number(r.model.rss) + "  " + criterion_name(by) + " " +
                        short_number(value) + "  " + listed);
    }
    data.columns = {all[0]};
    for (int t : ranked.front().model.terms)
        data.columns.push_back(all[t + 1]);
    model_run run = fit_chosen(program, o, data, model_kind::linear);
    data.columns = all;
    if (run.status != exit_reported)
        return run;
    run.report.extra_json.push_back({"criterion", json_string(criterion_name(by))});
    run.report.extra_json.push_back({"candidates", json_array(candidates)});
    run.report.preface_text = lines;
    // The plot reads the rows again with every candidate column: the fitted
    // value uses the chosen ones only.
    std::vector<int> positions;
    for (int t : ranked.front().model.terms)
        positions.push_back(t + 1);
    const auto fitted = run.predict;
    run.predict = [fitted, positions](const double* row) {
        std::vector<double> chosen_row = {row[0]};
        for (int p : positions)
            chosen_row.push_back(row[p]);
        return fitted(chosen_row.data());
    };
    return run;
}

model_run run_best_curve(const program_info& program, const options& o, model_data& data) {
    if (data.predictors() != 1)
        return refused_run(exit_usage,
                           "the best curve-linear model takes one predictor; --x names " +
                               std::to_string(data.predictors()));
    degree_criterion by = degree_criterion::cv;
    if (!o.criterion.empty()) {
        const auto parsed = parse_degree_criterion(o.criterion);
        if (!parsed)
            return refused_run(exit_usage, "--criterion: aic, aicc, bic or cv");
        by = *parsed;
    }
    std::vector<double> rows;
    if (!read_all_rows(data, rows))
        return refused_run(data.status, data.reason);
    std::vector<double> x(rows.size() / 2), y(rows.size() / 2);
    for (std::size_t i = 0; i < x.size(); ++i) {
        y[i] = rows[2 * i];
        x[i] = rows[2 * i + 1];
    }
    const degree_choice choice = choose_degree(x, y, o.max_degree, by);
    if (!choice.ok)
        return refused_run(exit_data_unusable, choice.error);
    if (choice.chosen == 0)
        return refused_run(exit_not_fitted, "the criterion applies to no degree");
    const char* name = o.criterion.empty() ? "cv" : o.criterion.c_str();
    std::vector<std::string> candidates;
    std::vector<std::string> lines = {std::string("Degrees by ") + name + ":"};
    for (const auto& fit : choice.fits) {
        double value = NAN;
        if (fit.available) {
            switch (by) {
            case degree_criterion::aic:
                value = fit.aic;
                break;
            case degree_criterion::aicc:
                value = fit.aicc;
                break;
            case degree_criterion::bic:
                value = fit.bic;
                break;
            case degree_criterion::cv:
                value = fit.cv_applicable ? fit.cv : NAN;
                break;
            }
        }
        candidates.push_back("{\"degree\": " + std::to_string(fit.degree) +
                             ", \"rss\": " + json_number(fit.available ? fit.rss : NAN) +
                             ", \"value\": " + json_number(value) + "}");
        lines.push_back("  degree " + std::to_string(fit.degree) + ": " +
                        (fit.available ? "RSS " + short_number(fit.rss) + "  " + name + " " +
                                             short_number(value)
                                       : "left out (" + fit.reason + ")") +
                        (fit.degree == choice.chosen ? "  <- chosen" : ""));
    }
    options chosen = o;
    chosen.degree = choice.chosen;
    model_run run = fit_chosen(program, chosen, data, model_kind::curve_linear);
    if (run.status != exit_reported)
        return run;
    run.report.extra_json.push_back({"criterion", json_string(name)});
    run.report.extra_json.push_back({"degree", std::to_string(choice.chosen)});
    run.report.extra_json.push_back({"candidates", json_array(candidates)});
    run.report.preface_text = lines;
    return run;
}

} // namespace models

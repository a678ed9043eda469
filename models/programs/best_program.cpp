#include "best_program.h"

#include "criteria.h"
#include "degree.h"
#include "linear_program.h"
#include "pipeline.h"
#include "subsets.h"

#include <algorithm>
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

// The candidate terms named by --force-in (commas between names), as
// 0-based predictor indices; false with a message naming an unknown one.
bool forced_in_terms(const model_data& data, const std::string& text, std::vector<int>& terms,
                     std::string& error) {
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t to = text.find(',', from);
        if (to == std::string::npos)
            to = text.size();
        std::string name = text.substr(from, to - from);
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        from = to + 1;
        if (name.empty())
            continue;
        int found = -1;
        std::string known;
        for (int t = 0; t < static_cast<int>(data.predictors()); ++t) {
            if (data.name(t + 1) == name)
                found = t;
            known += (t ? ", " : "") + data.name(t + 1);
        }
        if (found < 0) {
            error = "--force-in: \"" + name + "\" is not a candidate; the candidates are " + known;
            return false;
        }
        if (std::find(terms.begin(), terms.end(), found) == terms.end())
            terms.push_back(found);
    }
    return true;
}

} // namespace

model_run run_best_linear(const program_info& program, const options& o, model_data& data) {
    subset_criterion by = criterion_id::bic;
    if (!o.criterion.empty()) {
        const auto parsed = criterion_named(o.criterion, subset_criteria);
        if (!parsed)
            return refused_run(exit_usage, "--criterion: " + criteria_list(subset_criteria, ", "));
        by = *parsed;
    }
    subset_options search;
    std::string error;
    if (!forced_in_terms(data, o.force_in, search.force_in, error))
        return refused_run(exit_usage, error);
    if (!search.force_in.empty() &&
        search.force_in.size() == static_cast<std::size_t>(data.predictors()))
        return refused_run(exit_usage,
                           "--force-in keeps every candidate: there is nothing to choose");
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
    search.forced = o.intercept ? 1 : 0;
    search.nbest = o.nbest;
    search.threads = o.threads;
    if (data.work_progress) {
        // Shown at once (0%), then about every half second.
        data.work_progress("searching the subsets", 0.0);
        search.progress_seconds = 0.5;
        search.progress = [&data](const subset_progress& p) {
            data.work_progress("searching the subsets", p.fraction);
            return true;
        };
    }
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
    const bool several = o.nbest > 1;
    std::vector<std::string> lines = {std::string("Best subset") + (several ? "s" : "") +
                                      " of each size, by " + criterion_label(by) +
                                      " (best first):"};
    for (const auto& r : ranked) {
        std::vector<std::string> names;
        std::string listed;
        for (int t : r.model.terms) {
            names.push_back(json_string(data.name(t + 1)));
            listed += (listed.empty() ? "" : " ") + data.name(t + 1);
        }
        const double value = score_value(r.scores, by);
        candidates.push_back("{\"terms\": " + json_array(names) +
                             ", \"k\": " + std::to_string(r.model.terms.size()) + ", \"place\": " +
                             std::to_string(r.place) + ", \"rss\": " + json_number(r.model.rss) +
                             ", \"value\": " + json_number(value) + "}");
        lines.push_back("  k=" + std::to_string(r.model.terms.size()) +
                        (several ? " #" + std::to_string(r.place) : "") + "  RSS " +
                        short_number(r.model.rss) + "  " + criterion_label(by) + " " +
                        short_number(value) + "  " + listed);
    }
    data.columns = {all[0]};
    for (int t : ranked.front().model.terms)
        data.columns.push_back(all[t + 1]);
    model_run run = fit_chosen(program, o, data, model_kind::linear);
    data.columns = all;
    if (run.status != exit_reported)
        return run;
    run.report.extra_json.push_back({"criterion", json_string(criterion_label(by))});
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
    degree_criterion by = criterion_id::cv;
    if (!o.criterion.empty()) {
        const auto parsed = criterion_named(o.criterion, degree_criteria);
        if (!parsed)
            return refused_run(exit_usage, "--criterion: " + criteria_list(degree_criteria, ", "));
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
    const char* name = criterion_label(by);
    std::vector<std::string> candidates;
    std::vector<std::string> lines = {std::string("Degrees by ") + name + ":"};
    for (const auto& fit : choice.fits) {
        double value = NAN;
        if (fit.available) {
            value = by == criterion_id::aic    ? fit.aic
                    : by == criterion_id::aicc ? fit.aicc
                    : by == criterion_id::bic  ? fit.bic
                    : fit.cv_applicable        ? fit.cv
                                               : NAN;
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

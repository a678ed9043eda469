#include "best_program.h"

#include "anova.h"
#include "criteria.h"
#include "degree.h"
#include "formula_fit.h"
#include "linear_program.h"
#include "pipeline.h"
#include "subsets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

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

// A term's name as --force-in matches it: without spaces, so that
// "I(2*x)" names the term the formula shows as "I(2 * x)".
std::string unspaced(std::string name) {
    name.erase(
        std::remove_if(name.begin(), name.end(), [](char c) { return c == ' ' || c == '\t'; }),
        name.end());
    return name;
}

// The candidate terms named by --force-in (commas between names), as
// 0-based indices into names; false with a message naming an unknown one.
bool forced_in_terms(const std::vector<std::string>& names, const std::string& text,
                     std::vector<int>& terms, std::string& error) {
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
        const auto at = std::find_if(names.begin(), names.end(), [&name](const std::string& n) {
            return unspaced(n) == unspaced(name);
        });
        if (at == names.end()) {
            std::string known;
            for (const std::string& n : names)
                known += (known.empty() ? "" : ", ") + n;
            error = "--force-in: \"" + name + "\" is not a candidate; the candidates are " + known;
            return false;
        }
        const int found = static_cast<int>(at - names.begin());
        if (std::find(terms.begin(), terms.end(), found) == terms.end())
            terms.push_back(found);
    }
    if (!terms.empty() && terms.size() == names.size()) {
        error = "--force-in keeps every candidate: there is nothing to choose";
        return false;
    }
    return true;
}

// The subsets of the triangle's candidates ranked by the criterion, the
// search's progress shown on the data's sink; empty with a refusal in run
// when there are none.
std::vector<ranked_subset> ranked_subsets(const Eigen::MatrixXd& triangle, subset_options search,
                                          double n, subset_criterion by, model_data& data,
                                          model_run& run) {
    if (data.work_progress) {
        // Shown at once (0%), then about every half second.
        data.work_progress("searching the subsets", 0.0);
        search.progress_seconds = 0.5;
        search.progress = [&data](const subset_progress& p) {
            data.work_progress("searching the subsets", p.fraction);
            return true;
        };
    }
    const subset_result found = best_subsets(triangle, search);
    if (data.work_progress)
        data.work_progress("searching the subsets", 1.0);
    if (found.status != subset_status::ok) {
        run = refused_run(exit_not_fitted, "the subset search failed: " + found.message);
        return {};
    }
    const subset_context context = context_of(found, n, search.forced);
    std::vector<ranked_subset> ranked = rank_subsets(found, context, by);
    if (ranked.empty())
        run = refused_run(exit_not_fitted, "no subset could be ranked");
    return ranked;
}

// The ranked subsets as the report lists them (names: the candidates'),
// and the chosen model's report named as the best model's.
void report_candidates(const program_info& program, const std::vector<ranked_subset>& ranked,
                       const std::vector<std::string>& names, subset_criterion by, bool several,
                       model_run& run) {
    std::vector<std::string> candidates;
    std::vector<std::string> lines = {std::string("Best subset") + (several ? "s" : "") +
                                      " of each size, by " + criterion_label(by) +
                                      " (best first):"};
    for (const auto& r : ranked) {
        std::vector<std::string> quoted;
        std::string listed;
        for (int t : r.model.terms) {
            quoted.push_back(json_string(names[static_cast<std::size_t>(t)]));
            listed += (listed.empty() ? "" : " ") + names[static_cast<std::size_t>(t)];
        }
        const double value = score_value(r.scores, by);
        candidates.push_back("{\"terms\": " + json_array(quoted) +
                             ", \"k\": " + std::to_string(r.model.terms.size()) + ", \"place\": " +
                             std::to_string(r.place) + ", \"rss\": " + json_number(r.model.rss) +
                             ", \"value\": " + json_number(value) + "}");
        lines.push_back("  k=" + std::to_string(r.model.terms.size()) +
                        (several ? " #" + std::to_string(r.place) : "") + "  RSS " +
                        short_number(r.model.rss) + "  " + criterion_label(by) + " " +
                        short_number(value) + "  " + listed);
    }
    run.report.program = program.program;
    run.report.model = program.model;
    run.report.extra_json.push_back({"criterion", json_string(criterion_label(by))});
    run.report.extra_json.push_back({"candidates", json_array(candidates)});
    run.report.preface_text = lines;
}

// The best subset of a model's terms: the search runs on the triangle of
// the whole design (weighted when asked), each term's columns entering
// and leaving together, the intercept in every subset. Every term is a
// candidate on its own (an interaction may be chosen without its main
// effects). The chosen terms are then fitted as the linear model fits
// their formula.
model_run run_best_terms(const program_info& program, const options& o, model_data& data,
                         const model_terms& terms, subset_criterion by) {
    std::vector<std::string> labels;
    for (const auto& t : terms.terms)
        labels.push_back(t.label);
    if (labels.empty())
        return refused_run(exit_usage, "the model has no terms to choose among");
    subset_options search;
    std::string error;
    if (!forced_in_terms(labels, o.force_in, search.force_in, error))
        return refused_run(exit_usage, error);
    const program_info& linear = *program_numbered(1);
    terms_design full;
    const model_run fitted = run_terms(linear, o, data, terms, &full);
    if (fitted.status != exit_reported)
        return fitted;
    // The columns of each term the fit kept: a term wholly aliased with
    // earlier ones is no candidate.
    std::vector<int> kept_columns(labels.size(), 0);
    search.forced = 0;
    for (std::size_t j = 0; j < full.column_terms.size(); ++j) {
        if (full.fit.aliased[j])
            continue;
        const int t = full.column_terms[j];
        ++(t < 0 ? search.forced : kept_columns[static_cast<std::size_t>(t)]);
    }
    std::vector<int> candidate_terms;
    std::vector<std::string> names;
    std::string aliased;
    for (std::size_t t = 0; t < labels.size(); ++t) {
        if (kept_columns[t] == 0) {
            aliased += (aliased.empty() ? "" : ", ") + labels[t];
            continue;
        }
        candidate_terms.push_back(static_cast<int>(t));
        names.push_back(labels[t]);
        search.widths.push_back(kept_columns[t]);
    }
    for (int& t : search.force_in) {
        const auto at = std::find(candidate_terms.begin(), candidate_terms.end(), t);
        if (at == candidate_terms.end())
            return refused_run(exit_not_fitted, "--force-in: \"" +
                                                    labels[static_cast<std::size_t>(t)] +
                                                    "\" is aliased with the terms before it");
        t = static_cast<int>(at - candidate_terms.begin());
    }
    if (names.empty() || search.force_in.size() == names.size())
        return refused_run(exit_not_fitted, "no term is left to choose: the others are aliased");
    search.nbest = o.nbest;
    search.threads = o.threads;
    model_run run;
    std::vector<ranked_subset> ranked =
        ranked_subsets(kept_triangle(full.fit.triangle, full.fit.aliased), search,
                       double(full.fit.n), by, data, run);
    if (ranked.empty())
        return run;
    // The weights' term of the likelihood, as the chosen model's report
    // counts it: the same for every subset, so it changes no ranking.
    for (ranked_subset& r : ranked) {
        r.scores.aic -= full.sum_log_weights;
        r.scores.aicc -= full.sum_log_weights;
        r.scores.bic -= full.sum_log_weights;
    }

    std::vector<int> chosen;
    for (int t : ranked.front().model.terms)
        chosen.push_back(candidate_terms[static_cast<std::size_t>(t)]);
    run = run_terms(linear, o, data, terms_subset(terms, chosen));
    if (run.status != exit_reported)
        return run;
    report_candidates(program, ranked, names, by, o.nbest > 1, run);
    if (!aliased.empty())
        run.report.preface_text.push_back("Left out, as aliased with the terms before them: " +
                                          aliased);
    // Alone, an interaction without its main effects (or a factor without
    // the intercept) is coded by a column for every level, as the formula
    // of the chosen terms codes it: the fit then has more columns than the
    // search gave those terms.
    const std::size_t searched =
        static_cast<std::size_t>(search.forced + ranked.front().model.columns);
    const std::size_t fitted_columns = run.report.estimates.size() + run.report.aliased.size();
    if (fitted_columns != searched)
        run.report.extra_text.push_back(
            "Note: the chosen terms, fitted as their own formula, take " +
            std::to_string(fitted_columns) + " coefficients; the search gave them " +
            std::to_string(searched) + " (a term coded alone by every level)");
    return run;
}

std::optional<subset_criterion> criterion_of(const options& o) {
    if (o.criterion.empty())
        return criterion_id::bic;
    return criterion_named(o.criterion, subset_criteria);
}

} // namespace

model_run run_best_linear(const program_info& program, const options& o, model_data& data) {
    const std::optional<subset_criterion> criterion = criterion_of(o);
    if (!criterion)
        return refused_run(exit_usage, "--criterion: " + criteria_list(subset_criteria, ", "));
    const subset_criterion by = *criterion;
    if (!o.formula.empty()) {
        int status = exit_reported;
        std::string reason;
        const model_terms terms = formula_terms(o.formula, data, o.weights, status, reason);
        if (!terms.ok)
            return refused_run(status, reason);
        return run_best_terms(program, o, data, terms, by);
    }
    if (!o.weights.empty())
        return run_best_terms(program, o, data, chosen_column_terms(data, o.intercept), by);

    // Numeric columns: each is a candidate. A column that turns out to hold
    // text is categorical: the terms' search takes over.
    std::vector<std::string> names;
    for (int t = 0; t < data.predictors(); ++t)
        names.push_back(data.name(t + 1));
    subset_options search;
    std::string error;
    if (!forced_in_terms(names, o.force_in, search.force_in, error))
        return refused_run(exit_usage, error);
    // The full model's triangle holds every subset's residual sum of squares.
    const design d{data.predictors(), o.intercept, 0};
    bool text_column = false;
    scan_hooks notice_text = text_noticer(text_column);
    data.hooks = &notice_text;
    const least_squares_fit full = fit_least_squares(
        d, pipelined(rows_of(data), data.columns.size()), split_rows_of(data, o.threads));
    data.hooks = nullptr;
    if (text_column)
        return run_best_terms(program, o, data, chosen_column_terms(data, o.intercept), by);
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
    model_run run;
    const std::vector<ranked_subset> ranked =
        ranked_subsets(full.triangle, search, double(full.n), by, data, run);
    if (ranked.empty())
        return run;

    // The chosen subset, fitted and reported as the linear model is.
    const std::vector<std::size_t> all = data.columns;
    data.columns = {all[0]};
    for (int t : ranked.front().model.terms)
        data.columns.push_back(all[t + 1]);
    run = fit_chosen(program, o, data, model_kind::linear);
    data.columns = all;
    if (run.status != exit_reported)
        return run;
    report_candidates(program, ranked, names, by, o.nbest > 1, run);
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

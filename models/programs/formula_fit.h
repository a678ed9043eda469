// Linear models beyond plain numeric columns: a formula's terms with
// categorical columns, interactions and transforms; case weights; the
// sequential analysis of variance; heteroskedasticity-consistent standard
// errors; intervals at any level. The rows are read as the chosen columns
// (text levels coded as ids), expanded into design columns and fitted by
// the streamed least squares; a column whose text shows it is categorical
// costs one pass to gather its levels first.
#pragma once

#include "model_data.h"
#include "model_run.h"
#include "model_terms.h"

#include <string>

namespace models {

// The terms of --formula (status and reason set when it cannot be used:
// exit 2 when malformed, exit 1 when a column is missing).
model_terms formula_terms(const std::string& formula, const model_data& data,
                          const std::string& weights, int& status, std::string& reason);

// For a question that takes a formula (the dialogue's predictors): empty
// when text is a formula over these columns, else why not ("--formula: at
// character 9: expected ..." or the unknown column, with the columns).
std::string formula_problem(const std::string& text, const std::vector<std::string>& names);

// The terms of the powers 1..degree of data's one predictor ("x", "x^2").
model_terms power_terms(const model_data& data, int degree);

// The fit of a model's whole design, for a search among its terms.
struct terms_design {
    // Its triangle is of [the intercept's column (weighted: the weights'
    // roots) | the design columns | y].
    least_squares_fit fit;
    std::vector<int> column_terms; // per coefficient: its term, -1 for the intercept
    double sum_log_weights = 0;    // the weights' own term of -2 log-likelihood (0 unweighted)
};

// Fits the terms to the data as the options say (weights, anova, se,
// level) and reports the fit as program. With design_only, the fit of the
// design goes there and nothing is reported (the status says whether it
// was fitted).
model_run run_terms(const program_info& program, const options& o, model_data& data,
                    model_terms terms, terms_design* design_only = nullptr);

// Whether the options ask for what only run_terms gives.
bool needs_terms(const options& o);

} // namespace models

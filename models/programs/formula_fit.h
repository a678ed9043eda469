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

// The basis a polynomial's powers are fitted in: powers of
// t = (x - centre) / scale, with the centre the middle of x's range and the
// scale a power of two just above its half-width, so that t is formed
// without rounding (for x within a factor two of the centre) and lies in
// [-1, 1]. Raw powers of calendar years are near-collinear columns that
// lose every digit; the powers of t are well conditioned, and the
// coefficients of the raw powers follow from theirs by the binomial
// theorem.
struct power_basis {
    int degree = 0; // 0: not a polynomial
    double centre = 0;
    double scale = 1;
};

// The basis for data's one predictor, from a pass over the rows; false with
// data.status and reason set when they cannot be read.
bool power_basis_of(model_data& data, int degree, power_basis& basis);

// The terms of the columns --y and --x chose: the response, then one term
// per predictor column (categorical where its fields hold text).
model_terms chosen_column_terms(const model_data& data, bool intercept);

// Hooks for a numeric fit's read of the chosen columns: the first field
// of text is noted in text_found and refused (the read stops there), so
// that the terms' fit, which codes text as categories, can take over.
scan_hooks text_noticer(bool& text_found);

// The terms of the powers 1..degree of t (named "x", "x^2", ... after the
// predictor).
model_terms power_terms(const model_data& data, const power_basis& basis);

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
// was fitted). With powers (from power_terms), the coefficients, standard
// errors and robust covariance are reported for the raw powers of x; the
// analysis of variance, the fitted values and every prediction stay in the
// basis of t.
model_run run_terms(const program_info& program, const options& o, model_data& data,
                    model_terms terms, terms_design* design_only = nullptr,
                    const power_basis& powers = {});

// Whether the options ask for what only run_terms gives.
bool needs_terms(const options& o);

} // namespace models

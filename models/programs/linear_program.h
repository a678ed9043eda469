// The linear and the curve-linear model: least squares on the chosen
// predictors, or on the powers 1..degree of one predictor.
#pragma once

#include "diagnostics.h"
#include "least_squares.h"
#include "model_data.h"
#include "model_run.h"

#include <functional>
#include <string>
#include <vector>

namespace models {

// Fits model 1 (linear) or 3 (curve-linear) to the data as the options say.
model_run run_linear(const program_info& program, const options& o, model_data& data);

// The same on numeric columns only, as chosen (no formula, weights or text).
model_run run_numeric_linear(const program_info& program, const options& o, model_data& data);

// The design the options give for the data.
design linear_design(const program_info& program, const options& o, const model_data& data);

// Names of the design's terms: "(intercept)", the predictors' column names,
// or powers of the one predictor ("temp", "temp^2", ...).
std::vector<std::string> term_names(const design& d, const model_data& data);

// The report of a least-squares fit: coefficient table, residual SD, R²
// (uncentred without an intercept), F, log-likelihood, AIC, BIC, aliased.
fit_report linear_report(const program_info& program, const design& d, const model_data& data,
                         const least_squares_fit& fit, double level = 0.95);

// The same for coefficients with the given names (the intercept first when
// there is one) and the formula as written.
fit_report linear_report(const program_info& program, const std::vector<std::string>& names,
                         const std::string& formula, bool intercept, const model_data& data,
                         const least_squares_fit& fit, double level);

// The fitted value of a least-squares fit at a row [y, x1..xk].
std::function<double(const double*)> linear_predictor(const design& d,
                                                      const least_squares_fit& fit);

// The diagnostics of a fit of d into its report, from one more pass over the
// rows (width values each) the source sends; each row's residual and
// gradient from model, the same fit taken as a fitted model of those rows.
// names: the design's terms; adjust, when set, amends the diagnostics before
// they are noted (a basis other than the reported terms'); weighted_intercept:
// the design's first column is a weighted fit's intercept, sqrt(w). False with
// data.status and reason set when the rows could not be read again.
bool add_linear_diagnostics(fit_report& report, const design& d, const least_squares_fit& fit,
                            const row_source& rows, std::size_t width, const fitted_model& model,
                            const std::vector<std::string>& names, bool weighted, model_data& data,
                            const std::function<void(linear_diagnostics&)>& adjust = nullptr,
                            bool weighted_intercept = false, const split_row_source& split = {},
                            const range_residuals& per_range = {});

} // namespace models

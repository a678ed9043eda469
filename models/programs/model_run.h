// What a model program's run gives: the report, or why there is none, and
// the fitted model for the plot.
#pragma once

#include "diagnostics.h"
#include "fitted_model.h"
#include "program_options.h"
#include "report.h"

#include <functional>
#include <memory>
#include <string>

namespace models {

struct model_run {
    int status = exit_reported;
    std::string reason; // one line, when status is not exit_reported
    fit_report report;
    // The fitted value at a row [y, x1..xk] of the chosen columns; empty
    // when nothing was fitted.
    std::function<double(const double* row)> predict;
    // The observed side at such a row: the response as the model's left
    // side transforms it (log(y) for "log(y) ~ ..."); empty: the row's y.
    std::function<double(const double* row)> observed;
    // The fitted model taken further: saved values, influence, predictions.
    std::shared_ptr<const fitted_model> fitted;
    // Set when the report's diagnostics wait for the --save pass, which
    // reads every fitted row anyway: notes them into the report from that
    // pass's sums; false when the sums are not of every fitted row.
    std::function<bool(const residual_sums& sums, fit_report& report)> diagnose_from;
};

// A run that ends with a status and its reason.
inline model_run refused_run(int status, const std::string& reason) {
    model_run run;
    run.status = status;
    run.reason = reason;
    return run;
}

// A number for a table of candidates: digits significant digits.
std::string short_number(double value, int digits = 7);

} // namespace models

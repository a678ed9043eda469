// What a model program's run gives: the report, or why there is none, and
// the fitted model for the plot.
#pragma once

#include "program_options.h"
#include "report.h"

#include <functional>
#include <string>

namespace models {

struct model_run {
    int status = exit_reported;
    std::string reason; // one line, when status is not exit_reported
    fit_report report;
    // The fitted value at a row [y, x1..xk] of the chosen columns; empty
    // when nothing was fitted.
    std::function<double(const double* row)> predict;
};

} // namespace models

// The best linear model (the exact best subset of the predictors for every
// size, the size chosen by a criterion) and the best curve-linear model (the
// polynomial degree chosen by a criterion).
#pragma once

#include "model_data.h"
#include "model_run.h"

namespace models {

model_run run_best_linear(const program_info& program, const options& o, model_data& data);
model_run run_best_curve(const program_info& program, const options& o, model_data& data);

} // namespace models

// The non-linear model (a formula with start values) and the best
// non-linear model (a catalogue of curve families, each self-started,
// ranked by an information criterion).
#pragma once

#include "model_data.h"
#include "model_run.h"

namespace models {

model_run run_nonlinear(const program_info& program, const options& o, model_data& data);
model_run run_best_nonlinear(const program_info& program, const options& o, model_data& data);

} // namespace models

// The non-linear model (a formula with start values) and the best
// non-linear model (a catalogue of curve families, each self-started,
// ranked by an information criterion).
#pragma once

#include "model_data.h"
#include "model_run.h"

#include <string>
#include <vector>

namespace models {

model_run run_nonlinear(const program_info& program, const options& o, model_data& data);
model_run run_best_nonlinear(const program_info& program, const options& o, model_data& data);

// What the question for start values offers for a formula of the file's
// columns: the formula's parameters and, where its right side is a family
// of the best non-linear model's catalogue in other names (rate ~
// Vm*conc/(K+conc)), that family's self-start on the file's rows (at most
// 2 * offered_rows of them, evenly spread over the file), as an answer to
// the question ("Vm=213, K=0.0641"). values is empty where the formula is
// no family, or the rows cannot be read or the family not fitted.
constexpr std::size_t offered_rows = 1000;
struct start_offer {
    std::vector<std::string> parameters;
    std::string values;
};
start_offer offer_starts(byte_source& file, const data_header& header,
                         const std::string& formula_text, const progress_sink& progress = nullptr);

} // namespace models

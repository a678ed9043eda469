// The picture of a finished run: its rows streamed once more through the
// fitted model into a plot model.
#pragma once

#include "model_data.h"
#include "model_run.h"
#include "plot_model.h"

#include <memory>

namespace models {

// The plot of the run's fit over the data's rows; null when the rows cannot
// be read again (data.reason then says why).
std::unique_ptr<plot_model> plot_of(const model_run& run, model_data& data);

} // namespace models

// The plot window of the model programs (Windows only): shows a fit's
// picture, redrawn at the window's size, until the user closes it.
#pragma once

#include "plot_model.h"

namespace models {

// Shows a top-level window titled after the model ("trelvane plot: linear
// model") that draws the model's scene at its client size, and runs the
// messages of the calling thread until the window is gone: Escape or the
// close box end it, and the caller (a console dialogue) goes on. Returns 0
// when the user closed it, 1 when the window could not be made. The model
// must not change while the window is shown.
int show_plot_window(const plot_model& model);

} // namespace models

// The diagnostics of a linear fit in its report: the text lines and the
// JSON member "diagnostics".
#pragma once

#include "diagnostics.h"
#include "report.h"

#include <string>
#include <vector>

namespace models {

// names: the design's term names; weighted: Durbin-Watson is left out (it
// is defined for unweighted fits).
void note_diagnostics(fit_report& report, const linear_diagnostics& diagnostics,
                      const std::vector<std::string>& names, bool weighted);

} // namespace models

// What a fitted model says about one row, from its gradient g and the
// triangle R (R'R = X'WX, or J'WJ at a non-linear solution), as R's lm
// tools compute them for an ordinary or weighted linear model (and, through
// the Jacobian, the linearised hat matrix of a non-linear one):
//   leverage        h = w |R^-T g|^2                          (hatvalues)
//   std residual    sqrt(w) e / (sigma sqrt(1 - h))            (rstandard)
//   Cook's distance std^2 h / (p (1 - h))                      (cooks.distance)
//   se of the fit   sigma |R^-T g|                             (predict se.fit)
//   intervals       fit ± t se, fit ± t sqrt(se^2 + sigma^2)   (predict.lm; a
//                   new case has weight 1; delta method when non-linear)
// Values that do not exist (h = 1, no residual degrees of freedom) are NaN.
#pragma once

#include "fitted_model.h"

#include <vector>

namespace models {

struct row_influence {
    bool ok = false; // false: the model could not be evaluated at the row
    double fitted = 0;
    double residual = 0; // observed less fitted, unweighted
    double std_residual = 0;
    double leverage = 0;
    double cooks_distance = 0;
};

struct row_prediction {
    bool ok = false;
    double fit = 0;
    double se_fit = 0;
    double ci_low = 0, ci_high = 0; // the mean at the row
    double pi_low = 0, pi_high = 0; // a new observation at the row
};

// Evaluates rows of one fitted model; holds the work space, so one per thread.
class influence_meter {
  public:
    // level: of the intervals (0.95: 95%).
    influence_meter(const fitted_model& model, double level = 0.95);

    row_influence influence(const double* row);
    row_prediction prediction(const double* row);
    // After influence() or prediction() of a row: its gradient solved
    // against the triangle, u with R'u = g (model.p() values).
    const std::vector<double>& projected() const { return gradient_; }

  private:
    // The fitted value and |R^-T g|^2; false when not evaluable.
    bool project(const double* row, double& fitted, double& squared);

    const fitted_model& model_;
    double t_;
    std::vector<double> gradient_;
};

} // namespace models

// The best non-linear model: a catalogue of curve families for one response
// and one predictor, each fitted from starting values computed from the data,
// ranked by an information criterion.
#pragma once

#include "formula.h"
#include "solver.h"

#include <string>
#include <utility>
#include <vector>

namespace models {

enum class criterion { aic, aicc, bic };

// "aic", "aicc" or "bic" (any case); false if none of them.
bool parse_criterion(const std::string& text, criterion& out);

struct family_fit {
    std::string name;           // e.g. "Michaelis-Menten"
    std::string formula_text;   // in the data's column names
    formula model;              // parsed with the columns {"y", "x"}
    nonlinear_fit fit;          // fit.converged false: not ranked
    bool skipped = false;       // the data lie outside the family's domain
    std::string note;           // why skipped or not converged
    double criterion_value = 0; // NaN where it does not apply
};

struct catalogue_result {
    bool ok = false;
    std::string error;
    std::vector<family_fit> families; // best first; not converged or skipped last
};

// Fits every family to y against x and ranks them; x_name and y_name only
// label the formulas.
catalogue_result fit_catalogue(const std::vector<double>& x, const std::vector<double>& y,
                               const std::string& x_name, const std::string& y_name,
                               criterion by = criterion::aicc);

// The families as (name, formula with the columns y and x), in the order
// they are tried.
std::vector<std::pair<std::string, std::string>> catalogue_families();

// A fitted family's curve at the given x values (e.g. for a plot).
std::vector<double> evaluate_family(const family_fit& family, const std::vector<double>& x);

} // namespace models

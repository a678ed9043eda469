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
// label the formulas. With case weights (one per row, finite, not negative)
// each family minimises sum w (y - f)^2, and the criterion uses that sum.
catalogue_result fit_catalogue(const std::vector<double>& x, const std::vector<double>& y,
                               const std::string& x_name, const std::string& y_name,
                               criterion by = criterion::aicc,
                               const std::vector<double>* weights = nullptr);

// The families as (name, formula with the columns y and x), in the order
// they are tried.
std::vector<std::pair<std::string, std::string>> catalogue_families();

// Start values for a formula of one column x, where its right side is a
// family of the catalogue written in other names (rate ~ Vm*conc/(K+conc) is
// Michaelis-Menten): the family's self-start fitted to the data, as values
// for the formula's parameters. columns as for fit_nonlinear.
struct start_suggestion {
    std::vector<std::string> parameters; // the formula's, in order
    std::string family;                  // "" when the formula is no family
    std::vector<double> starts;          // empty when none could be computed
};
start_suggestion suggest_starts(const formula& f, const std::vector<std::vector<double>>& columns);

// The family of the catalogue that a formula of one column x is, in other
// names; "" when it is none. Needs no data.
std::string family_of(const formula& f);

// A fitted family's curve at the given x values (e.g. for a plot).
std::vector<double> evaluate_family(const family_fit& family, const std::vector<double>& x);

} // namespace models

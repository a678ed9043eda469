// A formula's terms, expanded as R expands them: "." becomes every column
// not otherwise used, a*b becomes a + b + a:b (with all higher
// interactions for three or more factors), "- term" removes a term, and
// "- 1" / "+ 0" the intercept. Terms are ordered by how many variables
// they join (main effects, then two-way interactions, ...), keeping the
// formula's order within each; an interaction names its variables in the
// order they first appear in the formula ("supp:dose").
#pragma once

#include "linear_formula.h"

#include <cstddef>
#include <string>
#include <vector>

namespace models {

// One quantity the terms are built from: a column as it stands (numeric or
// categorical, as the data show), C(col), or a function of columns.
struct model_variable {
    std::string label;               // "group", "log(conc)", "C(cyl)"
    term_expression value;           // its column nodes' slots index the raw row
    bool forced_categorical = false; // C(col)
    bool plain_column = false;       // a column as it stands
    std::size_t slot = 0;            // plain column or C(col): its slot in the raw row
};

struct model_term {
    std::vector<int> variables; // indices into model_terms::variables, ascending
    std::string label;          // "supp:dose"
};

struct model_terms {
    bool ok = false;
    bool usage_error = false; // a malformed formula (else a column is missing)
    std::string error;
    term_expression response;
    std::string response_label;
    bool intercept = true;
    std::vector<model_variable> variables;
    std::vector<model_term> terms;
    // The data columns a raw row holds, in slot order; the response's first.
    std::vector<std::size_t> columns;
};

// Expands a formula over the columns of a file. excluded columns (the
// weights, an unnamed label column) are never taken by ".". An unknown
// column is an error that lists the columns.
model_terms expand_formula(const std::string& text, const std::vector<std::string>& names,
                           const std::vector<std::size_t>& excluded);

// The terms of plain columns: the response and one term per predictor
// column, as --y and --x choose them.
model_terms terms_of_columns(std::size_t response, const std::vector<std::size_t>& predictors,
                             const std::vector<std::string>& names, bool intercept);

// The model of some of all's terms (kept: indices into all.terms,
// ascending), as the formula of those terms alone would give it: only the
// columns the response and those terms read, the response's first.
model_terms terms_subset(const model_terms& all, const std::vector<int>& kept);

} // namespace models

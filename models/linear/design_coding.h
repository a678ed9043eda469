// The design columns of a model's terms, with R's treatment coding: a
// categorical variable's first level in sorted order is the reference and
// each other level gets a 0/1 column; an interaction's columns are the
// products of its variables' columns, the first variable varying fastest.
// As in R, a categorical variable in a term whose margin (the term without
// it) is absent from the earlier terms is coded by one indicator per level,
// so that the design still spans the term; without an intercept the first
// categorical variable is coded that way too.
// Names: "col[level]", parts of an interaction joined by ":" in variable
// order ("supp[VC]:dose", "wool[B]:tension[M]").
#pragma once

#include "levels.h"
#include "model_terms.h"

#include <string>
#include <vector>

namespace models {

struct design_column {
    int term = 0;                                // into model_terms::terms
    std::vector<int> numeric;                    // variables multiplied in
    std::vector<std::pair<int, int>> indicators; // (variable, level id): 1 where equal
    std::string name;
};

struct design_coding {
    bool intercept = true;
    std::vector<design_column> columns; // the intercept not among them
    // Per variable: its levels when it is categorical, else null.
    std::vector<const level_table*> levels;
};

// levels: per variable of terms, its level table when categorical, else null.
design_coding code_design(const model_terms& terms, const std::vector<const level_table*>& levels);

// Names of the design's coefficients: "(intercept)" first when there is one.
std::vector<std::string> coefficient_names(const design_coding& coding);

// For each coefficient (the intercept first when there is one), the index of
// its term in model_terms::terms; -1 for the intercept.
std::vector<int> coefficient_terms(const design_coding& coding);

// Turns raw rows (a value per slot of terms.columns; categorical values are
// level ids) into the response and the design columns.
class row_expander {
  public:
    row_expander(const model_terms& terms, const design_coding& coding);
    std::size_t width() const { return coding_.columns.size(); }
    // Writes the response to y and width() columns to x; false when a value
    // is not finite.
    bool expand(const double* raw, double& y, double* x);
    // Why a row expand() refused is not usable: "log(conc): log of -1".
    std::string why(const double* raw) const;

  private:
    const model_terms& terms_;
    const design_coding& coding_;
    std::vector<double> values_; // per variable: its value, or its level id
};

} // namespace models

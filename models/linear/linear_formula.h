// The formula of a linear model as analysts write it: "RESPONSE ~ TERMS".
// Terms are column names (`backquoted` when not plain identifiers), "." for
// every column not otherwise used, functions of columns (log, log10, exp,
// sqrt, abs), I(...) for arithmetic, C(col) for a column taken as
// categorical; joined by + (add), - (remove), : (interaction) and * (a term
// with all its interactions); "- 1" or "+ 0" removes the intercept.
// Precedence as R's: ":" binds tighter than "*", "*" tighter than + and -.
// This file reads the text into a tree; model_terms.h expands it.
#pragma once

#include "term_expression.h"

#include <cstddef>
#include <string>
#include <vector>

namespace models {

enum class formula_kind {
    variable,    // a column, a function of columns, I(...) or C(col)
    every_other, // "."
    one,         // "1": the intercept
    zero,        // "0": no intercept
    add,         // a + b
    remove,      // a - b (a may be empty: "-1 + x")
    interaction, // a:b
    crossing,    // a*b = a + b + a:b
    nothing,     // the empty left side of a leading "-"
};

struct formula_node {
    formula_kind kind = formula_kind::nothing;
    term_expression value;    // variable: what is computed
    bool categorical = false; // variable: written C(col)
    std::size_t position = 0; // 1-based character where the node starts
    std::vector<formula_node> operands;
};

// A variable's label as a report names it: "group", "log(conc)", "C(cyl)".
std::string variable_label(const formula_node& variable);

struct formula_syntax {
    bool ok = false;
    std::string error;        // "at character 9: expected a column name, a number or '('"
    std::size_t position = 0; // of the error, 1-based
    term_expression response;
    formula_node terms;
};

// Reads "RESPONSE ~ TERMS". Only the syntax is checked here: the columns
// are found in the data afterwards.
formula_syntax parse_linear_formula(const std::string& text);

// True when text looks like a formula (has a "~"), for the questions that
// accept either a formula or a list of columns.
bool looks_like_formula(const std::string& text);

} // namespace models

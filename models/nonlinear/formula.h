// Model formulas of the non-linear models: "response ~ expression", parsed
// against the names of the data columns, and compiled to a short postfix
// program that evaluates the model and its exact Jacobian (forward-mode
// differentiation) over all rows at once.
#pragma once

#include <Eigen/Dense>

#include <string>
#include <vector>

namespace models {

// One step of a compiled expression; operands come from an evaluation stack.
enum class opcode {
    constant,  // push value
    column,    // push data column index
    parameter, // push parameter index
    negate,
    add,
    subtract,
    multiply,
    divide,
    power,
    exp,
    log,
    sqrt,
    sin,
    cos,
    tan,
    atan,
    abs
};

struct instruction {
    opcode op = opcode::constant;
    int index = 0;
    double value = 0;
};

// A compiled expression over data columns and parameters.
class expression {
  public:
    std::vector<instruction> code;

    // Values over `rows` rows. columns[i] is the data column i of the names
    // the formula was parsed with; columns the expression does not use may
    // be empty. With jacobian set, also d value / d parameter (rows x p,
    // p = b.size()), exactly.
    void evaluate(const std::vector<Eigen::ArrayXd>& columns, Eigen::Index rows,
                  const Eigen::VectorXd& b, Eigen::ArrayXd& values,
                  Eigen::MatrixXd* jacobian = nullptr) const;

    // Values as above in extended precision (long double), for sums of
    // squares whose residuals are near the rounding of the data.
    using extended_array = Eigen::Array<long double, Eigen::Dynamic, 1>;
    // low, when given, holds per column what rounding the data to double
    // took away (the exact value less the double), added in extended precision.
    void evaluate_extended(const std::vector<Eigen::ArrayXd>& columns, Eigen::Index rows,
                           const Eigen::VectorXd& b, extended_array& values,
                           const std::vector<Eigen::ArrayXd>* low = nullptr) const;

    // The data columns the expression reads.
    std::vector<int> columns_used() const;
};

struct formula {
    std::string text;
    std::string response_text;           // the left side as written
    std::vector<std::string> parameters; // in order of first appearance
    // Per parameter: the column its name is a slip of (within a few edits),
    // or "" (see near_column).
    std::vector<std::string> near_columns;
    expression response; // columns only
    expression model;
};

struct formula_result {
    bool ok = false;
    std::string error; // "column 14: ')' expected"
    formula value;
};

// Parses "y ~ b1*(1-exp(-b2*x))" (or with '=' for '~'); names in `columns`
// are data, other names are parameters. A trailing "+ e" (the error term of
// formulas as published) is dropped unless e is a column or keep_e is set
// (the start values give e a value).
formula_result parse_formula(const std::string& text, const std::vector<std::string>& columns,
                             bool keep_e = false);

// The column a name not among them is most likely a slip of: ignoring case,
// within one edit (a letter changed, added, dropped, or two swapped) for
// names of 3 or 4 characters, two for longer ones; "" if none. Shorter names
// (b1, Vm) are parameters by intent.
std::string near_column(const std::string& name, const std::vector<std::string>& columns);

// The names a start text gives values to ("b1=500, b2=1e-4": b1, b2), as far
// as it can be read.
std::vector<std::string> named_in_starts(const std::string& text);

struct starts_result {
    bool ok = false;
    std::string error;
    std::vector<double> values; // in the order of `parameters`
};

// Parses start values "b1=500, b2=1e-4" (commas or blanks between them);
// every parameter needs exactly one value. near_columns (as in formula) turns
// a missing value for a slip of a column's name into the question whether
// the column was meant.
starts_result parse_starts(const std::string& text, const std::vector<std::string>& parameters,
                           const std::vector<std::string>& near_columns = {});

// Bounds "K>=0, Vm<=500, 0<=c<=1" ('>' and '<' as their '=' forms): per
// parameter the lower and upper bound, -inf/+inf where none is given.
struct bounds_result {
    bool ok = false;
    std::string error;
    std::vector<double> lower, upper;
};
bounds_result parse_bounds(const std::string& text, const std::vector<std::string>& parameters);

} // namespace models

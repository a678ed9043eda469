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
    expression response;                 // columns only
    expression model;
};

struct formula_result {
    bool ok = false;
    std::string error; // "column 14: ')' expected"
    formula value;
};

// Parses "y ~ b1*(1-exp(-b2*x))" (or with '=' for '~'); names in `columns`
// are data, other names are parameters.
formula_result parse_formula(const std::string& text, const std::vector<std::string>& columns);

struct starts_result {
    bool ok = false;
    std::string error;
    std::vector<double> values; // in the order of `parameters`
};

// Parses start values "b1=500, b2=1e-4" (commas or blanks between them);
// every parameter needs exactly one value.
starts_result parse_starts(const std::string& text, const std::vector<std::string>& parameters);

} // namespace models

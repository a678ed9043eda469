// Arithmetic on a data row, as a formula writes it: numbers, columns, the
// operators + - * / ^ with R's precedence, and the functions log, log10,
// exp, sqrt, abs and I() (which only groups). Each expression can be
// written back as R deparses it, which names the terms of a report.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace models {

enum class expression_kind {
    number,
    column,
    negate,
    add,
    subtract,
    multiply,
    divide,
    power,
    call,
    group
};
enum class math_function { log, log10, exp, sqrt, abs, identity };

struct term_expression {
    expression_kind kind = expression_kind::number;
    double number = 0;        // number: its value
    std::string text;         // number: as written; column: the name
    bool quoted = false;      // column: written in backquotes
    std::size_t slot = 0;     // column: its place in a row, once resolved
    math_function function{}; // call
    std::vector<term_expression> operands;
};

// The function a name calls, or false when it is none of them.
bool function_named(const std::string& name, math_function& function);

// Written as R deparses it: "log(conc)", "I(x^2)", "I(year - 2000)".
std::string deparse(const term_expression& e);

// The value at a row (NaN or an infinity where it is not defined).
double evaluate(const term_expression& e, const double* row);

// Why the value at row is not finite: the innermost step that failed
// ("log of -2", "division by zero"); empty when it is finite.
std::string undefined_step(const term_expression& e, const double* row);

// The column names the expression reads, each once, in order.
void columns_of(const term_expression& e, std::vector<std::string>& names);

} // namespace models

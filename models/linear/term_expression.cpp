#include "term_expression.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace models {

namespace {

struct named_function {
    const char* name;
    math_function function;
};
constexpr named_function functions[] = {
    {"log", math_function::log},   {"log10", math_function::log10}, {"exp", math_function::exp},
    {"sqrt", math_function::sqrt}, {"abs", math_function::abs},     {"I", math_function::identity},
};

const char* name_of(math_function f) {
    for (const auto& n : functions)
        if (n.function == f)
            return n.name;
    return "?";
}

double apply(math_function f, double v) {
    switch (f) {
    case math_function::log:
        return v > 0 ? std::log(v) : std::numeric_limits<double>::quiet_NaN();
    case math_function::log10:
        return v > 0 ? std::log10(v) : std::numeric_limits<double>::quiet_NaN();
    case math_function::exp:
        return std::exp(v);
    case math_function::sqrt:
        return std::sqrt(v);
    case math_function::abs:
        return std::fabs(v);
    case math_function::identity:
        return v;
    }
    return v;
}

std::string number_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

} // namespace

bool function_named(const std::string& name, math_function& function) {
    for (const auto& n : functions) {
        if (name == n.name) {
            function = n.function;
            return true;
        }
    }
    return false;
}

std::string deparse(const term_expression& e) {
    const auto& o = e.operands;
    switch (e.kind) {
    case expression_kind::number:
        return e.text;
    case expression_kind::column:
        return e.quoted ? "`" + e.text + "`" : e.text;
    case expression_kind::negate:
        return "-" + deparse(o[0]);
    case expression_kind::add:
        return deparse(o[0]) + " + " + deparse(o[1]);
    case expression_kind::subtract:
        return deparse(o[0]) + " - " + deparse(o[1]);
    case expression_kind::multiply:
        return deparse(o[0]) + " * " + deparse(o[1]);
    case expression_kind::divide:
        return deparse(o[0]) + "/" + deparse(o[1]);
    case expression_kind::power:
        return deparse(o[0]) + "^" + deparse(o[1]);
    case expression_kind::call:
        return std::string(name_of(e.function)) + "(" + deparse(o[0]) + ")";
    case expression_kind::group:
        return "(" + deparse(o[0]) + ")";
    }
    return {};
}

double evaluate(const term_expression& e, const double* row) {
    const auto& o = e.operands;
    switch (e.kind) {
    case expression_kind::number:
        return e.number;
    case expression_kind::column:
        return row[e.slot];
    case expression_kind::negate:
        return -evaluate(o[0], row);
    case expression_kind::add:
        return evaluate(o[0], row) + evaluate(o[1], row);
    case expression_kind::subtract:
        return evaluate(o[0], row) - evaluate(o[1], row);
    case expression_kind::multiply:
        return evaluate(o[0], row) * evaluate(o[1], row);
    case expression_kind::divide:
        return evaluate(o[0], row) / evaluate(o[1], row);
    case expression_kind::power:
        return std::pow(evaluate(o[0], row), evaluate(o[1], row));
    case expression_kind::call:
        return apply(e.function, evaluate(o[0], row));
    case expression_kind::group:
        return evaluate(o[0], row);
    }
    return 0;
}

std::string undefined_step(const term_expression& e, const double* row) {
    for (const term_expression& o : e.operands) {
        std::string inner = undefined_step(o, row);
        if (!inner.empty())
            return inner;
    }
    const double value = evaluate(e, row);
    if (std::isfinite(value))
        return {};
    if (e.kind == expression_kind::call)
        return std::string(name_of(e.function)) + " of " +
               number_text(evaluate(e.operands[0], row));
    if (e.kind == expression_kind::divide)
        return "division by " + number_text(evaluate(e.operands[1], row));
    return deparse(e) + " overflows";
}

void columns_of(const term_expression& e, std::vector<std::string>& names) {
    if (e.kind == expression_kind::column) {
        for (const std::string& n : names)
            if (n == e.text)
                return;
        names.push_back(e.text);
    }
    for (const term_expression& o : e.operands)
        columns_of(o, names);
}

} // namespace models

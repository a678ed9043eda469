#include "formula.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

namespace models {
namespace {

// ---------------------------------------------------------------- lexing

enum class token_kind { number, name, op, end };

struct token {
    token_kind kind = token_kind::end;
    std::string text; // name or operator ("**" for either power spelling)
    double value = 0;
    size_t pos = 0; // 0-based offset in the text
};

bool name_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool name_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string at(size_t pos, const std::string& reason) {
    return "column " + std::to_string(pos + 1) + ": " + reason;
}

// Length of a number starting at s[i] ("1", ".5", "1e-4", "2.5E+03"), or 0.
size_t number_length(const std::string& s, size_t i) {
    size_t j = i, mantissa = 0;
    while (j < s.size() && digit(s[j]))
        ++j, ++mantissa;
    if (j < s.size() && s[j] == '.') {
        ++j;
        while (j < s.size() && digit(s[j]))
            ++j, ++mantissa;
    }
    if (mantissa == 0)
        return 0;
    if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-'))
            ++k;
        if (k < s.size() && digit(s[k])) {
            while (k < s.size() && digit(s[k]))
                ++k;
            j = k;
        }
    }
    return j - i;
}

// Splits the text into tokens; on a bad character returns false with error.
bool tokenize(const std::string& s, std::vector<token>& out, std::string& error) {
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        token t;
        t.pos = i;
        if (digit(c) || (c == '.' && i + 1 < s.size() && digit(s[i + 1]))) {
            size_t len = number_length(s, i);
            auto r = fast_float::from_chars(s.data() + i, s.data() + i + len, t.value);
            if (r.ec != std::errc() || !std::isfinite(t.value)) {
                error = at(i, "number out of range");
                return false;
            }
            if (i + len < s.size() && name_char(s[i + len])) {
                error = at(i + len, "malformed number");
                return false;
            }
            t.kind = token_kind::number;
            i += len;
        } else if (name_start(c)) {
            size_t j = i;
            while (j < s.size() && name_char(s[j]))
                ++j;
            t.kind = token_kind::name;
            t.text = s.substr(i, j - i);
            i = j;
        } else if (c == '*' && i + 1 < s.size() && s[i + 1] == '*') {
            t.kind = token_kind::op;
            t.text = "**";
            i += 2;
        } else if ((c == '<' || c == '>') && i + 1 < s.size() && s[i + 1] == '=') {
            t.kind = token_kind::op;
            t.text = std::string(1, c);
            i += 2;
        } else if (std::string("+-*/^()[]~=,<>").find(c) != std::string::npos) {
            t.kind = token_kind::op;
            t.text = c == '^' ? "**" : std::string(1, c);
            ++i;
        } else {
            error = at(i, std::string("unexpected character '") + c + "'");
            return false;
        }
        out.push_back(t);
    }
    token end;
    end.pos = s.size();
    out.push_back(end);
    return true;
}

// --------------------------------------------------------------- parsing

struct node {
    opcode op = opcode::constant;
    int index = 0;
    double value = 0;
    std::unique_ptr<node> a, b;
};
using node_ptr = std::unique_ptr<node>;

const std::map<std::string, opcode>& functions() {
    static const std::map<std::string, opcode> table = {
        {"exp", opcode::exp}, {"log", opcode::log}, {"sqrt", opcode::sqrt}, {"sin", opcode::sin},
        {"cos", opcode::cos}, {"tan", opcode::tan}, {"atan", opcode::atan}, {"abs", opcode::abs}};
    return table;
}

node_ptr leaf(opcode op, int index, double value) {
    auto n = std::make_unique<node>();
    n->op = op;
    n->index = index;
    n->value = value;
    return n;
}

node_ptr apply(opcode op, node_ptr a, node_ptr b = nullptr) {
    auto n = std::make_unique<node>();
    n->op = op;
    n->a = std::move(a);
    n->b = std::move(b);
    return n;
}

// Recursive descent over the tokens of one side of the formula. Binding,
// loosest first: + -, * /, unary sign, power (right-associative).
class parser {
  public:
    parser(const std::vector<token>& tokens, size_t first, const std::vector<std::string>& columns,
           std::vector<std::string>* parameters)
        : t_(tokens), i_(first), columns_(columns), parameters_(parameters) {}

    node_ptr expression() {
        node_ptr left = term();
        while (left && (is("+") || is("-"))) {
            opcode op = is("+") ? opcode::add : opcode::subtract;
            ++i_;
            node_ptr right = term();
            if (!right)
                return nullptr;
            left = apply(op, std::move(left), std::move(right));
        }
        return left;
    }

    const token& current() const { return t_[i_]; }
    size_t position() const { return i_; }
    const std::string& error() const { return error_; }
    void fail(size_t pos, const std::string& reason) {
        if (error_.empty())
            error_ = at(pos, reason);
    }

  private:
    bool is(const char* op) const { return t_[i_].kind == token_kind::op && t_[i_].text == op; }

    node_ptr term() {
        node_ptr left = unary();
        while (left && (is("*") || is("/"))) {
            opcode op = is("*") ? opcode::multiply : opcode::divide;
            ++i_;
            node_ptr right = unary();
            if (!right)
                return nullptr;
            left = apply(op, std::move(left), std::move(right));
        }
        return left;
    }

    node_ptr unary() {
        if (is("-") || is("+")) {
            bool minus = is("-");
            ++i_;
            node_ptr operand = unary();
            if (!operand)
                return nullptr;
            return minus ? apply(opcode::negate, std::move(operand)) : std::move(operand);
        }
        return power();
    }

    node_ptr power() {
        node_ptr base = primary();
        if (base && is("**")) {
            ++i_;
            node_ptr exponent = unary(); // right-associative; allows x^-2
            if (!exponent)
                return nullptr;
            return apply(opcode::power, std::move(base), std::move(exponent));
        }
        return base;
    }

    // A group "( e )" or "[ e ]"; the closing bracket must match.
    node_ptr group() {
        std::string close = is("(") ? ")" : "]";
        ++i_;
        node_ptr inner = expression();
        if (!inner)
            return nullptr;
        if (!is(close.c_str())) {
            fail(t_[i_].pos, "'" + close + "' expected");
            return nullptr;
        }
        ++i_;
        return inner;
    }

    node_ptr primary() {
        const token& tok = t_[i_];
        if (tok.kind == token_kind::number) {
            ++i_;
            return leaf(opcode::constant, 0, tok.value);
        }
        if (is("(") || is("["))
            return group();
        if (tok.kind == token_kind::name)
            return name();
        fail(tok.pos, tok.kind == token_kind::end ? "expression expected at the end"
                                                  : "expression expected");
        return nullptr;
    }

    node_ptr name() {
        const token& tok = t_[i_];
        ++i_;
        auto col = std::find(columns_.begin(), columns_.end(), tok.text);
        if (col != columns_.end())
            return leaf(opcode::column, static_cast<int>(col - columns_.begin()), 0);
        auto fn = functions().find(tok.text);
        if (fn != functions().end()) {
            if (!is("(") && !is("[")) {
                fail(t_[i_].pos, "'(' expected after " + tok.text);
                return nullptr;
            }
            node_ptr arg = group();
            return arg ? apply(fn->second, std::move(arg)) : nullptr;
        }
        if (is("(") || is("[")) {
            fail(tok.pos, "unknown function '" + tok.text + "'");
            return nullptr;
        }
        if (tok.text == "pi")
            return leaf(opcode::constant, 0, 3.14159265358979323846);
        if (!parameters_) {
            fail(tok.pos, "'" + tok.text + "' is not a column; the response uses columns only");
            return nullptr;
        }
        auto& ps = *parameters_;
        auto p = std::find(ps.begin(), ps.end(), tok.text);
        if (p == ps.end()) {
            ps.push_back(tok.text);
            p = ps.end() - 1;
        }
        return leaf(opcode::parameter, static_cast<int>(p - ps.begin()), 0);
    }

    const std::vector<token>& t_;
    size_t i_;
    const std::vector<std::string>& columns_;
    std::vector<std::string>* parameters_;
    std::string error_;
};

void compile(const node& n, std::vector<instruction>& code) {
    if (n.a)
        compile(*n.a, code);
    if (n.b)
        compile(*n.b, code);
    code.push_back({n.op, n.index, n.value});
}

bool is_op(const token& t, const char* op) {
    return t.kind == token_kind::op && t.text == op;
}

} // namespace

// ------------------------------------------------------------ evaluation

namespace {

// A value on the evaluation stack: values per row and, when it depends on
// the parameters, its derivatives (rows x p).
template <class T> struct slot {
    using array = Eigen::Array<T, Eigen::Dynamic, 1>;
    array v;
    Eigen::Array<T, Eigen::Dynamic, Eigen::Dynamic> d;
    bool varies = false;
};

// d(result) = f'(a) * d(a) for the one-argument functions.
template <class T, class A> void chain(slot<T>& s, const A& derivative) {
    if (s.varies)
        s.d.colwise() *= derivative;
}

template <class T> void unary_op(opcode op, slot<T>& s) {
    typename slot<T>::array a = s.v;
    switch (op) {
    case opcode::negate:
        s.v = -a;
        if (s.varies)
            s.d = -s.d;
        return;
    case opcode::exp:
        s.v = a.exp();
        chain(s, s.v);
        return;
    case opcode::log:
        s.v = a.log();
        chain(s, a.inverse());
        return;
    case opcode::sqrt:
        s.v = a.sqrt();
        chain(s, T(0.5) / s.v);
        return;
    case opcode::sin:
        s.v = a.sin();
        chain(s, a.cos());
        return;
    case opcode::cos:
        s.v = a.cos();
        chain(s, -a.sin());
        return;
    case opcode::tan:
        s.v = a.tan();
        chain(s, T(1) + s.v.square());
        return;
    case opcode::atan:
        s.v = a.atan();
        chain(s, (T(1) + a.square()).inverse());
        return;
    case opcode::abs:
        s.v = a.abs();
        chain(s, a.sign());
        return;
    default:
        return;
    }
}

// Adds c * d(from) into the derivatives of `to`.
template <class T, class A> void accumulate(slot<T>& to, const slot<T>& from, const A& c) {
    if (!from.varies)
        return;
    if (to.varies) {
        to.d += from.d.colwise() * c;
    } else {
        to.d = from.d.colwise() * c;
        to.varies = true;
    }
}

template <class T> void binary_op(opcode op, slot<T>& a, const slot<T>& b, Eigen::Index rows) {
    using array = typename slot<T>::array;
    const array ones = array::Ones(rows);
    slot<T> r;
    switch (op) {
    case opcode::add:
        r.v = a.v + b.v;
        accumulate(r, a, ones);
        accumulate(r, b, ones);
        break;
    case opcode::subtract:
        r.v = a.v - b.v;
        accumulate(r, a, ones);
        accumulate(r, b, (-ones).eval());
        break;
    case opcode::multiply:
        r.v = a.v * b.v;
        accumulate(r, a, b.v);
        accumulate(r, b, a.v);
        break;
    case opcode::divide:
        r.v = a.v / b.v;
        accumulate(r, a, b.v.inverse().eval());
        accumulate(r, b, (-r.v / b.v).eval());
        break;
    case opcode::power:
        r.v = a.v.pow(b.v);
        // d(a^b) = b a^(b-1) da + a^b log(a) db; the first form also holds
        // for a negative base with an integral constant exponent.
        if (a.varies)
            accumulate(r, a, (b.v * a.v.pow(b.v - T(1))).eval());
        if (b.varies)
            accumulate(r, b, (r.v * a.v.log()).eval());
        break;
    default:
        break;
    }
    a = std::move(r);
}

template <class T>
void run(const std::vector<instruction>& code, const std::vector<Eigen::ArrayXd>& columns,
         Eigen::Index rows, const Eigen::VectorXd& b, Eigen::Array<T, Eigen::Dynamic, 1>& values,
         Eigen::Array<T, Eigen::Dynamic, Eigen::Dynamic>* jacobian,
         const std::vector<Eigen::ArrayXd>* low = nullptr) {
    using array = typename slot<T>::array;
    const Eigen::Index p = b.size();
    std::vector<slot<T>> stack;
    stack.reserve(code.size());
    for (const instruction& in : code) {
        switch (in.op) {
        case opcode::constant:
            stack.push_back({array::Constant(rows, T(in.value)), {}, false});
            break;
        case opcode::column: {
            const auto c = static_cast<size_t>(in.index);
            array column = columns[c].head(rows).template cast<T>();
            if (low && c < low->size() && (*low)[c].size() >= rows)
                column += (*low)[c].head(rows).template cast<T>();
            stack.push_back({std::move(column), {}, false});
            break;
        }
        case opcode::parameter: {
            slot<T> s{array::Constant(rows, T(b[in.index])), {}, jacobian != nullptr};
            if (s.varies) {
                s.d.setZero(rows, p);
                s.d.col(in.index).setOnes();
            }
            stack.push_back(std::move(s));
            break;
        }
        case opcode::add:
        case opcode::subtract:
        case opcode::multiply:
        case opcode::divide:
        case opcode::power: {
            slot<T> right = std::move(stack.back());
            stack.pop_back();
            binary_op(in.op, stack.back(), right, rows);
            break;
        }
        default:
            unary_op(in.op, stack.back());
        }
    }
    values = std::move(stack.back().v);
    if (jacobian) {
        if (stack.back().varies)
            *jacobian = std::move(stack.back().d);
        else
            jacobian->setZero(rows, p);
    }
}

} // namespace

void expression::evaluate(const std::vector<Eigen::ArrayXd>& columns, Eigen::Index rows,
                          const Eigen::VectorXd& b, Eigen::ArrayXd& values,
                          Eigen::MatrixXd* jacobian) const {
    if (!jacobian) {
        run<double>(code, columns, rows, b, values, nullptr);
        return;
    }
    Eigen::ArrayXXd d;
    run<double>(code, columns, rows, b, values, &d);
    *jacobian = d.matrix();
}

void expression::evaluate_extended(const std::vector<Eigen::ArrayXd>& columns, Eigen::Index rows,
                                   const Eigen::VectorXd& b, extended_array& values,
                                   const std::vector<Eigen::ArrayXd>* low) const {
    run<long double>(code, columns, rows, b, values, nullptr, low);
}

std::vector<int> expression::columns_used() const {
    std::vector<int> used;
    for (const instruction& in : code)
        if (in.op == opcode::column && std::find(used.begin(), used.end(), in.index) == used.end())
            used.push_back(in.index);
    return used;
}

// --------------------------------------------------------------- formula

formula_result parse_formula(const std::string& text, const std::vector<std::string>& columns,
                             bool keep_e) {
    formula_result result;
    std::vector<token> tokens;
    if (!tokenize(text, tokens, result.error))
        return result;

    // NIST's trailing error term "+ e" is no part of the model.
    size_t end = tokens.size() - 1;
    if (!keep_e && end >= 2 && tokens[end - 1].kind == token_kind::name &&
        tokens[end - 1].text == "e" && is_op(tokens[end - 2], "+") &&
        std::find(columns.begin(), columns.end(), "e") == columns.end()) {
        tokens[end - 2] = tokens[end];
        tokens.resize(end - 1);
    }

    formula& f = result.value;
    f.text = text;
    parser left(tokens, 0, columns, nullptr);
    node_ptr response = left.expression();
    if (!response) {
        result.error = left.error();
        return result;
    }
    const token& sep = left.current();
    if (!is_op(sep, "~") && !is_op(sep, "=")) {
        result.error = at(sep.pos, "'~' expected");
        return result;
    }
    f.response_text = text.substr(0, sep.pos);
    f.response_text.erase(f.response_text.find_last_not_of(" \t") + 1);
    f.response_text.erase(0, f.response_text.find_first_not_of(" \t"));

    parser right(tokens, left.position() + 1, columns, &f.parameters);
    node_ptr model = right.expression();
    if (!model) {
        result.error = right.error();
        return result;
    }
    const token& rest = right.current();
    if (rest.kind != token_kind::end) {
        result.error =
            at(rest.pos, is_op(rest, ")") || is_op(rest, "]") ? "unmatched '" + rest.text + "'"
                                                              : "operator expected");
        return result;
    }
    if (f.parameters.empty()) {
        result.error = "the model has no parameters";
        return result;
    }
    compile(*response, f.response.code);
    compile(*model, f.model.code);
    for (const auto& name : f.parameters)
        f.near_columns.push_back(near_column(name, columns));
    result.ok = true;
    return result;
}

namespace {

std::string lowered(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Edits between two words: letters changed, added, dropped, or two
// neighbours swapped (the optimal string alignment distance).
size_t edits(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

} // namespace

std::string near_column(const std::string& name, const std::vector<std::string>& columns) {
    if (name.size() < 3)
        return {};
    const size_t allowed = name.size() <= 4 ? 1 : 2;
    const std::string mine = lowered(name);
    std::string best;
    size_t best_edits = allowed + 1;
    for (const auto& column : columns) {
        const size_t e = edits(mine, lowered(column));
        if (e < best_edits) {
            best_edits = e;
            best = column;
        }
    }
    return best;
}

std::vector<std::string> named_in_starts(const std::string& text) {
    std::vector<token> tokens;
    std::string error;
    std::vector<std::string> names;
    if (!tokenize(text, tokens, error))
        return names;
    for (size_t i = 0; i + 1 < tokens.size(); ++i)
        if (tokens[i].kind == token_kind::name && is_op(tokens[i + 1], "="))
            names.push_back(tokens[i].text);
    return names;
}

starts_result parse_starts(const std::string& text, const std::vector<std::string>& parameters,
                           const std::vector<std::string>& near_columns) {
    starts_result result;
    std::vector<token> tokens;
    if (!tokenize(text, tokens, result.error))
        return result;
    std::vector<bool> seen(parameters.size(), false);
    result.values.assign(parameters.size(), 0.0);
    size_t i = 0;
    while (tokens[i].kind != token_kind::end) {
        if (is_op(tokens[i], ",")) {
            ++i;
            continue;
        }
        const token& name = tokens[i];
        if (name.kind != token_kind::name) {
            result.error = at(name.pos, "parameter name expected");
            return result;
        }
        auto p = std::find(parameters.begin(), parameters.end(), name.text);
        if (p == parameters.end()) {
            result.error = at(name.pos, "'" + name.text + "' is not a parameter of the model");
            return result;
        }
        size_t k = static_cast<size_t>(p - parameters.begin());
        if (seen[k]) {
            result.error = at(name.pos, "'" + name.text + "' is given twice");
            return result;
        }
        if (!is_op(tokens[i + 1], "=")) {
            result.error = at(tokens[i + 1].pos, "'=' expected");
            return result;
        }
        i += 2;
        bool minus = false;
        if (is_op(tokens[i], "-") || is_op(tokens[i], "+")) {
            minus = is_op(tokens[i], "-");
            ++i;
        }
        if (tokens[i].kind != token_kind::number) {
            result.error = at(tokens[i].pos, "number expected");
            return result;
        }
        result.values[k] = minus ? -tokens[i].value : tokens[i].value;
        seen[k] = true;
        ++i;
    }
    for (size_t k = 0; k < parameters.size(); ++k)
        if (!seen[k]) {
            if (k < near_columns.size() && !near_columns[k].empty())
                result.error = "'" + parameters[k] + "' is not a column (did you mean '" +
                               near_columns[k] +
                               "'?); taken as a parameter, it needs a start value";
            else
                result.error = "no start value for '" + parameters[k] + "'";
            return result;
        }
    result.ok = true;
    return result;
}

namespace {

// A signed number at tokens[i] ("-0.5", "1e3"); advances i.
bool signed_number(const std::vector<token>& tokens, size_t& i, double& value) {
    bool minus = false;
    if (is_op(tokens[i], "-") || is_op(tokens[i], "+")) {
        minus = is_op(tokens[i], "-");
        ++i;
    }
    if (tokens[i].kind != token_kind::number)
        return false;
    value = minus ? -tokens[i].value : tokens[i].value;
    ++i;
    return true;
}

} // namespace

bounds_result parse_bounds(const std::string& text, const std::vector<std::string>& parameters) {
    bounds_result result;
    constexpr double inf = std::numeric_limits<double>::infinity();
    result.lower.assign(parameters.size(), -inf);
    result.upper.assign(parameters.size(), inf);
    std::vector<token> tokens;
    if (!tokenize(text, tokens, result.error))
        return result;
    auto fail = [&](size_t pos, const std::string& why) {
        result.error = at(pos, why);
        return result;
    };
    auto relation = [](const token& t) { return is_op(t, "<") || is_op(t, ">"); };
    // Sets name's bound on the side the relation (as read from the name's
    // side) says: name >= v is a lower bound.
    auto set = [&](size_t k, bool name_greater, double v) {
        (name_greater ? result.lower[k] : result.upper[k]) = v;
    };
    size_t i = 0;
    while (tokens[i].kind != token_kind::end) {
        if (is_op(tokens[i], ",")) {
            ++i;
            continue;
        }
        // "v <= name [<= w]" or "name >= v"
        double before = 0;
        bool has_before = false;
        size_t first = i;
        if (tokens[i].kind != token_kind::name) {
            if (!signed_number(tokens, i, before))
                return fail(tokens[first].pos, "a parameter or a number expected");
            has_before = true;
            if (!relation(tokens[i]))
                return fail(tokens[i].pos, "'<=' or '>=' expected");
        }
        bool before_greater = has_before && is_op(tokens[i], ">"); // v >= name
        if (has_before)
            ++i;
        const token& name = tokens[i];
        if (name.kind != token_kind::name)
            return fail(name.pos, "parameter name expected");
        auto p = std::find(parameters.begin(), parameters.end(), name.text);
        if (p == parameters.end())
            return fail(name.pos, "'" + name.text + "' is not a parameter of the model");
        const size_t k = static_cast<size_t>(p - parameters.begin());
        ++i;
        if (has_before)
            set(k, !before_greater, before);
        if (relation(tokens[i])) {
            const bool name_greater = is_op(tokens[i], ">");
            ++i;
            double after = 0;
            const size_t at_number = tokens[i].pos;
            if (!signed_number(tokens, i, after))
                return fail(at_number, "number expected");
            set(k, name_greater, after);
        } else if (!has_before) {
            return fail(tokens[i].pos, "'<=' or '>=' expected");
        }
        if (!(result.lower[k] <= result.upper[k]))
            return fail(name.pos, "the bounds of '" + name.text + "' leave no value");
    }
    result.ok = true;
    return result;
}

} // namespace models

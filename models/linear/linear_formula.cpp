#include "linear_formula.h"

#include <cctype>
#include <cstdlib>

namespace models {

namespace {

enum class token_kind { name, quoted, number, dot, symbol, end };

struct token {
    token_kind kind = token_kind::end;
    std::string text;   // name, number, symbol ("~", "+", "(", ...)
    std::size_t at = 0; // 0-based offset of its first character
};

bool name_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '.';
}
bool name_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_';
}
bool digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Recursive descent over the tokens; the first error stops it.
class parser {
  public:
    explicit parser(const std::string& text) : text_(text) { advance(); }

    formula_syntax run() {
        formula_syntax out;
        if (is("~")) {
            fail("expected the response before '~'");
        } else {
            out.response = sum();
            if (ok_ && !is("~"))
                fail(is_end() ? "expected '~' and the terms" : "expected '~' or an operator");
            if (ok_) {
                advance();
                out.terms = terms();
                if (ok_ && !is_end())
                    fail("expected '+', '-', ':', '*' or the end of the formula");
            }
        }
        out.ok = ok_;
        out.error = error_;
        out.position = position_;
        return out;
    }

  private:
    // --- formula level
    formula_node terms() {
        formula_node left;
        left.position = current_.at + 1;
        if (is("-")) {
            left.kind = formula_kind::nothing;
        } else {
            left = crossing();
        }
        while (ok_ && (is("+") || is("-"))) {
            formula_node node;
            node.kind = is("+") ? formula_kind::add : formula_kind::remove;
            node.position = current_.at + 1;
            advance();
            formula_node right = crossing();
            node.operands = {std::move(left), std::move(right)};
            left = std::move(node);
        }
        return left;
    }

    formula_node crossing() {
        formula_node left = interaction();
        while (ok_ && is("*")) {
            formula_node node;
            node.kind = formula_kind::crossing;
            node.position = current_.at + 1;
            advance();
            node.operands = {std::move(left), interaction()};
            left = std::move(node);
        }
        return left;
    }

    formula_node interaction() {
        formula_node left = term_atom();
        while (ok_ && is(":")) {
            formula_node node;
            node.kind = formula_kind::interaction;
            node.position = current_.at + 1;
            advance();
            node.operands = {std::move(left), term_atom()};
            left = std::move(node);
        }
        return left;
    }

    formula_node term_atom() {
        formula_node node;
        node.position = current_.at + 1;
        if (!ok_)
            return node;
        if (is("(")) {
            advance();
            node = terms();
            expect(")");
            return node;
        }
        if (current_.kind == token_kind::dot) {
            node.kind = formula_kind::every_other;
            advance();
            return node;
        }
        if (current_.kind == token_kind::number) {
            if (current_.text != "0" && current_.text != "1") {
                fail("expected a term; a number stands only as 1 or 0 (the intercept)");
                return node;
            }
            node.kind = current_.text == "1" ? formula_kind::one : formula_kind::zero;
            advance();
            return node;
        }
        if (current_.kind == token_kind::name && current_.text == "C" && next_is_paren()) {
            advance();
            advance();
            if (current_.kind != token_kind::name && current_.kind != token_kind::quoted) {
                fail("expected a column name inside C( )");
                return node;
            }
            node.kind = formula_kind::variable;
            node.categorical = true;
            node.value = column_node();
            advance();
            expect(")");
            return node;
        }
        if (current_.kind == token_kind::name || current_.kind == token_kind::quoted) {
            node.kind = formula_kind::variable;
            node.value = primary();
            return node;
        }
        fail("expected a column name, a function of one, '.', '1', '0' or '('");
        return node;
    }

    // --- arithmetic (the response, and inside functions)
    term_expression sum() {
        term_expression left = product();
        while (ok_ && (is("+") || is("-"))) {
            term_expression node;
            node.kind = is("+") ? expression_kind::add : expression_kind::subtract;
            advance();
            node.operands = {std::move(left), product()};
            left = std::move(node);
        }
        return left;
    }

    term_expression product() {
        term_expression left = unary();
        while (ok_ && (is("*") || is("/"))) {
            term_expression node;
            node.kind = is("*") ? expression_kind::multiply : expression_kind::divide;
            advance();
            node.operands = {std::move(left), unary()};
            left = std::move(node);
        }
        return left;
    }

    term_expression unary() {
        if (is("-") || is("+")) {
            const bool minus = is("-");
            advance();
            term_expression inner = unary();
            if (!minus)
                return inner;
            term_expression node;
            node.kind = expression_kind::negate;
            node.operands = {std::move(inner)};
            return node;
        }
        return power();
    }

    // "^" binds tighter than a leading minus and groups to the right.
    term_expression power() {
        term_expression base = primary();
        if (ok_ && is("^")) {
            advance();
            term_expression node;
            node.kind = expression_kind::power;
            node.operands = {std::move(base), unary()};
            return node;
        }
        return base;
    }

    term_expression primary() {
        term_expression node;
        if (!ok_)
            return node;
        if (current_.kind == token_kind::number) {
            node.kind = expression_kind::number;
            node.text = current_.text;
            node.number = std::strtod(current_.text.c_str(), nullptr);
            advance();
            return node;
        }
        if (is("(")) {
            advance();
            node.kind = expression_kind::group;
            node.operands = {sum()};
            expect(")");
            return node;
        }
        if (current_.kind == token_kind::name && next_is_paren()) {
            math_function f;
            if (!function_named(current_.text, f)) {
                fail("unknown function \"" + current_.text +
                     "\": log, log10, exp, sqrt, abs, I or C");
                return node;
            }
            advance();
            advance();
            node.kind = expression_kind::call;
            node.function = f;
            node.operands = {sum()};
            expect(")");
            return node;
        }
        if (current_.kind == token_kind::name || current_.kind == token_kind::quoted) {
            node = column_node();
            advance();
            return node;
        }
        fail(is_end() ? "the formula ends where a column name, a number or '(' was expected"
                      : "expected a column name, a number or '('");
        return node;
    }

    term_expression column_node() const {
        term_expression node;
        node.kind = expression_kind::column;
        node.text = current_.text;
        node.quoted = current_.kind == token_kind::quoted;
        return node;
    }

    // --- tokens
    bool is(const char* symbol) const {
        return current_.kind == token_kind::symbol && current_.text == symbol;
    }
    bool is_end() const { return current_.kind == token_kind::end; }
    bool next_is_paren() const {
        std::size_t i = next_;
        while (i < text_.size() && text_[i] == ' ')
            ++i;
        return i < text_.size() && text_[i] == '(';
    }

    void expect(const char* symbol) {
        if (!ok_)
            return;
        if (!is(symbol)) {
            fail(std::string("expected '") + symbol + "'");
            return;
        }
        advance();
    }

    void fail(const std::string& what) {
        if (!ok_)
            return;
        ok_ = false;
        position_ = current_.at + 1;
        error_ = "at character " + std::to_string(position_) + ": " + what;
    }

    void advance() {
        std::size_t i = next_;
        while (i < text_.size() && (text_[i] == ' ' || text_[i] == '\t'))
            ++i;
        current_ = token{};
        current_.at = i;
        if (i >= text_.size()) {
            next_ = i;
            return;
        }
        const char c = text_[i];
        if (c == '`') {
            const std::size_t close = text_.find('`', i + 1);
            if (close == std::string::npos || close == i + 1) {
                current_.kind = token_kind::symbol;
                current_.text = "`";
                next_ = text_.size();
                fail(close == std::string::npos ? "a backquoted name is not closed"
                                                : "a backquoted name is empty");
                return;
            }
            current_.kind = token_kind::quoted;
            current_.text = text_.substr(i + 1, close - i - 1);
            next_ = close + 1;
            return;
        }
        if (digit(c) || (c == '.' && i + 1 < text_.size() && digit(text_[i + 1]))) {
            std::size_t j = i;
            while (j < text_.size() && (digit(text_[j]) || text_[j] == '.'))
                ++j;
            if (j < text_.size() && (text_[j] == 'e' || text_[j] == 'E')) {
                std::size_t k = j + 1;
                if (k < text_.size() && (text_[k] == '+' || text_[k] == '-'))
                    ++k;
                if (k < text_.size() && digit(text_[k])) {
                    while (k < text_.size() && digit(text_[k]))
                        ++k;
                    j = k;
                }
            }
            current_.kind = token_kind::number;
            current_.text = text_.substr(i, j - i);
            next_ = j;
            char* end = nullptr;
            std::strtod(current_.text.c_str(), &end);
            if (end != current_.text.c_str() + current_.text.size())
                fail("\"" + current_.text + "\" is not a number");
            return;
        }
        if (name_start(c)) {
            std::size_t j = i;
            while (j < text_.size() && name_char(text_[j]))
                ++j;
            current_.text = text_.substr(i, j - i);
            current_.kind = current_.text == "." ? token_kind::dot : token_kind::name;
            next_ = j;
            return;
        }
        static const std::string symbols = "~+-*/^:()";
        current_.kind = token_kind::symbol;
        current_.text = std::string(1, c);
        next_ = i + 1;
        if (symbols.find(c) == std::string::npos)
            fail("unexpected character '" + current_.text + "'");
    }

    const std::string& text_;
    token current_;
    std::size_t next_ = 0;
    bool ok_ = true;
    std::string error_;
    std::size_t position_ = 0;
};

} // namespace

std::string variable_label(const formula_node& variable) {
    const std::string inner = deparse(variable.value);
    return variable.categorical ? "C(" + inner + ")" : inner;
}

formula_syntax parse_linear_formula(const std::string& text) {
    return parser(text).run();
}

bool looks_like_formula(const std::string& text) {
    return text.find('~') != std::string::npos;
}

} // namespace models

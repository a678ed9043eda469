#include "model_terms.h"

#include "columns.h"

#include <algorithm>

namespace models {

namespace {

// A term is the ascending list of its variables; an empty list stands for
// the intercept.
using term_set = std::vector<std::vector<int>>;

struct term_algebra {
    bool intercept = true;
    term_set terms;
};

void add_term(term_set& set, const std::vector<int>& term) {
    if (std::find(set.begin(), set.end(), term) == set.end())
        set.push_back(term);
}

class expander {
  public:
    expander(const std::vector<std::string>& names, const std::vector<std::size_t>& excluded,
             model_terms& out)
        : names_(names), excluded_(excluded), out_(out) {}

    // Finds the column a name means: exactly, else ignoring case when that
    // is unambiguous. Its slot in the raw row.
    bool slot_of(const std::string& name, std::size_t& slot) {
        std::size_t column = names_.size();
        for (std::size_t c = 0; c < names_.size(); ++c)
            if (names_[c] == name)
                column = c;
        if (column == names_.size()) {
            const column_choice found = resolve_column(name, names_);
            bool is_number = !name.empty() && std::all_of(name.begin(), name.end(), [](char ch) {
                return ch >= '0' && ch <= '9';
            });
            if (found.ok && !is_number)
                column = found.index;
        }
        if (column == names_.size()) {
            std::string listed;
            for (const std::string& n : names_)
                listed += (listed.empty() ? "" : ", ") + n;
            fail("there is no column \"" + name + "\"; the columns are: " + listed);
            return false;
        }
        const auto at = std::find(out_.columns.begin(), out_.columns.end(), column);
        slot = static_cast<std::size_t>(at - out_.columns.begin());
        if (at == out_.columns.end())
            out_.columns.push_back(column);
        return true;
    }

    bool resolve(term_expression& e) {
        if (e.kind == expression_kind::column) {
            if (!slot_of(e.text, e.slot))
                return false;
        }
        for (term_expression& o : e.operands)
            if (!resolve(o))
                return false;
        return true;
    }

    // The variable a node stands for, added at its first appearance.
    int variable(const formula_node& node) {
        const std::string label = variable_label(node);
        for (std::size_t v = 0; v < out_.variables.size(); ++v)
            if (out_.variables[v].label == label)
                return static_cast<int>(v);
        model_variable var;
        var.label = label;
        var.value = node.value;
        var.forced_categorical = node.categorical;
        var.plain_column = !node.categorical && node.value.kind == expression_kind::column;
        if (!resolve(var.value))
            return -1;
        if (var.value.kind == expression_kind::column)
            var.slot = var.value.slot;
        out_.variables.push_back(var);
        return static_cast<int>(out_.variables.size() - 1);
    }

    term_algebra expand(const formula_node& node) {
        term_algebra result;
        if (!ok_)
            return result;
        switch (node.kind) {
        case formula_kind::nothing:
            return result;
        case formula_kind::one:
            result.terms.push_back({});
            return result;
        case formula_kind::zero:
            result.intercept = false;
            return result;
        case formula_kind::variable: {
            const int v = variable(node);
            if (v >= 0)
                result.terms.push_back({v});
            return result;
        }
        case formula_kind::every_other: {
            std::vector<std::string> response_columns;
            columns_of(out_.response, response_columns);
            for (std::size_t c = 0; c < names_.size(); ++c) {
                if (std::find(excluded_.begin(), excluded_.end(), c) != excluded_.end() ||
                    std::find(response_columns.begin(), response_columns.end(), names_[c]) !=
                        response_columns.end())
                    continue;
                formula_node column;
                column.kind = formula_kind::variable;
                column.value.kind = expression_kind::column;
                column.value.text = names_[c];
                column.value.quoted = !plain_name(names_[c]);
                const int v = variable(column);
                if (v >= 0)
                    add_term(result.terms, {v});
            }
            return result;
        }
        case formula_kind::add: {
            term_algebra left = expand(node.operands[0]);
            const term_algebra right = expand(node.operands[1]);
            for (const auto& t : right.terms)
                add_term(left.terms, t);
            left.intercept = left.intercept && right.intercept;
            return left;
        }
        case formula_kind::remove: {
            term_algebra left = expand(node.operands[0]);
            const term_algebra right = expand(node.operands[1]);
            for (const auto& t : right.terms) {
                if (t.empty())
                    left.intercept = false;
                left.terms.erase(std::remove(left.terms.begin(), left.terms.end(), t),
                                 left.terms.end());
            }
            if (!right.intercept) // "- 0" puts the intercept back, as in R
                left.intercept = true;
            return left;
        }
        case formula_kind::interaction:
        case formula_kind::crossing: {
            const term_algebra left = expand(node.operands[0]);
            const term_algebra right = expand(node.operands[1]);
            if (!ok_)
                return result;
            if (!left.intercept || !right.intercept || has_empty(left) || has_empty(right)) {
                fail_usage(node.position, "an interaction joins terms, not 1 or 0");
                return result;
            }
            if (node.kind == formula_kind::crossing) {
                result.terms = left.terms;
                for (const auto& t : right.terms)
                    add_term(result.terms, t);
            }
            for (const auto& a : left.terms) {
                for (const auto& b : right.terms) {
                    std::vector<int> joined = a;
                    joined.insert(joined.end(), b.begin(), b.end());
                    std::sort(joined.begin(), joined.end());
                    joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
                    add_term(result.terms, joined);
                }
            }
            return result;
        }
        }
        return result;
    }

    void fail(const std::string& error) {
        if (!ok_)
            return;
        ok_ = false;
        out_.error = error;
    }
    void fail_usage(std::size_t position, const std::string& what) {
        fail("at character " + std::to_string(position) + ": " + what);
        out_.usage_error = true;
    }
    bool ok() const { return ok_; }

  private:
    static bool has_empty(const term_algebra& a) {
        return std::any_of(a.terms.begin(), a.terms.end(),
                           [](const std::vector<int>& t) { return t.empty(); });
    }
    static bool plain_name(const std::string& name) {
        if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '.'))
            return false;
        return std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_';
        });
    }

    const std::vector<std::string>& names_;
    const std::vector<std::size_t>& excluded_;
    model_terms& out_;
    bool ok_ = true;
};

// Orders the terms by their number of variables, keeping the formula's
// order among equals, and labels them.
void finish_terms(const term_set& set, model_terms& out) {
    term_set ordered;
    for (const auto& t : set)
        if (!t.empty())
            ordered.push_back(t);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.size() < b.size(); });
    for (const auto& t : ordered) {
        model_term term;
        term.variables = t;
        for (int v : t)
            term.label += (term.label.empty() ? "" : ":") + out.variables[v].label;
        out.terms.push_back(term);
    }
}

} // namespace

model_terms expand_formula(const std::string& text, const std::vector<std::string>& names,
                           const std::vector<std::size_t>& excluded) {
    model_terms out;
    const formula_syntax syntax = parse_linear_formula(text);
    if (!syntax.ok) {
        out.usage_error = true;
        out.error = "--formula: " + syntax.error;
        return out;
    }
    expander e(names, excluded, out);
    out.response = syntax.response;
    out.response_label = deparse(syntax.response);
    if (!e.resolve(out.response)) {
        out.error = "--formula: " + out.error;
        return out;
    }
    const term_algebra algebra = e.expand(syntax.terms);
    if (!e.ok()) {
        out.error = "--formula: " + out.error;
        return out;
    }
    out.intercept = algebra.intercept;
    finish_terms(algebra.terms, out);
    if (out.terms.empty() && !out.intercept) {
        out.usage_error = true;
        out.error = "--formula: the model has no terms";
        return out;
    }
    out.ok = true;
    return out;
}

model_terms terms_of_columns(std::size_t response, const std::vector<std::size_t>& predictors,
                             const std::vector<std::string>& names, bool intercept) {
    model_terms out;
    out.intercept = intercept;
    out.columns.push_back(response);
    out.response.kind = expression_kind::column;
    out.response.text = names[response];
    out.response_label = names[response];
    term_set set;
    for (std::size_t c : predictors) {
        model_variable var;
        var.label = names[c];
        var.plain_column = true;
        var.slot = out.columns.size();
        var.value.kind = expression_kind::column;
        var.value.text = names[c];
        var.value.slot = var.slot;
        out.columns.push_back(c);
        out.variables.push_back(var);
        set.push_back({static_cast<int>(out.variables.size() - 1)});
    }
    finish_terms(set, out);
    out.ok = true;
    return out;
}

namespace {

void mark_slots(const term_expression& e, std::vector<bool>& used) {
    if (e.kind == expression_kind::column)
        used[e.slot] = true;
    for (const term_expression& o : e.operands)
        mark_slots(o, used);
}

void move_slots(term_expression& e, const std::vector<std::size_t>& slot_at) {
    if (e.kind == expression_kind::column)
        e.slot = slot_at[e.slot];
    for (term_expression& o : e.operands)
        move_slots(o, slot_at);
}

} // namespace

model_terms terms_subset(const model_terms& all, const std::vector<int>& kept) {
    model_terms out = all;
    out.variables.clear();
    out.terms.clear();
    out.columns.clear();
    // The variables the kept terms join, in their first order, and the
    // slots those and the response read.
    std::vector<int> variable_at(all.variables.size(), -1);
    for (int t : kept)
        for (int v : all.terms[static_cast<std::size_t>(t)].variables)
            variable_at[static_cast<std::size_t>(v)] = 0;
    std::vector<bool> used(all.columns.size(), false);
    mark_slots(all.response, used);
    int next = 0;
    for (std::size_t v = 0; v < all.variables.size(); ++v) {
        if (variable_at[v] < 0)
            continue;
        variable_at[v] = next++;
        mark_slots(all.variables[v].value, used);
        used[all.variables[v].slot] = true;
    }
    std::vector<std::size_t> slot_at(all.columns.size(), 0);
    for (std::size_t s = 0; s < all.columns.size(); ++s) {
        if (!used[s])
            continue;
        slot_at[s] = out.columns.size();
        out.columns.push_back(all.columns[s]);
    }
    move_slots(out.response, slot_at);
    for (std::size_t v = 0; v < all.variables.size(); ++v) {
        if (variable_at[v] < 0)
            continue;
        model_variable var = all.variables[v];
        move_slots(var.value, slot_at);
        var.slot = slot_at[var.slot];
        out.variables.push_back(var);
    }
    for (int t : kept) {
        model_term term = all.terms[static_cast<std::size_t>(t)];
        for (int& v : term.variables)
            v = variable_at[static_cast<std::size_t>(v)];
        out.terms.push_back(term);
    }
    return out;
}

} // namespace models

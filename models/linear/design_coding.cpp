#include "design_coding.h"

#include <algorithm>
#include <cmath>

namespace models {

namespace {

bool contains_all(const std::vector<int>& outer, const std::vector<int>& inner) {
    return std::includes(outer.begin(), outer.end(), inner.begin(), inner.end());
}

// R's rule: a categorical variable is coded by contrasts when the term
// without it is empty or contained in an earlier term; else by indicators.
bool by_contrasts(const model_terms& terms, std::size_t t, int variable) {
    std::vector<int> rest;
    for (int v : terms.terms[t].variables)
        if (v != variable)
            rest.push_back(v);
    if (rest.empty())
        return true;
    for (std::size_t u = 0; u < t; ++u)
        if (contains_all(terms.terms[u].variables, rest))
            return true;
    return false;
}

} // namespace

design_coding code_design(const model_terms& terms, const std::vector<const level_table*>& levels) {
    design_coding coding;
    coding.intercept = terms.intercept;
    coding.levels = levels;
    bool first_factor_done = terms.intercept;
    for (std::size_t t = 0; t < terms.terms.size(); ++t) {
        const model_term& term = terms.terms[t];
        // Per categorical variable of the term: the levels its columns take.
        std::vector<std::pair<int, std::vector<int>>> factors;
        std::vector<int> numeric;
        for (int v : term.variables) {
            if (!levels[v]) {
                numeric.push_back(v);
                continue;
            }
            std::vector<int> ids = levels[v]->sorted_ids();
            bool contrasts = by_contrasts(terms, t, v);
            if (!first_factor_done) {
                contrasts = false;
                first_factor_done = true;
            }
            if (contrasts && !ids.empty())
                ids.erase(ids.begin());
            factors.push_back({v, ids});
        }
        // Every combination of the factors' levels, the first fastest.
        std::vector<std::size_t> at(factors.size(), 0);
        bool empty = std::any_of(factors.begin(), factors.end(),
                                 [](const auto& f) { return f.second.empty(); });
        while (!empty) {
            design_column column;
            column.term = static_cast<int>(t);
            column.numeric = numeric;
            for (std::size_t f = 0; f < factors.size(); ++f)
                column.indicators.push_back({factors[f].first, factors[f].second[at[f]]});
            for (int v : term.variables) {
                std::string part = terms.variables[v].label;
                for (const auto& ind : column.indicators)
                    if (ind.first == v)
                        part += "[" + levels[v]->text(ind.second) + "]";
                column.name += (column.name.empty() ? "" : ":") + part;
            }
            coding.columns.push_back(column);
            std::size_t f = 0;
            for (; f < factors.size(); ++f) {
                if (++at[f] < factors[f].second.size())
                    break;
                at[f] = 0;
            }
            if (f == factors.size())
                break;
        }
    }
    return coding;
}

std::vector<std::string> coefficient_names(const design_coding& coding) {
    std::vector<std::string> names;
    if (coding.intercept)
        names.push_back("(intercept)");
    for (const auto& c : coding.columns)
        names.push_back(c.name);
    return names;
}

std::vector<int> coefficient_terms(const design_coding& coding) {
    std::vector<int> terms;
    if (coding.intercept)
        terms.push_back(-1);
    for (const auto& c : coding.columns)
        terms.push_back(c.term);
    return terms;
}

row_expander::row_expander(const model_terms& terms, const design_coding& coding)
    : terms_(terms), coding_(coding), values_(terms.variables.size()) {}

bool row_expander::expand(const double* raw, double& y, double* x) {
    y = evaluate(terms_.response, raw);
    bool finite = std::isfinite(y);
    for (std::size_t v = 0; v < values_.size(); ++v) {
        const model_variable& var = terms_.variables[v];
        values_[v] = coding_.levels[v]  ? raw[var.slot]
                     : var.plain_column ? raw[var.slot]
                                        : evaluate(var.value, raw);
        finite = finite && std::isfinite(values_[v]);
    }
    const std::size_t width = coding_.columns.size();
    for (std::size_t j = 0; j < width; ++j) {
        const design_column& c = coding_.columns[j];
        double value = 1;
        for (const auto& ind : c.indicators)
            if (values_[ind.first] != ind.second)
                value = 0;
        if (value != 0)
            for (int v : c.numeric)
                value *= values_[v];
        x[j] = value;
        finite = finite && std::isfinite(value);
    }
    return finite;
}

std::string row_expander::why(const double* raw) const {
    std::string step = undefined_step(terms_.response, raw);
    if (!step.empty())
        return terms_.response_label + ": " + step;
    for (std::size_t v = 0; v < values_.size(); ++v) {
        const model_variable& var = terms_.variables[v];
        if (coding_.levels[v])
            continue;
        step = undefined_step(var.value, raw);
        if (!step.empty())
            return var.label + ": " + step;
    }
    return "a product of the terms overflows";
}

} // namespace models

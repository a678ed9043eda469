#include "report.h"

#include "text_encoding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace models {

namespace {

// A number as the text report shows it: digits significant digits, or "NA"
// where the value does not apply.
std::string shown(double value, int digits = 7) {
    if (std::isnan(value))
        return "NA";
    if (std::isinf(value))
        return value > 0 ? "Inf" : "-Inf";
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

std::string shown_p(double p) {
    if (std::isnan(p))
        return "NA";
    if (p < 2.2e-16)
        return "<2.2e-16";
    return shown(p, 3);
}

std::string padded(const std::string& text, std::size_t width, bool left) {
    if (text.size() >= width)
        return text;
    const std::string fill(width - text.size(), ' ');
    return left ? text + fill : fill + text;
}

// A table of the coefficients' names and the given columns, each right-
// aligned in its width; narrow enough for an 80-column console.
struct table_column {
    std::string head;
    std::size_t width;
    std::string (*cell)(const coefficient&);
};

std::string table_of(const std::vector<coefficient>& rows,
                     const std::vector<table_column>& columns) {
    std::size_t name_width = 11;
    for (const auto& row : rows)
        name_width = std::max(name_width, row.name.size());
    std::string text = padded("", name_width, true);
    for (const auto& column : columns)
        text += "  " + padded(column.head, column.width, false);
    text += "\n";
    for (const auto& row : rows) {
        text += padded(row.name, name_width, true);
        for (const auto& column : columns)
            text += "  " + padded(column.cell(row), column.width, false);
        text += "\n";
    }
    return text;
}

std::string coefficient_table(const std::vector<coefficient>& rows) {
    return table_of(rows,
                    {{"Estimate", 13, [](const coefficient& c) { return shown(c.estimate); }},
                     {"Std. Error", 12, [](const coefficient& c) { return shown(c.std_error); }},
                     {"t value", 8, [](const coefficient& c) { return shown(c.t, 4); }},
                     {"Pr(>|t|)", 9, [](const coefficient& c) { return shown_p(c.p); }}});
}

std::string interval_table(const std::vector<coefficient>& rows, double level) {
    const std::string percent = shown(100 * level, 6) + "%";
    const std::string low = percent + " low", high = percent + " high";
    return table_of(rows,
                    {{low.c_str(), 13, [](const coefficient& c) { return shown(c.ci_low); }},
                     {high.c_str(), 13, [](const coefficient& c) { return shown(c.ci_high); }}});
}

std::string model_title(const std::string& model) {
    std::string title = model.empty() ? std::string("Model") : model;
    title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
    return title + " model";
}

std::string joined(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i ? separator : "") + names[i];
    return text;
}

} // namespace

std::string text_report(const fit_report& r) {
    std::string text;
    for (const auto& line : r.preface_text)
        text += line + "\n";
    if (!r.preface_text.empty())
        text += "\n";
    text += model_title(r.model) + " (" + r.program + ")\n";
    text += "Data:     " + r.data_file + "\n";
    text += "Rows:     " + std::to_string(r.rows) + " in the file, " + std::to_string(r.used) +
            " used, " + std::to_string(r.skipped) + " skipped (a missing value)\n";
    text += "Formula:  " + r.formula + "\n\n";
    text += "Coefficients:\n" + coefficient_table(r.estimates) + "\n";
    text += "Confidence intervals:\n" + interval_table(r.estimates, r.level) + "\n";
    text += "Residual standard deviation: " + shown(r.residual_sd) + " on " + std::to_string(r.df) +
            " degrees of freedom\n";
    text += "Residual sum of squares:     " + shown(r.rss, 10) + "\n";
    if (!std::isnan(r.r_squared)) {
        text += std::string(r.uncentred ? "R-squared (uncentred): " : "R-squared: ") +
                shown(r.r_squared, 10) + ",  adjusted: " + shown(r.adj_r_squared, 10) + "\n";
    }
    if (!std::isnan(r.f)) {
        text += "F: " + shown(r.f) + " on " + shown(r.f_df1) + " and " + shown(r.f_df2) +
                " degrees of freedom,  p-value: " + shown_p(r.f_p) + "\n";
    }
    text += "Log-likelihood: " + shown(r.log_likelihood) + ",  AIC: " + shown(r.aic) +
            ",  BIC: " + shown(r.bic) + "\n";
    if (!r.aliased.empty()) {
        text +=
            "Aliased (exact combinations of other terms, not fitted): " + joined(r.aliased, ", ") +
            "\n";
    }
    for (const auto& line : r.extra_text)
        text += line + "\n";
    return text;
}

std::string json_number(double value) {
    if (!std::isfinite(value))
        return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string json_string(const std::string& raw) {
    const std::string text = as_utf8(raw);
    std::string quoted = "\"";
    for (const unsigned char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                quoted += escaped;
            } else {
                quoted += static_cast<char>(c);
            }
        }
    }
    return quoted + "\"";
}

std::string json_array(const std::vector<std::string>& items) {
    return "[" + joined(items, ", ") + "]";
}

std::string json_report(const fit_report& r) {
    std::vector<std::string> estimates;
    for (const auto& e : r.estimates) {
        estimates.push_back(
            "{\"name\": " + json_string(e.name) + ", \"estimate\": " + json_number(e.estimate) +
            ", \"std_error\": " + json_number(e.std_error) + ", \"t\": " + json_number(e.t) +
            ", \"p\": " + json_number(e.p) + ", \"ci_low\": " + json_number(e.ci_low) +
            ", \"ci_high\": " + json_number(e.ci_high) + "}");
    }
    std::vector<std::string> aliased;
    for (const auto& name : r.aliased)
        aliased.push_back(json_string(name));
    const std::pair<const char*, std::string> members[] = {
        {"program", json_string(r.program)},
        {"model", json_string(r.model)},
        {"data", "{\"file\": " + json_string(r.data_file) + ", \"rows\": " +
                     std::to_string(r.rows) + ", \"used\": " + std::to_string(r.used) +
                     ", \"skipped\": " + std::to_string(r.skipped) + "}"},
        {"response", json_string(r.response)},
        {"formula", json_string(r.formula)},
        {"estimates", json_array(estimates)},
        {"n", std::to_string(r.n)},
        {"df", std::to_string(r.df)},
        {"rss", json_number(r.rss)},
        {"residual_sd", json_number(r.residual_sd)},
        {"r_squared", json_number(r.r_squared)},
        {"adj_r_squared", json_number(r.adj_r_squared)},
        {"f", json_number(r.f)},
        {"f_p", json_number(r.f_p)},
        {"log_likelihood", json_number(r.log_likelihood)},
        {"aic", json_number(r.aic)},
        {"bic", json_number(r.bic)},
        {"aliased", json_array(aliased)},
    };
    std::string text = "{";
    const char* separator = "";
    for (const auto& member : members) {
        text += separator + json_string(member.first) + ": " + member.second;
        separator = ", ";
    }
    for (const auto& member : r.extra_json)
        text += ", " + json_string(member.first) + ": " + member.second;
    return text + "}\n";
}

} // namespace models

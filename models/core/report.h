// A fitted model's report, the same for every model program: the text that
// analysts read on the screen and the JSON object that scripts read back.
#pragma once

#include "statistics.h"

#include <string>
#include <utility>
#include <vector>

namespace models {

struct fit_report {
    std::string program; // "ROSKA_mid_15"
    std::string model;   // "linear", "curve-linear", "non-linear", ...
    std::string data_file;
    long long rows = 0;    // data rows in the file
    long long used = 0;    // rows fitted
    long long skipped = 0; // rows with a missing value in a used column
    std::string response;
    std::string formula; // "y ~ x1 + x2", "y ~ b1*(1-exp(-b2*x))"
    std::vector<coefficient> estimates;
    double level = 0.95; // of the estimates' intervals
    long long n = 0;
    long long df = 0; // residual degrees of freedom
    double rss = 0;
    double residual_sd = 0;
    // NaN where a value does not apply (JSON null): R² and F of non-linear
    // models, F of a model with no term but the intercept.
    double r_squared = 0;
    double adj_r_squared = 0;
    bool uncentred = false; // R² and F relative to zero (no intercept)
    double f = 0;
    double f_df1 = 0;
    double f_df2 = 0;
    double f_p = 0;
    double log_likelihood = 0;
    double aic = 0;
    double bic = 0;
    std::vector<std::string> aliased;
    // Further members of the JSON object, each a name and its JSON text as
    // written with json_number, json_string and the like ("converged",
    // "candidates", ...). Written after the common members, in order.
    std::vector<std::pair<std::string, std::string>> extra_json;
    // Text written before the common report (the table of candidates a best
    // model was chosen from).
    std::vector<std::string> preface_text;
    // Further text, written after the common report (a table of candidates,
    // a note on convergence).
    std::vector<std::string> extra_text;
};

// The text report: formula, rows, coefficient table, residual SD, R², F,
// log-likelihood, AIC, BIC, aliased terms, then extra_text. Lines end in LF.
std::string text_report(const fit_report& report);

// The JSON report: one object, numbers with 17 significant digits, null for
// values that are not finite. Ends in LF.
std::string json_report(const fit_report& report);

// JSON pieces for extra_json and for tests.
std::string json_number(double value);            // 17 significant digits; null when not finite
std::string json_string(const std::string& text); // quoted, escaped (UTF-8 passed through)
std::string json_array(const std::vector<std::string>& items); // items already JSON

} // namespace models

// Choice of a polynomial's degree for y on x: degrees 1..D fitted in an
// orthonormal basis, each with its RSS, AIC, AICc, BIC and leave-one-out
// cross-validation, and the degree that a criterion prefers. The raw power
// coefficients of the chosen degree are not computed here.
#pragma once

#include "criterion.h"

#include <string>
#include <vector>

namespace models {

// A degree is chosen by one of degree_criteria (criterion.h).
using degree_criterion = criterion_id;

constexpr int default_max_degree = 6;
constexpr int largest_max_degree = 15;

struct degree_fit {
    int degree = 0;
    bool available = false; // false: left out, reason says why
    std::string reason;
    double rss = 0;
    double aic = 0;
    double aicc = 0; // NaN when n <= coefficients + 2
    double bic = 0;
    // Leave-one-out: PRESS = sum (e_i / (1 - h_ii))^2 and its mean. Not
    // applicable (cv_applicable false, both infinite) when a hat value is 1
    // within rounding: that row's own value alone fixes its fit.
    bool cv_applicable = false;
    double press = 0;
    double cv = 0;
};

struct degree_choice {
    bool ok = false;
    std::string error;            // why nothing could be fitted
    std::vector<degree_fit> fits; // degrees 1..D in order
    int chosen = 0;               // the preferred degree; 0 when the criterion applies to none
};

// x and y hold the complete rows (missing values already dropped).
degree_choice choose_degree(const std::vector<double>& x, const std::vector<double>& y,
                            int max_degree = default_max_degree,
                            degree_criterion criterion = degree_criterion::cv);

} // namespace models

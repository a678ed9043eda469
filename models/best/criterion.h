// The criteria by which the best-model programs choose: their names, their
// parsing (in any case), and the Gaussian information criteria of a
// least-squares fit. One place for all three programs and the command line.
//
// AIC, AICc and BIC count the residual variance as one more parameter:
// with k coefficients and the maximum-likelihood variance RSS / n,
//   -2 log L = n log(2 pi RSS / n) + n,
//   AIC = -2 log L + 2 (k + 1), BIC = -2 log L + (k + 1) log n,
//   AICc = AIC + 2 (k + 1)(k + 2) / (n - k - 2), undefined (NaN) when
//   n <= k + 2.
// Mallows' Cp and adjusted R² (best subsets) and leave-one-out
// cross-validation (the polynomial degree) are computed where they apply.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace models {

enum class criterion_id { aic, aicc, bic, cp, adjr2, cv };

// A set of criteria, one bit per criterion_id.
using criterion_set = unsigned;
constexpr criterion_set criterion_bit(criterion_id c) {
    return 1u << static_cast<unsigned>(c);
}
// What each best-model program chooses by.
constexpr criterion_set subset_criteria =
    criterion_bit(criterion_id::aic) | criterion_bit(criterion_id::aicc) |
    criterion_bit(criterion_id::bic) | criterion_bit(criterion_id::cp) |
    criterion_bit(criterion_id::adjr2);
constexpr criterion_set degree_criteria =
    criterion_bit(criterion_id::aic) | criterion_bit(criterion_id::aicc) |
    criterion_bit(criterion_id::bic) | criterion_bit(criterion_id::cv);
constexpr criterion_set family_criteria = criterion_bit(criterion_id::aic) |
                                          criterion_bit(criterion_id::aicc) |
                                          criterion_bit(criterion_id::bic);

// The criterion of `allowed` named by text in any case ("AICc", "bic");
// nothing for other text.
std::optional<criterion_id> criterion_named(std::string_view text, criterion_set allowed);
// Its name as written in reports and JSON: "aic", "aicc", "bic", "cp",
// "adjr2", "cv".
const char* criterion_label(criterion_id c);
// The names of a set joined by `separator`: "aic|aicc|bic".
std::string criteria_list(criterion_set allowed, std::string_view separator = "|");
// Adjusted R² is better when higher; the others when lower.
bool higher_is_better(criterion_id c);

struct gaussian_scores {
    double aic = 0;
    double aicc = 0; // NaN when n <= coefficients + 2
    double bic = 0;
};
gaussian_scores gaussian_scores_of(double rss, double n, int coefficients);

} // namespace models

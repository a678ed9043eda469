#include "criterion.h"

#include <cctype>
#include <cmath>
#include <limits>

namespace models {
namespace {

constexpr double two_pi = 6.283185307179586;

struct criterion_entry {
    criterion_id id;
    const char* name;
};
constexpr criterion_entry criterion_table[] = {
    {criterion_id::aic, "aic"}, {criterion_id::aicc, "aicc"},   {criterion_id::bic, "bic"},
    {criterion_id::cp, "cp"},   {criterion_id::adjr2, "adjr2"}, {criterion_id::cv, "cv"}};

} // namespace

std::optional<criterion_id> criterion_named(std::string_view text, criterion_set allowed) {
    std::string lower(text);
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const auto& e : criterion_table)
        if ((allowed & criterion_bit(e.id)) && lower == e.name)
            return e.id;
    return std::nullopt;
}

const char* criterion_label(criterion_id c) {
    for (const auto& e : criterion_table)
        if (e.id == c)
            return e.name;
    return "";
}

std::string criteria_list(criterion_set allowed, std::string_view separator) {
    std::string list;
    for (const auto& e : criterion_table)
        if (allowed & criterion_bit(e.id))
            list += (list.empty() ? "" : std::string(separator)) + e.name;
    return list;
}

bool higher_is_better(criterion_id c) {
    return c == criterion_id::adjr2;
}

gaussian_scores gaussian_scores_of(double rss, double n, int coefficients) {
    const double params = coefficients + 1.0; // and the variance
    const double deviance = n * std::log(two_pi * rss / n) + n;
    gaussian_scores g;
    g.aic = deviance + 2 * params;
    g.aicc = n - params - 1 > 0 ? g.aic + 2 * params * (params + 1) / (n - params - 1)
                                : std::numeric_limits<double>::quiet_NaN();
    g.bic = deviance + params * std::log(n);
    return g;
}

} // namespace models

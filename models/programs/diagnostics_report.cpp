#include "diagnostics_report.h"

#include "model_run.h"

#include <cmath>

namespace models {

namespace {

// What the condition number is of, said in the report.
constexpr const char* condition_of = "model matrix, columns scaled to unit length";

std::string number(double value) {
    return std::isfinite(value) ? short_number(value, 6) : std::string("n/a");
}

} // namespace

void note_diagnostics(fit_report& report, const linear_diagnostics& g,
                      const std::vector<std::string>& names, bool weighted) {
    const double dw = weighted ? NAN : g.durbin_watson;
    std::vector<std::string> vif_json;
    std::string vif_text;
    for (std::size_t j = 0; j < g.vif.size() && j < names.size(); ++j) {
        if (std::isnan(g.vif[j]))
            continue;
        vif_json.push_back(json_string(names[j]) + ": " + json_number(g.vif[j]));
        vif_text += (vif_text.empty() ? "" : ", ") + names[j] + " " + number(g.vif[j]);
    }
    std::string vif_object = "{";
    for (std::size_t i = 0; i < vif_json.size(); ++i)
        vif_object += (i ? ", " : "") + vif_json[i];
    vif_object += "}";
    report.extra_json.push_back(
        {"diagnostics",
         "{\"durbin_watson\": " + json_number(dw) +
             ", \"breusch_pagan\": {\"statistic\": " + json_number(g.bp_statistic) +
             ", \"df\": " + json_number(g.bp_df) + ", \"p\": " + json_number(g.bp_p) +
             "}, \"jarque_bera\": {\"statistic\": " + json_number(g.jb_statistic) + ", \"p\": " +
             json_number(g.jb_p) + "}, \"condition_number\": " + json_number(g.condition_number) +
             ", \"condition_number_of\": " + json_string(condition_of) +
             ", \"vif\": " + vif_object + "}"});
    auto& text = report.extra_text;
    text.push_back("Diagnostics:");
    // Neither test is given for a weighted fit (JSON null): no line of
    // "n/a" for them.
    if (!weighted) {
        text.push_back("  Durbin-Watson: " + number(dw));
        text.push_back("  Breusch-Pagan (studentized): " + number(g.bp_statistic) + " on " +
                       number(g.bp_df) + " df, p " + number(g.bp_p));
    }
    text.push_back("  Jarque-Bera: " + number(g.jb_statistic) + " on 2 df, p " + number(g.jb_p));
    text.push_back("  Condition number: " + number(g.condition_number) + " (" + condition_of + ")");
    if (!vif_text.empty())
        text.push_back("  VIF: " + vif_text);
}

} // namespace models

// The model programs' batch runs and dialogue, natively: the command line,
// the exit statuses with their reasons, and each model's report on small
// files whose answers are known.
#include "batch.h"
#include "console_layout.h"
#include "dialogue.h"
#include "fit_plot.h"
#include "formula_fit.h"
#include "influence.h"
#include "number_text.h"

#include <Eigen/Dense>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <random>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace models;

namespace {

// Tests run in parallel processes write files of the same names (with the
// same text): each is written under a name of its own and renamed into
// place, so that no test reads another's half-written file.
std::string temp_file(const std::string& name, const std::string& text) {
    const std::string path = testing::TempDir() + name;
    const std::string part = path + "." + std::to_string(getpid());
    std::ofstream(part, std::ios::binary) << text;
    std::rename(part.c_str(), path.c_str());
    return path;
}

// y = 1 + 2 x1 - x2 + small noise, x3 unrelated; one row with a missing value.
std::string linear_data() {
    std::string text = "y,x1,x2,x3\n";
    for (int i = 0; i < 30; ++i) {
        const double x1 = i * 0.5, x2 = (i * 7) % 11, x3 = (i * 5) % 13;
        const double noise = ((i * 37) % 17 - 8) * 0.01;
        text += std::to_string(1 + 2 * x1 - x2 + noise) + "," + std::to_string(x1) + "," +
                std::to_string(x2) + "," + std::to_string(x3) + "\n";
    }
    return text + "NA,1,2,3\n";
}

// A cubic trend in x with a little noise, and an exponential decay.
std::string curve_data() {
    std::string text = "y;x;decay\n";
    for (int i = 0; i < 40; ++i) {
        const double x = -2 + i * 0.1, noise = ((i * 29) % 13 - 6) * 0.002;
        text += std::to_string(0.5 - x + 0.3 * x * x * x + noise) + ";" + std::to_string(x) + ";" +
                std::to_string(5 * std::exp(-0.7 * (x + 2)) * (1 + noise)) + "\n";
    }
    return text;
}

// R's Puromycin data (treated), with case weights.
std::string puromycin_data() {
    return "rate,conc,w\n76,0.02,1\n47,0.02,2\n97,0.06,1\n107,0.06,1\n123,0.11,1\n"
           "139,0.11,0\n159,0.22,1\n152,0.22,1\n191,0.56,1\n201,0.56,1\n207,1.10,1\n"
           "200,1.10,1\n";
}

// Row names, a three-level text column g that shifts y, x1 that drives
// it, x2 unrelated, and case weights w (one 0).
std::string grouped_data() {
    std::string text = "\"\",y,g,x1,x2,w\n";
    const char* levels[] = {"b", "a", "c"};
    const double shifts[] = {3, 0, -2};
    for (int i = 0; i < 30; ++i) {
        const double x1 = i * 0.5, x2 = 1 + (i * 3) % 7;
        const double noise = ((i * 37) % 17 - 8) * 0.05 * (1 + i % 2);
        text += "\"r" + std::to_string(i) + "\"," +
                std::to_string(2 + shifts[i % 3] + 1.5 * x1 + noise) + "," + levels[i % 3] + "," +
                std::to_string(x1) + "," + std::to_string(x2) + "," +
                std::to_string(i == 7 ? 0 : 1 + i % 4) + "\n";
    }
    return text;
}

struct batch_case {
    int model;
    std::vector<std::string> args; // "@lin" and "@curve" stand for the files
    int status;
    std::string expected; // in the output (status 0) or the reason
};

TEST(Batch, StatusesReasonsAndReports) {
    const std::string lin = temp_file("linear.csv", linear_data());
    const std::string curve = temp_file("curve.csv", curve_data());
    const std::string bad = temp_file("bad.csv", "y,x\n1,2\n2,3,4\n");
    // A one-way layout: a text column is categorical (reference "a", sorted
    // first though seen last), row names in an unnamed first column.
    const std::string groups = temp_file(
        "groups.csv", "\"\",y,g,w,x\n\"r1\",1,b,1,1\n\"r2\",2,b,2,2\n\"r3\",4,c,1,3\n"
                      "\"r4\",6,c,0,4\n\"r5\",5,c,1,5\n\"r6\",3,a,2,6\n\"r7\",2,a,1,-1\n");
    const std::string pur = temp_file("puromycin.csv", puromycin_data());
    const std::string mm = "rate ~ Vm*conc/(K+conc)";
    const std::string grouped = temp_file("grouped.csv", grouped_data());
    const std::string g3 = "y ~ g + x1 + log(x2)";
    const batch_case cases[] = {
        {1, {"@lin", "--json"}, 0, "\"skipped\": 1"},
        {1, {"@lin", "--x", "x1,x2"}, 0, "y ~ x1 + x2"},
        {1,
         {"@lin", "--x", "2~3", "--no-intercept", "--json"},
         0,
         "\"formula\": \"y ~ 0 + x1 + x2\""},
        {1, {"@lin", "--y", "zzz"}, 1, "--y"},
        {1, {"@lin", "--bogus"}, 2, "unknown option"},
        {1, {"@lin", "--degree", "2"}, 2, "unknown option"},
        {1, {}, 2, "no data file"},
        {1, {"missing.csv"}, 1, "missing.csv"},
        {1, {bad}, 1, "line 3"},
        {3, {"@curve", "--degree", "3", "--json"}, 0, "\"name\": \"x^3\""},
        {3, {"@curve", "--x", "2,3"}, 2, "one predictor"},
        {3, {"@curve", "--degree", "16"}, 2, "1 to 15"},
        {2,
         {"@curve", "--formula", "y ~ b0 + b1*x + b2*x^3", "--start", "b0=0 b1=0 b2=0", "--json"},
         0,
         "\"converged\": true"},
        {2, {"@curve", "--formula", "y ~ b1*(x +", "--start", "b1=1"}, 2, "column"},
        {2, {"@curve", "--formula", "y ~ b1*x"}, 2, "b1"},
        // From a sign slip the false optimum (its pole inside the data) is
        // left for the true minimum; the other options of the model.
        {2,
         {"@pur", "--formula", mm, "--start", "Vm=200, K=-0.05", "--json"},
         0,
         "\"rss\": 1195.44881443"},
        {2,
         {"@pur", "--formula", mm, "--start", "Vm=200, K=-0.05", "--json"},
         0,
         "\"restarted\": true"},
        {2,
         {"@pur", "--formula", "rate ~ Vm*cnoc/(K+cnoc)", "--start", "Vm=200 K=1"},
         2,
         "'cnoc' is not a column (did you mean 'conc'?)"},
        {2,
         {"@pur", "--formula", mm + " + e", "--start", "Vm=200 K=.1 e=0", "--json"},
         0,
         "\"name\": \"e\""},
        {2,
         {"@pur", "--formula", mm, "--start", "Vm=200 K=.1", "--bounds", "K<=0.05"},
         0,
         "K is at its upper bound: no standard error or interval."},
        {2, {"@pur", "--formula", mm, "--start", "Vm=200 K=.1", "--bounds", "K=>0"}, 2, "--bounds"},
        {2,
         {"@pur", "--formula", mm, "--start", "Vm=200 K=.1", "--weights", "w", "--json"},
         0,
         "\"rss\": 1177.130182"},
        {2,
         {"@pur", "--formula", mm, "--start", "Vm=200 K=.1", "--weights", "w", "--json"},
         0,
         "\"log_likelihood\": -40.9629"},
        {2, {"@pur", "--formula", mm, "--start", "Vm=200 K=.1", "--weights", "ww"}, 1, "--weights"},
        {2,
         {"@pur", "--formula", mm, "--start", "Vm=200 K=.1", "--ci", "profile", "--json"},
         0,
         "\"ci_low\": 0.04692"},
        {2, {"@pur", "--formula", mm, "--start", "Vm=200 K=.1", "--level", "0.9"}, 0, "90% low"},
        {5, {"@pur", "--weights", "w", "--json"}, 0, "\"weights\": \"w\""},
        {2,
         {"@pur", "--formula", mm, "--start", "Vm=200 K=.1", "--bounds", "K>=0.055", "--ci",
          "profile", "--json"},
         0,
         "\"ci_at_bound\": [{\"name\": \"K\", \"end\": \"lower\"}]"},
        {5, {"@pur"}, 0, "RSS 1009.125 (b2 at its natural bound)"},
        {4, {"@lin", "--json"}, 0, "\"candidates\""},
        {4, {"@lin", "--criterion", "cp"}, 0, "by cp"},
        {4, {"@lin", "--criterion", "cv"}, 2, "--criterion"},
        {4, {"@lin", "--criterion", "ADJR2"}, 0, "by adjr2"},
        {4, {"@lin", "--force-in", "x3", "--json"}, 0, "\"formula\": \"y ~ x1 + x2 + x3\""},
        {4, {"@lin", "--force-in", "x1, x9"}, 2, "\"x9\" is not a candidate"},
        {4, {"@lin", "--force-in", "x1,x2,x3"}, 2, "nothing to choose"},
        {4, {"@lin", "--nbest", "2", "--threads", "2", "--json"}, 0, "\"place\": 2"},
        // The best subset of a formula's terms: a categorical column whole.
        {4, {grouped, "--formula", g3, "--json"}, 0, "\"formula\": \"y ~ g + x1\""},
        {4, {grouped, "--formula", g3, "--nbest", "2"}, 0, "k=1 #2"},
        {4, {grouped, "--formula", g3, "--force-in", "log(x2)"}, 0, "y ~ g + x1 + log(x2)"},
        {4, {grouped, "--formula", "y ~ g*x1", "--force-in", "g:x1"}, 0, ":x1"},
        {4, {grouped, "--formula", g3, "--force-in", "g[b]"}, 2, "candidates are g, x1, log(x2)"},
        {4, {grouped, "--formula", g3, "--anova", "--json"}, 0, "{\"term\": \"g\", \"df\": 2"},
        {4, {grouped, "--formula", g3, "--se", "hc1", "--json"}, 0, "\"se_type\": \"hc1\""},
        {4, {grouped, "--y", "y", "--x", "g,x1,x2", "--json"}, 0, "\"name\": \"g[b]\""},
        {4, {grouped, "--formula", "y ~ g +"}, 2, "at character 8"},
        {4, {grouped, "--formula", "y ~ h"}, 1, "no column \"h\""},
        {4, {grouped, "--formula", "y ~ 1"}, 2, "no terms to choose"},
        {4,
         {grouped, "--formula", "y ~ g + x1 + I(2*x1) + x2", "--force-in", "x2"},
         0,
         "Left out, as aliased with the terms before them: I(2 * x1)"},
        {4,
         {grouped, "--formula", "y ~ g + x1 + I(2*x1)", "--force-in", "I(2*x1)"},
         3,
         "\"I(2 * x1)\" is aliased"},
        {5, {"@curve", "--x", "x", "--y", "decay", "--json"}, 0, "\"candidates\""},
        {6, {"@curve", "--json"}, 0, "\"degree\": 3"},
        {6, {"@curve", "--max-degree", "2", "--json"}, 0, "\"degree\": 2"},
        {1, {"@lin", "--plot", testing::TempDir() + "no/such/folder/p.svg"}, 1, "p.svg"},
        {1, {groups, "--y", "y", "--json"}, 0, "\"name\": \"g[b]\""},
        {1, {groups, "--formula", "y ~ g", "--anova", "--json"}, 0, "{\"term\": \"g\", \"df\": 2"},
        {1, {groups, "--formula", "y ~ g*x", "--level", "0.9"}, 0, "90% low"},
        {1, {groups, "--formula", "y ~ g", "--weights", "w", "--json"}, 0, "\"zero_weights\": 1"},
        {1, {groups, "--formula", "y ~ x", "--se", "hc3", "--json"}, 0, "\"se_type\": \"hc3\""},
        {1, {groups, "--formula", "y ~ log(x)"}, 1, "line 8: log(x): log of -1"},
        {1, {groups, "--formula", "y ~ g +"}, 2, "at character 8"},
        {1, {groups, "--formula", "y ~ g + x", "--plot", testing::TempDir() + "g.svg"}, 0, "g[c]"},
        {1, {groups, "--formula", "y ~ h"}, 1, "no column \"h\""},
        {1,
         {groups, "--formula", "y ~ g", "--weights", "x"},
         1,
         "line 8: the weight -1 is negative"},
        {3, {"@curve", "--degree", "3", "--anova", "--json"}, 0, "{\"term\": \"x^3\", \"df\": 1"},
        {3, {"@curve", "--degree", "2", "--weights", "y"}, 1, "is negative"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args;
        for (const auto& a : c.args)
            args.push_back(a == "@lin" ? lin : a == "@curve" ? curve : a == "@pur" ? pur : a);
        const batch_output out = run_batch(*program_numbered(c.model), args, nullptr);
        std::string said = c.status == 0 ? out.out : out.err;
        std::string shown = "model " + std::to_string(c.model);
        for (const auto& a : c.args)
            shown += " " + a;
        EXPECT_EQ(out.status, c.status) << shown << "\nout: " << out.out << "\nerr: " << out.err;
        EXPECT_NE(said.find(c.expected), std::string::npos)
            << shown << ": expected \"" << c.expected << "\" in:\n"
            << said;
    }
}

TEST(Batch, FormulaQuestionSaysWhatIsWrong) {
    const std::vector<std::string> names = {"", "weight", "group"};
    EXPECT_EQ(formula_problem("weight ~ group", names), "");
    EXPECT_NE(formula_problem("weight ~ group +", names).find("at character 17"),
              std::string::npos);
    EXPECT_NE(formula_problem("weight ~ dose", names).find("no column \"dose\""),
              std::string::npos);
}

TEST(Batch, BestLinearChoosesTheTermsThatMatter) {
    const std::string lin = temp_file("linear.csv", linear_data());
    const batch_output out = run_batch(*program_numbered(4), {lin, "--json"}, nullptr);
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_NE(out.out.find("\"formula\": \"y ~ x1 + x2\""), std::string::npos) << out.out;
}

// The text after key in a JSON report, up to the next comma or bracket.
std::string json_value(const std::string& json, const std::string& key, std::size_t from = 0) {
    const std::size_t at = json.find("\"" + key + "\": ", from);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size() + 4;
    return json.substr(start, json.find_first_of(",}]", start) - start);
}

TEST(Batch, BestTermsKeepAFactorWholeAndAgreeWithTheLinearFit) {
    const std::string grouped = temp_file("grouped.csv", grouped_data());
    for (const bool weighted : {false, true}) {
        const std::vector<std::string> weights = {"--weights", weighted ? "w" : "", "--json"};
        const auto run = [&](int model, const std::string& formula, std::vector<std::string> more) {
            std::vector<std::string> args = {grouped, "--formula", formula};
            args.insert(args.end(), more.begin(), more.end());
            args.insert(args.end(), weights.begin() + (weighted ? 0 : 2), weights.end());
            return run_batch(*program_numbered(model), args, nullptr);
        };
        const batch_output best = run(4, "y ~ x2 + g + x1", {"--nbest", "3"});
        ASSERT_EQ(best.status, 0) << best.err;
        // The factor's two columns are one candidate: never listed apart,
        // and alone its RSS is the one-way fit's.
        const std::size_t listed = best.out.find("\"candidates\"");
        ASSERT_NE(listed, std::string::npos);
        EXPECT_EQ(best.out.find("g[", listed), std::string::npos) << best.out;
        EXPECT_EQ(json_value(best.out, "formula"), "\"y ~ g + x1\"") << weighted;
        const std::size_t alone = best.out.find("{\"terms\": [\"g\"]", listed);
        ASSERT_NE(alone, std::string::npos) << best.out;
        const batch_output one_way = run(1, "y ~ g", {});
        EXPECT_NEAR(std::stod(json_value(best.out, "rss", alone)),
                    std::stod(json_value(one_way.out, "rss")), 1e-9);
        // The chosen terms are fitted as the linear model fits them.
        const batch_output linear = run(1, "y ~ g + x1", {});
        ASSERT_EQ(linear.status, 0) << linear.err;
        const std::size_t chosen = best.out.find("{\"terms\": [\"g\", \"x1\"]", listed);
        ASSERT_NE(chosen, std::string::npos) << best.out;
        EXPECT_NEAR(std::stod(json_value(best.out, "rss", chosen)),
                    std::stod(json_value(linear.out, "rss")), 1e-9);
        EXPECT_NEAR(std::stod(json_value(best.out, "value", chosen)),
                    std::stod(json_value(linear.out, "bic")), 1e-9);
        const auto estimates = [](const std::string& out) {
            const std::size_t from = out.find("\"estimates\"");
            return out.substr(from, out.find("\"diagnostics\"") - from);
        };
        EXPECT_EQ(estimates(best.out), estimates(linear.out));
    }
}

// --no-diagnostics leaves the residual tests out and the rest of the
// report as it was: numeric columns, a formula, the curve and --save.
TEST(Batch, NoDiagnosticsLeavesTheRestAlone) {
    const std::string lin = temp_file("linear.csv", linear_data());
    const std::string curve = temp_file("curve.csv", curve_data());
    const std::string saved = testing::TempDir() + "saved-nd.csv";
    const struct {
        int program;
        std::vector<std::string> args;
    } cases[] = {
        {1, {lin, "--x", "x1,x2"}},
        {1, {lin, "--formula", "y ~ x1 * x2"}},
        {3, {curve, "--degree", "3"}},
        {6, {curve}},
        {1, {lin, "--x", "x1,x3", "--save", saved}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const batch_output full = run_batch(*program_numbered(c.program), args, nullptr);
        args.push_back("--no-diagnostics");
        const batch_output bare = run_batch(*program_numbered(c.program), args, nullptr);
        const std::string shown = "model " + std::to_string(c.program) + ", " + c.args.back();
        ASSERT_EQ(full.status, 0) << shown << full.err;
        ASSERT_EQ(bare.status, 0) << shown << bare.err;
        EXPECT_NE(full.out.find("\"diagnostics\""), std::string::npos) << shown;
        EXPECT_EQ(bare.out.find("\"diagnostics\""), std::string::npos) << shown;
        const std::size_t from = full.out.find("\"estimates\"");
        std::string estimates = full.out.substr(from, full.out.find("\"diagnostics\"") - from);
        while (!estimates.empty() && (estimates.back() == ' ' || estimates.back() == ','))
            estimates.pop_back();
        EXPECT_EQ(bare.out.substr(bare.out.find("\"estimates\""), estimates.size()), estimates)
            << shown;
    }
}

TEST(Batch, PlotIsWrittenWhole) {
    const std::string curve = temp_file("curve.csv", curve_data());
    const std::string svg = testing::TempDir() + "fit.svg";
    const batch_output out =
        run_batch(*program_numbered(3), {curve, "--degree", "3", "--plot", svg}, nullptr);
    ASSERT_EQ(out.status, 0) << out.err;
    std::ifstream file(svg);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_NE(text.find("<svg"), std::string::npos);
    EXPECT_NE(text.find("</svg>"), std::string::npos);
}

// Laid out for a console of several widths: no line is longer than the
// width, no name (a run of characters between spaces, commas, semicolons
// and path separators) that fits a line is broken, and nothing is lost.
TEST(ConsoleLayout, NeverBreaksANameNorPassesTheWidth) {
    const std::string lines[] = {
        "Formula:  Fertility ~ Agriculture + Examination + Education + Catholic + "
        "Infant.Mortality",
        "Formula:  dist ~ speed + speed^2 + speed^3 + speed^4 + speed^5 + speed^6 + speed^7",
        "Data file: C:\\Users\\someone\\Documents\\R datasets\\swiss\\mtcars_rownames.csv",
        "  \"Fertility\",\"Agriculture\",\"Examination\",\"Education\",\"Catholic\","
        "\"Infant.Mortality\"",
        "  k=5  RSS 2105.043  bic 190.6912  Agriculture Examination Education Catholic "
        "Infant.Mortality",
        "Refused: no column is named \"Infant_Mortality\"; the columns are: Fertility, "
        "Agriculture, Examination, Education, Catholic, Infant.Mortality",
        std::string(130, 'x') + " tail",
    };
    const auto pieces = [](const std::string& text, const char* between) {
        std::vector<std::string> found;
        std::string piece;
        for (char c : text + between[0]) {
            if (std::string(between).find(c) == std::string::npos) {
                piece += c;
            } else if (!piece.empty()) {
                found.push_back(piece);
                piece.clear();
            }
        }
        return found;
    };
    for (const auto& line : lines) {
        for (std::size_t width : {20, 33, 45, 60, 79, 99}) {
            const std::string out = lay_out(line + "\n", width);
            const std::vector<std::string> shown = pieces(out, "\n");
            for (const auto& l : shown)
                EXPECT_LE(l.size(), width) << "\"" << l << "\" from \"" << line << "\"";
            for (const auto& name : pieces(line, " ,;\\")) {
                if (name.size() <= width - width / 3) {
                    EXPECT_NE(out.find(name), std::string::npos)
                        << "\"" << name << "\" broken at width " << width << ":\n"
                        << out;
                }
            }
            const auto letters = [](std::string text) {
                text.erase(std::remove_if(text.begin(), text.end(),
                                          [](char c) { return c == ' ' || c == '\n'; }),
                           text.end());
                return text;
            };
            EXPECT_EQ(letters(out), letters(line)) << out;
        }
    }
    const std::vector<std::string> packed =
        pack_items("Columns:  ", {"1 Fertility", "2 Infant Mortality", "3 x"}, 30);
    EXPECT_EQ(packed, (std::vector<std::string>{"Columns:  1 Fertility",
                                                "          2 Infant Mortality", "          3 x"}));
}

// A table too wide for the console is split into tables that fit, each
// with the names again; a question keeps the space its answer follows.
TEST(ConsoleLayout, SplitsATableThatDoesNotFit) {
    const std::string table = "                  Estimate  Std. Error  t value\n"
                              "(intercept)            1.5        0.25      6.0\n"
                              "Infant.Mortality      -2.5         0.5     -5.0\n";
    EXPECT_EQ(lay_out(table, 48), table);
    EXPECT_EQ(lay_out("Coefficients:\n" + table + "Next: ", 40),
              "Coefficients:\n"
              "                  Estimate  Std. Error\n"
              "(intercept)            1.5        0.25\n"
              "Infant.Mortality      -2.5         0.5\n"
              "\n"
              "                  t value\n"
              "(intercept)           6.0\n"
              "Infant.Mortality     -5.0\n"
              "Next: ");
}

// A dialogue driven by a list of answers; what it said is kept, each
// answer after its question as the console shows it.
std::string read_text(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

std::vector<std::vector<std::string>> csv_lines(const std::string& path) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream text(read_text(path));
    for (std::string line; std::getline(text, line);) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos;
             start = comma + 1)
            fields.push_back(line.substr(start, comma - start));
        fields.push_back(line.substr(start));
        lines.push_back(fields);
    }
    return lines;
}

// A weighted straight line, rows [y, x, w], with R's lm(y ~ x, weights = w)
// coefficients and residual SD.
class weighted_line final : public fitted_model {
  public:
    weighted_line(const double* x, const double* w, int n) {
        Eigen::MatrixXd design(n, 2);
        for (int i = 0; i < n; ++i)
            design.row(i) << std::sqrt(w[i]), std::sqrt(w[i]) * x[i];
        Eigen::HouseholderQR<Eigen::MatrixXd> qr(design);
        triangle = qr.matrixQR().topRows(2).triangularView<Eigen::Upper>();
        sigma = 0.27733681474384314;
        df = n - 2;
    }
    bool evaluate(const double* row, double& fitted, double* gradient) const override {
        fitted = 0.053639846743296242 + 0.977394636015325613 * row[1];
        if (gradient) {
            gradient[0] = 1;
            gradient[1] = row[1];
        }
        return true;
    }
    double weight(const double* row) const override { return row[2]; }
};

// Influence and intervals of a weighted fit as R gives them (rstandard,
// hatvalues, cooks.distance, predict.lm with interval = "prediction" and
// level 0.9, whose new cases have weight 1).
TEST(Influence, WeightedFitAgreesWithR) {
    const double x[] = {1, 2, 3, 4, 5, 6}, y[] = {1.2, 1.9, 3.2, 3.8, 5.3, 5.9},
                 w[] = {1, 2, 1, 3, 1, 2};
    const double r_std[] = {0.77330942835328498,  -0.72691759780551035, 0.82265949173494501,
                            -1.22745674557863471, 1.41790395727912855,  -0.14617276644627675};
    const double r_hat[] = {0.37931034482758635, 0.42145593869731801, 0.11877394636015326,
                            0.31034482758620680, 0.16475095785440613, 0.60536398467432961};
    const double r_cook[] = {0.182724505327248127, 0.192466924966644748, 0.045608321346933794,
                             0.338996264009960913, 0.198278486648889862, 0.016387880916447231};
    const weighted_line model(x, w, 6);
    influence_meter meter(model, 0.9);
    const auto near = [](double got, double want) {
        return std::fabs(got - want) <= 1e-12 * std::fabs(want);
    };
    for (int i = 0; i < 6; ++i) {
        const double row[] = {y[i], x[i], w[i]};
        const row_influence r = meter.influence(row);
        ASSERT_TRUE(r.ok);
        EXPECT_PRED2(near, r.std_residual, r_std[i]) << i;
        EXPECT_PRED2(near, r.leverage, r_hat[i]) << i;
        EXPECT_PRED2(near, r.cooks_distance, r_cook[i]) << i;
    }
    const struct {
        double x, fit, se, low, high;
    } predicted[] = {
        {2.5, 2.4971264367816106, 0.10924832353407524, 1.8616683409519057, 3.1325845326113155},
        {7, 6.8954022988505752, 0.19945923723078510, 6.1671349289629331, 7.6236696687382173}};
    for (const auto& p : predicted) {
        const double row[] = {NAN, p.x, 1};
        const row_prediction r = meter.prediction(row);
        ASSERT_TRUE(r.ok);
        EXPECT_PRED2(near, r.fit, p.fit);
        EXPECT_PRED2(near, r.se_fit, p.se);
        EXPECT_PRED2(near, r.pi_low, p.low);
        EXPECT_PRED2(near, r.pi_high, p.high);
    }
}

// R's mtcars: mpg, cyl, cyl as text (a factor), wt, hp.
std::string mtcars_data() {
    const char* rows =
        "21.0,6,2.620,110 21.0,6,2.875,110 22.8,4,2.320,93 21.4,6,3.215,110 18.7,8,3.440,175 "
        "18.1,6,3.460,105 14.3,8,3.570,245 24.4,4,3.190,62 22.8,4,3.150,95 19.2,6,3.440,123 "
        "17.8,6,3.440,123 16.4,8,4.070,180 17.3,8,3.730,180 15.2,8,3.780,180 10.4,8,5.250,205 "
        "10.4,8,5.424,215 14.7,8,5.345,230 32.4,4,2.200,66 30.4,4,1.615,52 33.9,4,1.835,65 "
        "21.5,4,2.465,97 15.5,8,3.520,150 15.2,8,3.435,150 13.3,8,3.840,245 19.2,8,3.845,175 "
        "27.3,4,1.935,66 26.0,4,2.140,91 30.4,4,1.513,113 15.8,8,3.170,264 19.7,6,2.770,175 "
        "15.0,8,3.570,335 21.4,4,2.780,109";
    std::istringstream in(rows);
    std::string text = "mpg,cyl,g,wt,hp\n", row;
    while (in >> row) {
        const std::size_t cyl = row.find(',') + 1;
        text += row.substr(0, cyl + 1) + ",c" + row.substr(cyl) + "\n";
    }
    return text;
}

// Variance inflation factors as car::vif gives them (its GVIF for the
// one-column terms beside a factor, whose own columns get none; raw powers'),
// weighted fits from the weighted design.
TEST(Diagnostics, InflationFactorsAgreeWithR) {
    const std::string cars = temp_file("mtcars.csv", mtcars_data());
    const std::string curve = temp_file("curve.csv", curve_data());
    const std::vector<std::string> cubic = {curve, "--y", "y", "--x", "x", "--degree", "3"};
    const struct {
        int model;
        std::vector<std::string> args;
        std::vector<std::pair<std::string, double>> vif;
    } cases[] = {
        {1,
         {cars, "--formula", "mpg ~ wt + hp"},
         {{"wt", 1.7666245792682798}, {"hp", 1.7666245792682798}}},
        {1,
         {cars, "--formula", "mpg ~ wt + hp", "--weights", "cyl"},
         {{"wt", 1.5694773014494265}, {"hp", 1.5694773014494265}}},
        {1,
         {cars, "--formula", "mpg ~ g + wt + hp"},
         {{"wt", 2.5808765173164283}, {"hp", 3.4960142661076383}}},
        {1,
         {cars, "--formula", "mpg ~ g + wt + hp", "--weights", "cyl"},
         {{"wt", 2.2645238788377369}, {"hp", 2.9194561989416461}}},
        {3,
         cubic,
         {{"x", 6.2539217832975593}, {"x^2", 1.0316039942722932}, {"x^3", 6.3325871771404305}}},
        {3,
         {curve, "--y", "y", "--x", "x", "--degree", "3", "--weights", "decay"},
         {{"x", 5.3658762740592643}, {"x^2", 2.8763451164827609}, {"x^3", 8.5908555372594062}}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const batch_output out = run_batch(*program_numbered(c.model), args, nullptr);
        ASSERT_EQ(out.status, 0) << out.err;
        const std::size_t at = out.out.find("\"vif\": {");
        ASSERT_NE(at, std::string::npos) << out.out;
        const std::string vif = out.out.substr(at, out.out.find('}', at) - at);
        const std::string shown = args[2] + " " + args.back() + ": " + vif;
        for (const auto& [name, want] : c.vif) {
            const std::string got = json_value(vif, name);
            ASSERT_FALSE(got.empty()) << name << " in " << shown;
            EXPECT_NEAR(std::stod(got), want, 1e-13 * want) << name << " in " << shown;
        }
        EXPECT_EQ(vif.find("\"g"), std::string::npos) << shown;
    }
}

// --save: a line per data row in order, the skipped row kept with empty
// fields, leverages summing to the coefficients (the hat matrix's trace);
// --predict: NEW's columns carried, a row with a missing value left empty
// and counted, the file named in the JSON; refusals leave no file behind.
TEST(Batch, SaveAndPredictFiles) {
    const std::string lin = temp_file("linear.csv", linear_data());
    const std::string fresh = temp_file("new.csv", "id,x2,x1\nfirst,3,1.5\nsecond,,2\nthird,4,7\n");
    const std::string saved = testing::TempDir() + "saved.csv";
    const std::string predicted = testing::TempDir() + "new-predicted.csv";
    std::remove(predicted.c_str());
    const batch_output out =
        run_batch(*program_numbered(1),
                  {lin, "--x", "x1,x2", "--save", saved, "--predict", fresh, "--json"}, nullptr);
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_NE(out.out.find("\"predictions_file\": \"" + predicted + "\""), std::string::npos);
    EXPECT_NE(out.out.find("\"not_predicted\": 1"), std::string::npos) << out.out;
    EXPECT_NE(out.out.find("\"durbin_watson\": "), std::string::npos) << out.out;
    // The diagnostics taken in the save's pass are those of their own pass.
    const batch_output plain =
        run_batch(*program_numbered(1), {lin, "--x", "x1,x2", "--json"}, nullptr);
    const auto diagnostics = [](const std::string& json) {
        std::vector<double> values;
        std::size_t at = json.find("\"diagnostics\"");
        for (int depth = 0; at < json.size(); ++at) {
            depth += json[at] == '{' ? 1 : json[at] == '}' ? -1 : 0;
            if (depth == 0 && json[at] == '}')
                break;
            if (json[at] == ':' && at + 2 < json.size() &&
                (std::isdigit(static_cast<unsigned char>(json[at + 2])) || json[at + 2] == '-'))
                values.push_back(std::strtod(json.c_str() + at + 2, nullptr));
        }
        return values;
    };
    const std::vector<double> with_save = diagnostics(out.out), alone = diagnostics(plain.out);
    ASSERT_EQ(with_save.size(), alone.size());
    ASSERT_GE(alone.size(), 8u) << plain.out;
    for (std::size_t i = 0; i < alone.size(); ++i)
        EXPECT_NEAR(with_save[i], alone[i], 1e-12 * std::fabs(alone[i])) << i;
    const auto rows = csv_lines(saved);
    ASSERT_EQ(rows.size(), 32u); // the header and 31 data rows
    EXPECT_EQ(rows[0], (std::vector<std::string>{"row", "y", "x1", "x2", "fitted", "residual",
                                                 "std_residual", "leverage", "cooks_distance"}));
    double trace = 0;
    for (std::size_t i = 1; i < 31; ++i) {
        EXPECT_EQ(rows[i][0], std::to_string(i));
        trace += std::stod(rows[i][7]);
    }
    EXPECT_NEAR(trace, 3, 1e-12);
    EXPECT_EQ(rows[31], (std::vector<std::string>{"31", "", "1", "2", "", "", "", "", ""}));
    const auto lines = csv_lines(predicted);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0][0], "id");
    EXPECT_EQ(lines[0].size(), 9u);
    EXPECT_EQ(lines[2], (std::vector<std::string>{"second", "", "2", "", "", "", "", "", ""}));
    EXPECT_NE(lines[3][3], "");

    const std::string no_folder = testing::TempDir() + "no/such/folder/s.csv";
    const std::string no_x2 = temp_file("no-x2.csv", "x1\n1\n");
    const batch_case refused[] = {
        {1, {"@lin", "--save", no_folder}, 1, "s.csv"},
        {1, {"@lin", "--x", "x1,x2", "--predict", no_x2}, 1, "\"x2\""},
        {1, {"@lin", "--predict", fresh, "--predictions", fresh}, 2, "new data itself"},
        {1, {"@lin", "--save", "@lin"}, 2, "is the data file itself"},
        {1, {"@lin", "--predict", fresh, "--predictions", "@lin"}, 2, "is the data file itself"},
        {1, {"@lin", "--predict", fresh, "--save", fresh}, 2, "is the new data of --predict"},
        {1,
         {"@lin", "--predict", fresh, "--predictions", saved, "--save", saved},
         2,
         "is also where the predictions go"},
        {2,
         {"@lin", "--formula", "y ~ a + b*x1", "--start", "a=0 b=1", "--predict", no_x2, "--save",
          saved},
         0,
         "\"saved_file\""},
    };
    for (const auto& c : refused) {
        std::vector<std::string> args;
        for (const auto& a : c.args)
            args.push_back(a == "@lin" ? lin : a);
        args.push_back("--json");
        const batch_output result = run_batch(*program_numbered(c.model), args, nullptr);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE((c.status ? result.err : result.out).find(c.expected), std::string::npos)
            << result.err << result.out;
    }
    EXPECT_FALSE(std::filesystem::exists(no_folder + ".partial"));
    EXPECT_EQ(read_text(fresh).substr(0, 9), "id,x2,x1\n");
    EXPECT_EQ(read_text(lin), linear_data());
}

// A weighted one-way layout: fitted values are the groups' weighted means,
// each row's leverage its share of its group's weight; text is written back
// as read, and a new case's unseen category is left without a prediction.
TEST(Batch, SavesAndPredictsCategoricalWeightedFits) {
    const std::string data =
        temp_file("oneway.csv", "y,g,w\n1,b,1\n2,b,2\n4,c,1\n6,c,3\n5,c,1\n3,a,2\n2,a,1\n7,,1\n");
    const std::string fresh = temp_file("oneway-new.csv", "g\nb\nz\nc\n");
    const std::string saved = testing::TempDir() + "oneway-saved.csv";
    const batch_output out = run_batch(*program_numbered(1),
                                       {data, "--formula", "y ~ g", "--weights", "w", "--save",
                                        saved, "--predict", fresh, "--json"},
                                       nullptr);
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_NE(out.out.find("\"not_predicted\": 1"), std::string::npos) << out.out;
    const auto rows = csv_lines(saved);
    ASSERT_EQ(rows.size(), 9u);
    const struct {
        const char* g;
        double fitted, leverage;
    } expected[] = {{"b", 5.0 / 3, 1.0 / 3}, {"b", 5.0 / 3, 2.0 / 3}, {"c", 5.4, 0.2},
                    {"c", 5.4, 0.6},         {"c", 5.4, 0.2},         {"a", 8.0 / 3, 2.0 / 3},
                    {"a", 8.0 / 3, 1.0 / 3}};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(rows[i + 1][2], expected[i].g) << i;
        EXPECT_NEAR(std::stod(rows[i + 1][4]), expected[i].fitted, 1e-13) << i;
        EXPECT_NEAR(std::stod(rows[i + 1][7]), expected[i].leverage, 1e-13) << i;
    }
    EXPECT_EQ(rows[8], (std::vector<std::string>{"8", "7", "", "1", "", "", "", "", ""}));
    const auto lines = csv_lines(testing::TempDir() + "oneway-new-predicted.csv");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NEAR(std::stod(lines[1][1]), 5.0 / 3, 1e-13);
    EXPECT_EQ(lines[2][1], "");
    EXPECT_NEAR(std::stod(lines[3][1]), 5.4, 1e-13);
}

// The values as read are written as std::to_chars writes them, by a faster
// road for short decimals: the same text for decimals of every length and
// magnitude, the edges of the fast road, and values that are no short decimal.
TEST(NumberText, ShortDecimalsAsToCharsWritesThem) {
    std::vector<double> values = {
        0,         -0.0,    1,       -1,         10,    100000, 123456,
        1e15,      1e16,    0x1p51,  0x1p51 - 1, 0.001, 0.0012, 0.00099,
        0.1 + 0.2, 1.0 / 3, 99999.5, 1e22,       1e23,  5e-324, 1.7976931348623157e308,
        NAN,       INFINITY};
    std::mt19937_64 random(20240601);
    char text[40];
    for (int i = 0; i < 200000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 17);
        unsigned long long whole = random() % 100000000000000000ULL;
        while (whole >= 10 && std::to_string(whole).size() > static_cast<std::size_t>(digits))
            whole /= 10;
        std::snprintf(text, sizeof text, "%llue%d", whole,
                      static_cast<int>(random() % 26) - 8 - digits);
        values.push_back(std::strtod(text, nullptr) * (i % 2 ? 1 : -1));
    }
    for (double v : values) {
        char fast[number_text_room], exact[number_text_room];
        const std::string got(fast, put_shortest_of_decimal(fast, v));
        ASSERT_EQ(got, std::string(exact, std::to_chars(exact, exact + sizeof exact, v).ptr))
            << std::hexfloat << v;
    }
}

// --save over many blocks of rows: every line in order, numbered as whole
// numbers, with the values as they were written.
TEST(Batch, SaveKeepsTheRowsOrderOverManyBlocks) {
    std::string text = "y,x\n";
    for (int i = 1; i <= 100000; ++i)
        text +=
            std::to_string(i % 7) + "." + std::to_string(i % 13) + "," + std::to_string(i) + "\n";
    const std::string data = temp_file("rows.csv", text);
    const std::string saved = testing::TempDir() + "rows-saved.csv";
    const batch_output out = run_batch(*program_numbered(1), {data, "--save", saved}, nullptr);
    ASSERT_EQ(out.status, 0) << out.err;
    const auto lines = csv_lines(saved);
    ASSERT_EQ(lines.size(), 100001u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i][0], std::to_string(i));
        ASSERT_EQ(std::stod(lines[i][2]), double(i)); // 100000 reads "1e+05"
        ASSERT_EQ(lines[i].size(), 8u);
    }
}

// A smooth trend over calendar years (40 points, 1980 to 2009), with noise,
// and a decay observed through its logarithm.
std::string calendar_data() {
    std::string text = "y,year,decay,w\n";
    for (int i = 0; i < 40; ++i) {
        const double year = 1980 + i * 29.0 / 39, t = (year - 1995) / 15;
        const double noise = ((i * 37) % 17 - 8) * 0.1;
        char line[120];
        std::snprintf(line, sizeof line, "%.10g,%.10g,%.10g,1\n",
                      100 + 30 * t + 20 * std::sin(3 * t) + noise, year,
                      3 * std::exp(-0.2 * (year - 1980)) + 0.5 + noise * 0.01);
        text += line;
    }
    return text;
}

// The residuals a plot draws are the fit's: their sum of squares is the
// report's and the residual panel stays within the largest residual the
// report allows, at high degrees in calendar years and with a transformed
// response.
TEST(Plot, ResidualsDrawnAreTheFitsResiduals) {
    const std::string data_path = temp_file("calendar.csv", calendar_data());
    struct plot_case {
        int model;
        std::vector<std::string> args;
    };
    const plot_case cases[] = {
        {3, {"--degree", "7"}},
        {3, {"--degree", "8"}},
        {3, {"--degree", "15"}},
        {3, {"--degree", "7", "--weights", "w", "--se", "hc3"}},
        {6, {"--max-degree", "10"}},
        {1, {}},
        {2,
         {"--y", "decay", "--x", "year", "--formula", "log(decay) ~ log(a*exp(-b*(year-1980)) + c)",
          "--start", "a=3 b=0.2 c=0.5"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {data_path};
        if (c.model != 2)
            args.insert(args.end(), {"--y", "y", "--x", "year"});
        args.insert(args.end(), c.args.begin(), c.args.end());
        const parsed_options parsed = parse_options(*program_numbered(c.model), args);
        ASSERT_TRUE(parsed.ok) << parsed.error;
        const options& o = parsed.values;
        model_data data = open_model_data(o.data, o.y, o.x,
                                          c.model == 6 ? default_predictors::second_column
                                                       : default_predictors::all_others);
        ASSERT_EQ(data.status, exit_reported) << data.reason;
        const model_run run = run_model(*program_numbered(c.model), o, data);
        ASSERT_EQ(run.status, exit_reported) << run.reason;
        const auto plot = plot_of(run, data);
        ASSERT_TRUE(plot);
        double rss = 0;
        rows_of(data)([&](const double* values, std::size_t rows) {
            for (std::size_t i = 0; i < rows; ++i) {
                const double* row = values + i * data.columns.size();
                const double y = run.observed ? run.observed(row) : row[0];
                rss += (y - run.predict(row)) * (y - run.predict(row));
            }
            return true;
        });
        const std::string shown = "model " + std::to_string(c.model) + " " + run.report.formula;
        EXPECT_NEAR(rss, run.report.rss, 1e-7 * run.report.rss) << shown;
        const double largest = std::sqrt(run.report.rss) * (1 + 1e-9);
        const auto& residuals = plot->residual_points();
        EXPECT_GE(residuals.min_y(), -largest) << shown;
        EXPECT_LE(residuals.max_y(), largest) << shown;
        // One predictor (weighted or not): the curve against it.
        EXPECT_EQ(plot->kind(), plot_kind::data_and_curve) << shown;
    }
}

// The curve-linear model's weights, analysis of variance and robust
// standard errors: as R's lm(y ~ x + I(x^2) + I(x^3), weights = decay),
// anova() and sandwich::vcovHC on the curve data; in calendar years at
// degree 7, the exact minimum (rational arithmetic) and the model's own fit.
TEST(Batch, CurveLinearOptionsAgreeWithR) {
    temp_file("curve.csv", curve_data());
    temp_file("calendar.csv", calendar_data());
    const auto run_of = [](const std::vector<std::string>& args) {
        const parsed_options parsed = parse_options(*program_numbered(3), args);
        EXPECT_TRUE(parsed.ok) << parsed.error;
        const options& o = parsed.values;
        model_data data = open_model_data(o.data, o.y, o.x, default_predictors::all_others);
        EXPECT_EQ(data.status, exit_reported) << data.reason;
        return run_model(*program_numbered(3), o, data);
    };
    const std::string curve = testing::TempDir() + "curve.csv";
    const std::string years = testing::TempDir() + "calendar.csv";
    const std::vector<std::string> cubic = {curve, "--y", "y", "--x", "x", "--degree", "3"};
    const std::vector<std::string> seventh = {years, "--y", "y", "--x", "year", "--degree", "7"};
    const model_run own = run_of(seventh);
    struct r_case {
        std::vector<std::string> options;
        double rss;
        std::vector<double> estimates, std_errors;
        double digits;
    };
    const r_case cases[] = {
        {{"--weights", "decay"},
         0.0038022573737496691,
         {0.50001215502428131, -1.0029810468511673, -0.0000814305547068324, 0.30134538918808629},
         {0.0023469613785273022, 0.0029528449511635872, 0.0015991623168123742,
          0.0011985538291016148},
         12},
        {{"--se", "hc3"},
         0.0022913035714948416,
         {0.50063155861476905, -1.0004636113132399, -0.00068139566005048758, 0.30022537987131837},
         {0.0020075198972644439, 0.0031010651084989928, 0.0013592814757450921,
          0.0013527154012355936},
         12},
        {{"--weights", "decay", "--se", "hc1"},
         0.0038022573737496691,
         {0.50001215502428131, -1.0029810468511673, -0.0000814305547068324, 0.30134538918808629},
         {0.0019665559918134404, 0.0031317595483964442, 0.0012279571574719500,
          0.0012149673197798521},
         12},
        // All weights 1: the exact minimum, and the coefficients of model
        // 3's own fit.
        {{"--weights", "w"}, 7.8622122834527, {}, {}, 13},
    };
    const auto digits = [](double got, double want) {
        return got == want ? 17.0 : -std::log10(std::fabs(got - want) / std::fabs(want));
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.estimates.empty() ? seventh : cubic;
        args.insert(args.end(), c.options.begin(), c.options.end());
        const model_run run = run_of(args);
        const std::string shown = args[args.size() - 1];
        ASSERT_EQ(run.status, exit_reported) << shown << ": " << run.reason;
        EXPECT_GE(digits(run.report.rss, c.rss), c.digits) << shown;
        const auto& want = c.estimates.empty() ? own.report.estimates : run.report.estimates;
        ASSERT_EQ(run.report.estimates.size(), c.estimates.empty() ? 8u : 4u) << shown;
        for (std::size_t j = 0; j < run.report.estimates.size(); ++j) {
            const coefficient& got = run.report.estimates[j];
            const double estimate = c.estimates.empty() ? want[j].estimate : c.estimates[j];
            const double std_error = c.estimates.empty() ? want[j].std_error : c.std_errors[j];
            EXPECT_GE(digits(got.estimate, estimate), c.digits) << shown << " " << got.name;
            EXPECT_GE(digits(got.std_error, std_error), c.digits) << shown << " " << got.name;
        }
    }
    // The condition number is of the raw powers' model matrix, as the
    // model's own fit reports it.
    const auto condition = [](const fit_report& report) {
        for (const auto& line : report.extra_text)
            if (line.find("Condition number") != std::string::npos)
                return line;
        return std::string("none");
    };
    std::vector<std::string> weighted = seventh;
    weighted.insert(weighted.end(), {"--weights", "w"});
    EXPECT_EQ(condition(run_of(weighted).report), condition(own.report));
    // The sequential sums of squares of the weighted cubic, as R's anova().
    std::vector<std::string> args = cubic;
    args.insert(args.end(), {"--weights", "decay", "--anova"});
    const model_run run = run_of(args);
    ASSERT_EQ(run.status, exit_reported) << run.reason;
    std::string anova;
    for (const auto& [key, value] : run.report.extra_json)
        if (key == "anova")
            anova = value;
    const double sum_sq[] = {1.73407740890891, 4.86792116676007, 6.67656412049248};
    std::size_t at = 0;
    for (double want : sum_sq) {
        at = anova.find("\"sum_sq\": ", at);
        ASSERT_NE(at, std::string::npos) << anova;
        at += 10;
        EXPECT_GE(digits(std::stod(anova.substr(at)), want), 12) << anova;
    }
    // Raw powers of calendar years written in a formula are rounded before
    // the fit: the report says what that costs; centred ones need no note.
    for (const auto& [formula, noted] :
         {std::pair<std::string, bool>{"y ~ year + I(year^2) + I(year^3)", true},
          {"y ~ I(year - 1995) + I((year - 1995)^2) + I((year - 1995)^3)", false}}) {
        const batch_output out =
            run_batch(*program_numbered(1), {years, "--formula", formula}, nullptr);
        EXPECT_EQ(out.status, 0) << out.err;
        EXPECT_EQ(out.out.find("Note: the model matrix's condition number") != std::string::npos,
                  noted)
            << formula << "\n"
            << out.out;
    }
}

// A dialogue driven by a list of answers; what it said is kept.
struct scripted {
    std::deque<std::string> answers;
    std::string said;
    std::string laid_out; // what the dialogue said, without the answers
    int pictures = 0;
    std::size_t width = 80;
    dialogue_io io(const std::string& path) {
        dialogue_io io;
        io.say = [this](const std::string& text) {
            said += text;
            laid_out += text;
        };
        io.ask = [this](std::string& text) {
            if (answers.empty())
                return false;
            text = answers.front();
            answers.pop_front();
            said += text + "\n";
            laid_out += "\n";
            return true;
        };
        io.pick_file = [path](std::string&) { return path; };
        io.clear = [this] { said += "[clear]\n"; };
        io.show_plot = [this](const plot_model&) { ++pictures; };
        io.width = [this] { return width; };
        return io;
    }
};

// A data file as R writes it, row names first, with a text column of
// three levels among numbers.
std::string text_column_data() {
    std::string text = "\"\",y,place,x1,x2\n";
    for (int i = 0; i < 20; ++i)
        text += "\"r" + std::to_string(i) + "\"," +
                std::to_string(3 + i * 0.5 + (i % 3) * 0.1 + ((i * 37) % 17 - 8) * 0.01) + ",town" +
                std::to_string(i % 3) + "," + std::to_string(i + 1) + "," +
                std::to_string((i * 7) % 5) + "\n";
    return text;
}

struct road {
    int model;
    const char* file; // "@lin", "@curve" or "@text"
    std::vector<std::string> answers;
    std::vector<std::string> said; // in this order
    int pictures;
};

TEST(Dialogue, RoadsWithRefusalsCommandsAndGoingBack) {
    const std::string lin = temp_file("linear.csv", linear_data());
    const std::string curve = temp_file("curve.csv", curve_data());
    const std::string text = temp_file("text.csv", text_column_data());
    const road roads[] = {
        {1,
         "@lin",
         {"",          "9", "1", "bye", "y", "2~9", "2,3",        "P",
          "",          "1", "2", "S",   "",  "s",   "linear.csv", "no/such/folder/x.csv",
          "named.csv", "n", "x", "END"},
         {"Data file: ",
          "Columns:  1 y  2 x1",
          "Refused: there is no column 9; the file has 4",
          "Refused: there is no column 9: the columns are numbered 1 to 4",
          "Linear model (ROSKA_mid_15)",
          "Formula:  y ~ x1 + x2",
          "P plots, S saves",
          "Response column, a number or a name (Enter: y): 1",
          "\nweight ~ group + log(dose) (Enter: 2,3): 2",
          "Formula:  y ~ x1\n",
          "Save the fitted values as (Enter: ",
          "linear-fitted.csv): \n",
          "Fitted values and influence of 31 rows saved to ",
          "linear-fitted.csv",
          "(1 skipped",
          "Refused: ",
          "linear.csv is the data file itself",
          "Refused: cannot write ",
          "no/such/folder/x.csv",
          "Save the fitted values as",
          "named.csv\n",
          "saved to ",
          "named.csv (1",
          "New data file: ",
          "Predictions for 31 of 31 new rows written to ",
          "linear-predicted.csv.",
          "Refused: P, S, N, Enter, file, bye or END",
          "The dialogue has ended."},
         1},
        // Text columns are categorical for the linear model, and a formula
        // may stand for the predictors; the row names are never one.
        {1,
         "@text",
         {"", "", "place", "2", "2-4", "2,4", "y ~ place +", "y ~ place + log(x1)", "FILE", "2", "",
          "End"},
         {"Columns:  1 (row names)  2 y  3 place (text: categorical)  4 x1  5 x2\n",
          "Refused: the response is needed",
          "Refused: column 3 (\"place\") holds text, not numbers", "the response must be numbers",
          "Refused: ranges use ~, as in 2~4", "Refused: column 2 (\"y\") is the response",
          "Predictor columns, such as 2~4,6, or a formula, such as\nweight ~ group",
          "Refused: at character 12: expected a column name", "Formula:  y ~ place + log(x1)\n",
          "place[town2]", "[clear]", "Columns:", "(Enter: every other column): \n",
          "Formula:  y ~ place + x1 + x2\n", "place[town1]", "The dialogue has ended."},
         0},
        // Best subsets take text columns and formulas as the linear model does.
        {4,
         "@text",
         {"", "2", "y ~ place +", "y ~ place + x1 + x2", "", "", "end"},
         {"Columns:  1 (row names)  2 y  3 place (text: categorical)  4 x1  5 x2\n",
          "Predictor columns, such as 2~4,6, or a formula, such as\nweight ~ group",
          "Refused: at character", "Best subset", "  place x1", "The dialogue has ended."},
         0},
        {2,
         "@curve",
         {"", "y ~ b0 + b1*(x", "y ~ b0 + b1*x", "", "b0=1", "b0=1 b1=1", "S", "m2.csv", "end"},
         {"Formula, such as", "Refused: column", "Formula, such as",
          "Start values for b0, b1, each as name=value: \n",
          "Refused: start values are needed, one for each parameter (b0, b1)",
          "Refused: ", "Start values", "Non-linear model (ROSKA_mid_16)", "40 rows saved to ",
          "m2.csv.", "The dialogue has ended."},
         0},
        // A family of the catalogue in other names: Enter takes its self-start.
        {2,
         "@curve",
         {"", "decay ~ A*exp(k*x)", "", "", "", "A=2 k=-1", "", "", "end"},
         {"Start values for A, k (Enter takes the suggestion A=1.24, k=-0.698): \n", "1.235176",
          "A=1.24, k=-0.698): A=2 k=-1", "1.235176", "(Enter: A=2 k=-1): end",
          "The dialogue has ended."},
         0},
        {2,
         "@curve",
         {"", "y ~ 100 + b1*x", "b1=1"},
         {"Non-linear model", "This fit is worse than a flat line at the mean of y"},
         0},
        {3,
         "@curve",
         {"", "y", "1", "2~3", "x", "3", "N", "bye", "bye", "bye", "bye"},
         {"Refused: column 1 (\"y\") is the response", "Refused: one predictor column, please",
          "Formula:  y ~ x + x^2 + x^3", "Predictions for 40 of 40 new rows",
          "curve-predicted.csv.", "The dialogue has ended."},
         0},
        {4,
         "@lin",
         {"", "1", "", "cv", "CP", "P", "", "", "", "", "N", "S", "", "end"},
         {"Criterion for the best model: aic, aicc, bic, cp or adjr2 (Enter: bic): cv",
          "Refused: the criteria are aic, aicc, bic, cp or adjr2",
          "Coefficients:", "Best subset of each size, by cp", "(Enter: CP): \n", "by cp",
          "Predictions for 31 of 31", "31 rows saved to ", "The dialogue has ended."},
         1},
        {5,
         "@curve",
         {"", "decay", "x", "", "N", "S", "", "END"},
         {"(Enter: aicc): \n", "Best non-linear model", "Curve families by aicc",
          "Predictions for 40 of 40", "40 rows saved to "},
         0},
        {6,
         "@curve",
         {"", "y", "", "12", "", "s", "", "n", "end"},
         {"(Enter: cv): \n", "Best curve-linear model", "Degrees by cv:", "  degree 10",
          "  (2 more not shown", "40 rows saved to ", "Predictions for 40 of 40"},
         0},
    };
    for (const auto& r : roads) {
        const std::string path = std::string(r.file) == "@lin"    ? lin
                                 : std::string(r.file) == "@text" ? text
                                                                  : curve;
        scripted s;
        s.width = 72;
        s.answers.assign(r.answers.begin(), r.answers.end());
        dialogue_io io = s.io(path);
        hold_dialogue(*program_numbered(r.model), io);
        std::size_t at = 0;
        for (const auto& expected : r.said) {
            const std::size_t found = s.said.find(expected, at);
            ASSERT_NE(found, std::string::npos)
                << "model " << r.model << ": \"" << expected << "\" missing after " << at << ":\n"
                << s.said;
            at = found + 1;
        }
        EXPECT_EQ(s.pictures, r.pictures) << "model " << r.model;
        std::size_t start = 0;
        for (std::size_t end; (end = s.laid_out.find('\n', start)) != std::string::npos;
             start = end + 1)
            EXPECT_LE(end - start, s.width) << s.laid_out.substr(start, end - start);
    }
}

} // namespace

// The models that keep their rows (non-linear, best non-linear, best
// curve-linear) read a big file on every core: the same rows in the same
// order as on one thread, and a bad row late in the file named by its line.
TEST(ModelData, RowsReadOnSeveralThreadsAreTheRowsOfOne) {
    std::string text = "y,x,note\n";
    const int rows = 300000; // over split_bytes_min
    for (int i = 0; i < rows; ++i)
        text += std::to_string(i % 1013) + ".25," + std::to_string(i) + ",a\n";
    ASSERT_GT(text.size(), split_bytes_min);
    std::string bad = text;
    bad.insert(bad.rfind("\n", bad.size() - 2) + 1, "1,x\n");
    const auto read = [](const std::string& file, int threads, std::vector<double>& values) {
        model_data data = open_model_data(std::make_unique<string_source>(file, 1 << 16), "d.csv",
                                          "y", "x", default_predictors::second_column);
        EXPECT_EQ(data.status, exit_reported) << data.reason;
        const bool ok = read_all_rows(data, values, threads);
        return std::make_pair(ok, ok ? std::to_string(data.counts.rows) : data.reason);
    };
    std::vector<double> one;
    ASSERT_EQ(read(text, 1, one), std::make_pair(true, std::to_string(rows)));
    for (int threads : {2, 3}) {
        std::vector<double> several;
        EXPECT_EQ(read(text, threads, several), std::make_pair(true, std::to_string(rows)));
        EXPECT_EQ(several, one) << threads << " threads";
        const auto refused = read(bad, threads, several);
        EXPECT_FALSE(refused.first);
        EXPECT_NE(refused.second.find("line " + std::to_string(rows + 1)), std::string::npos)
            << refused.second;
    }
}

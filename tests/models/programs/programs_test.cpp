// The model programs' batch runs and dialogue, natively: the command line,
// the exit statuses with their reasons, and each model's report on small
// files whose answers are known.
#include "batch.h"
#include "console_layout.h"
#include "dialogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

using namespace models;

namespace {

std::string temp_file(const std::string& name, const std::string& text) {
    const std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << text;
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

struct batch_case {
    int model;
    std::vector<std::string> args; // "@lin" and "@curve" stand for the files
    int status;
    std::string expected; // in the output (status 0) or the reason
};

TEST(Batch, StatusesReasonsAndReports) {
    const std::string lin = temp_file("linear.csv", linear_data());
    const std::string curve = temp_file("curve.csv", curve_data());
    const std::string bad = temp_file("bad.csv", "y,x\n1,2\n2,abc\n");
    const std::string pur = temp_file("puromycin.csv", puromycin_data());
    const std::string mm = "rate ~ Vm*conc/(K+conc)";
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
        {4, {"@lin", "--json"}, 0, "\"candidates\""},
        {4, {"@lin", "--criterion", "cp"}, 0, "by cp"},
        {4, {"@lin", "--criterion", "cv"}, 2, "--criterion"},
        {4, {"@lin", "--criterion", "ADJR2"}, 0, "by adjr2"},
        {4, {"@lin", "--force-in", "x3", "--json"}, 0, "\"formula\": \"y ~ x1 + x2 + x3\""},
        {4, {"@lin", "--force-in", "x1, x9"}, 2, "\"x9\" is not a candidate"},
        {4, {"@lin", "--force-in", "x1,x2,x3"}, 2, "nothing to choose"},
        {4, {"@lin", "--nbest", "2", "--threads", "2", "--json"}, 0, "\"place\": 2"},
        {5, {"@curve", "--x", "x", "--y", "decay", "--json"}, 0, "\"candidates\""},
        {6, {"@curve", "--json"}, 0, "\"degree\": 3"},
        {6, {"@curve", "--max-degree", "2", "--json"}, 0, "\"degree\": 2"},
        {1, {"@lin", "--plot", testing::TempDir() + "no/such/folder/p.svg"}, 1, "p.svg"},
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

TEST(Batch, BestLinearChoosesTheTermsThatMatter) {
    const std::string lin = temp_file("linear.csv", linear_data());
    const batch_output out = run_batch(*program_numbered(4), {lin, "--json"}, nullptr);
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_NE(out.out.find("\"formula\": \"y ~ x1 + x2\""), std::string::npos) << out.out;
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

// A data file with a text column among numbers.
std::string text_column_data() {
    std::string text = "y,place,x1,x2\n";
    for (int i = 0; i < 20; ++i)
        text += std::to_string(3 + i * 0.5 + (i % 3) * 0.1) + ",town" + std::to_string(i) + "," +
                std::to_string(i) + "," + std::to_string((i * 7) % 5) + "\n";
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
         {"", "9", "1", "bye", "y", "2~9", "2,3", "P", "", "1", "2", "END"},
         {"Data file: ", "Columns:  1 y  2 x1", "Refused: there is no column 9; the file has 4",
          "Refused: there is no column 9: the columns are numbered 1 to 4",
          "Linear model (ROSKA_mid_15)", "Formula:  y ~ x1 + x2", "P shows the plot",
          "Response column, a number or a name (Enter: y): 1",
          "Predictor columns, such as 2~4,6 (Enter: 2,3): 2", "Formula:  y ~ x1\n",
          "The dialogue has ended."},
         1},
        {1,
         "@text",
         {"", "", "place", "1", "2-4", "1,3", "2", "", "p", "", "", "", "FILE", "End"},
         {"Refused: the response is needed",
          "Refused: column 2 (\"place\") holds text, not numbers (line 2 has\n",
          "\"town0\"): the response must be numbers", "Refused: ranges use ~, as in 2~4",
          "Refused: column 1 (\"y\") is the response: the predictors are among the",
          "Refused: column 2 (\"place\") holds text",
          "Predictor columns, such as 2~4,6 (Enter: every other column): \n"
          "Left out, as they hold text: column 2 (\"place\")",
          "Formula:  y ~ x1 + x2", "(Enter: 1): \n", "(Enter: every other column): \n",
          "Formula:  y ~ x1 + x2", "[clear]", "Columns:", "The dialogue has ended."},
         1},
        {2,
         "@curve",
         {"", "y ~ b0 + b1*(x", "y ~ b0 + b1*x", "", "b0=1", "b0=1 b1=1", "end"},
         {"Formula, such as", "Refused: column", "Formula, such as", "Start values",
          "Refused: start values are needed, one for each parameter (b0, b1)", "Refused: ",
          "Start values", "Non-linear model (ROSKA_mid_16)", "The dialogue has ended."},
         0},
        {2,
         "@curve",
         {"", "y ~ 100 + b1*x", "b1=1"},
         {"Non-linear model", "This fit is worse than a flat line at the mean of y"},
         0},
        {3,
         "@curve",
         {"", "y", "1", "2~3", "x", "3", "bye", "bye", "bye", "bye"},
         {"Refused: column 1 (\"y\") is the response", "Refused: one predictor column, please",
          "Formula:  y ~ x + x^2 + x^3", "The dialogue has ended."},
         0},
        {4,
         "@lin",
         {"", "1", "", "cv", "CP", "P", "", "", "", "", "end"},
         {"Criterion for the best model: aic, aicc, bic, cp or adjr2 (Enter: bic): cv",
          "Refused: the criteria are aic, aicc, bic, cp or adjr2", "Coefficients:",
          "Best subset of each size, by cp", "(Enter: CP): \n", "by cp", "The dialogue has ended."},
         1},
        {5,
         "@curve",
         {"", "decay", "x", "", "END"},
         {"(Enter: aicc): \n", "Best non-linear model", "Curve families by aicc"},
         0},
        {6,
         "@curve",
         {"", "y", "", "12", "", "end"},
         {"(Enter: cv): \n", "Best curve-linear model", "Degrees by cv:", "  degree 10",
          "  (2 more not shown"},
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

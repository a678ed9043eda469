// The model programs' batch runs and dialogue, natively: the command line,
// the exit statuses with their reasons, and each model's report on small
// files whose answers are known.
#include "batch.h"
#include "dialogue.h"
#include "formula_fit.h"

#include <gtest/gtest.h>

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
        {4, {"@lin", "--json"}, 0, "\"candidates\""},
        {4, {"@lin", "--criterion", "cp"}, 0, "by cp"},
        {4, {"@lin", "--criterion", "cv"}, 2, "--criterion"},
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
    };
    for (const auto& c : cases) {
        std::vector<std::string> args;
        for (const auto& a : c.args)
            args.push_back(a == "@lin" ? lin : a == "@curve" ? curve : a);
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

// A dialogue driven by a list of answers; what it said is kept.
struct scripted {
    std::deque<std::string> answers;
    std::string said;
    int pictures = 0;
    dialogue_io io(const std::string& path) {
        dialogue_io io;
        io.say = [this](const std::string& text) { said += text; };
        io.ask = [this](std::string& text) {
            if (answers.empty())
                return false;
            text = answers.front();
            answers.pop_front();
            return true;
        };
        io.pick_file = [path](std::string&) { return path; };
        io.clear = [this] { said += "[clear]\n"; };
        io.show_plot = [this](const plot_model&) { ++pictures; };
        return io;
    }
};

TEST(Dialogue, LinearModelRoadWithRefusalsAndGoingBack) {
    const std::string lin = temp_file("linear.csv", linear_data());
    scripted s;
    s.answers = {"", "9", "1", "bye", "y", "2~9", "2,3", "P", "", "1", "2", "END"};
    dialogue_io io = s.io(lin);
    hold_dialogue(*program_numbered(1), io);
    const char* expected[] = {"Data file: ",
                              "Columns:  1 y  2 x1",
                              "Refused: ",
                              "Linear model (ROSKA_mid_15)",
                              "Formula:  y ~ x1 + x2",
                              "P shows the plot",
                              "Formula:  y ~ x1\n",
                              "The dialogue has ended."};
    std::size_t at = 0;
    for (const char* text : expected) {
        const std::size_t found = s.said.find(text, at);
        ASSERT_NE(found, std::string::npos) << "\"" << text << "\" missing after " << at << ":\n"
                                            << s.said;
        at = found;
    }
    EXPECT_EQ(s.pictures, 1);
}

TEST(Dialogue, NonLinearFormulaRefusedWhereAndWhyThenAskedAgain) {
    const std::string curve = temp_file("curve.csv", curve_data());
    scripted s;
    s.answers = {"", "y ~ b0 + b1*(x", "y ~ b0 + b1*x", "b0=1", "b0=1 b1=1", "END"};
    dialogue_io io = s.io(curve);
    hold_dialogue(*program_numbered(2), io);
    const char* expected[] = {"Formula, such as",
                              "Refused: column",
                              "Formula, such as",
                              "Start values",
                              "Refused: ",
                              "Start values",
                              "Non-linear model (ROSKA_mid_16)",
                              "The dialogue has ended."};
    std::size_t at = 0;
    for (const char* text : expected) {
        const std::size_t found = s.said.find(text, at);
        ASSERT_NE(found, std::string::npos) << "\"" << text << "\" missing after " << at << ":\n"
                                            << s.said;
        at = found + 1;
    }
}

} // namespace

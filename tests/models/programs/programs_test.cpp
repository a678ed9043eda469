// The model programs' batch runs and dialogue, natively: the command line,
// the exit statuses with their reasons, and each model's report on small
// files whose answers are known.
#include "batch.h"
#include "dialogue.h"
#include "fit_plot.h"

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
    const std::string bad = temp_file("bad.csv", "y,x\n1,2\n2,abc\n");
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

// A smooth trend over calendar years (40 points, 1980 to 2009), with noise,
// and a decay observed through its logarithm.
std::string calendar_data() {
    std::string text = "y,year,decay\n";
    for (int i = 0; i < 40; ++i) {
        const double year = 1980 + i * 29.0 / 39, t = (year - 1995) / 15;
        const double noise = ((i * 37) % 17 - 8) * 0.1;
        char line[120];
        std::snprintf(line, sizeof line, "%.10g,%.10g,%.10g\n",
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
    }
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

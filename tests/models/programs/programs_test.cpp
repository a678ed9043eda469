// The model programs' batch runs and dialogue, natively: the command line,
// the exit statuses with their reasons, and each model's report on small
// files whose answers are known.
#include "batch.h"
#include "dialogue.h"
#include "fit_plot.h"
#include "influence.h"

#include <Eigen/Dense>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
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

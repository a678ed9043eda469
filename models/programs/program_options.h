// The model programs' table and command line. Every program takes a data
// file and the same core options; each kind of model adds its own.
//   PROGRAM                 the console dialogue
//   PROGRAM DATA [options]  batch: fit, report on standard output, exit
#pragma once

#include <string>
#include <vector>

namespace models {

enum class model_kind { linear, nonlinear, curve_linear, best_linear, best_nonlinear, best_curve };

struct program_info {
    int number; // the model's number in the chooser
    model_kind kind;
    const char* program; // the program's file name without .exe
    const char* model;   // the model as the JSON report names it
};

inline constexpr program_info program_table[] = {
    {1, model_kind::linear, "ROSKA_mid_15", "linear"},
    {2, model_kind::nonlinear, "ROSKA_mid_16", "non-linear"},
    {3, model_kind::curve_linear, "ROSKA_mid_17", "curve-linear"},
    {4, model_kind::best_linear, "TARN_line_15", "best linear"},
    {5, model_kind::best_nonlinear, "TARN_nonlinear_16", "best non-linear"},
    {6, model_kind::best_curve, "TARN_curvelinear_17", "best curve-linear"},
};

// The program of a model number 1 to 6, or null.
const program_info* program_numbered(int number);

// Exit statuses of a batch run.
enum exit_status : int {
    exit_reported = 0,
    exit_data_unusable = 1, // the file, a column, too few rows
    exit_usage = 2,
    exit_not_fitted = 3, // the model cannot be fitted
};

struct options {
    std::string data;        // the data file; empty: the dialogue
    std::string y = "1";     // --y: the response, a name or a 1-based number
    std::string x;           // --x: the predictors (selection text or names)
    bool intercept = true;   // --no-intercept
    int degree = 2;          // --degree
    int max_degree = 6;      // --max-degree
    std::string formula;     // --formula
    std::string start;       // --start
    std::string criterion;   // --criterion; empty: the model's default
    std::string plot;        // --plot FILE.svg
    bool json = false;       // --json
    bool help = false;       // --help
    std::string weights;     // --weights COL: a column of case weights; empty: none
    double level = 0.95;     // --level: the confidence level of every interval
    bool anova = false;      // --anova: the sequential analysis of variance
    std::string se;          // --se: hc0..hc3 (lower case); empty: classical
    std::string save;        // --save FILE.csv: fitted values and influence per row
    std::string predict;     // --predict NEW.csv: new cases to predict
    std::string predictions; // --predictions OUT.csv; empty: beside NEW
    int threads = 0;         // --threads N; 0: every core
    bool diagnostics = true; // --no-diagnostics: the linear report without its residual tests
    std::string bounds;      // --bounds "K>=0, Vm<=500"
    bool profile_ci = false; // --ci profile (else Wald intervals)
    std::string force_in;    // --force-in TERMS: kept in every candidate
    int nbest = 1;           // --nbest N: subsets listed per size
};

struct parsed_options {
    bool ok = false;
    std::string error; // one line: what was wrong
    options values;
};

// The criteria a kind of model chooses its best by, as "aic|aicc|bic"
// (empty for the models that choose nothing), and the one it uses when
// none is given.
struct criteria_of_model {
    const char* names;
    const char* default_name;
};
criteria_of_model criteria_of(model_kind kind);

// Reads the arguments after the program's name.
parsed_options parse_options(const program_info& program, const std::vector<std::string>& args);

// The usage text for --help and after a usage error.
std::string usage(const program_info& program);

} // namespace models

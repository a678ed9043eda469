#include "program_options.h"

#include <cstdlib>

namespace models {

namespace {

// Which options a kind of model takes, beyond --y, --x, --json, --plot and
// --help, which every program takes.
struct kind_options {
    model_kind kind;
    bool intercept, degree, max_degree, formula, criterion;
    const char* criteria; // the criteria it knows, for the usage text
    // The criterion its run uses when none is given (the runs decide it;
    // named here for the dialogue, which offers it).
    const char* default_criterion;
};

constexpr kind_options kind_table[] = {
    {model_kind::linear, true, false, false, false, false, "", ""},
    {model_kind::nonlinear, false, false, false, true, false, "", ""},
    {model_kind::curve_linear, false, true, false, false, false, "", ""},
    {model_kind::best_linear, true, false, false, false, true, "aic|aicc|bic|cp|adjr2", "bic"},
    {model_kind::best_nonlinear, false, false, false, false, true, "aic|aicc|bic", "aicc"},
    {model_kind::best_curve, false, false, true, false, true, "aic|aicc|bic|cv", "cv"},
};

const kind_options& options_of(model_kind kind) {
    for (const auto& k : kind_table)
        if (k.kind == kind)
            return k;
    return kind_table[0];
}

// A whole number from first to last, or -1.
int whole_number(const std::string& text, int first, int last) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int value = std::atoi(text.c_str());
    return value >= first && value <= last ? value : -1;
}

} // namespace

criteria_of_model criteria_of(model_kind kind) {
    const kind_options& k = options_of(kind);
    return {k.criteria, k.default_criterion};
}

const program_info* program_numbered(int number) {
    for (const auto& p : program_table)
        if (p.number == number)
            return &p;
    return nullptr;
}

parsed_options parse_options(const program_info& program, const std::vector<std::string>& args) {
    parsed_options parsed;
    options& o = parsed.values;
    const kind_options& allowed = options_of(program.kind);
    auto refuse = [&](const std::string& why) {
        parsed.error = why;
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool has_value = false;
        if (name.rfind("--", 0) == 0) {
            const std::size_t equals = name.find('=');
            if (equals != std::string::npos) {
                value = name.substr(equals + 1);
                name = name.substr(0, equals);
                has_value = true;
            }
        } else {
            if (!o.data.empty())
                return refuse("one data file only: \"" + o.data + "\" and \"" + name + "\"");
            if (name.empty())
                return refuse("the data file's name is empty");
            o.data = name;
            continue;
        }
        const bool flag = name == "--json" || name == "--help" || name == "--no-intercept";
        const bool known = flag || name == "--y" || name == "--x" || name == "--plot" ||
                           name == "--degree" || name == "--max-degree" || name == "--formula" ||
                           name == "--start" || name == "--criterion";
        if (!known)
            return refuse("unknown option \"" + name + "\"");
        if (flag && has_value)
            return refuse(name + " takes no value");
        if (!flag && !has_value) {
            if (i + 1 >= args.size())
                return refuse(name + " needs a value");
            value = args[++i];
        }
        if (name == "--help") {
            o.help = true;
        } else if (name == "--json") {
            o.json = true;
        } else if (name == "--y") {
            o.y = value;
        } else if (name == "--x") {
            o.x = value;
        } else if (name == "--plot") {
            if (value.empty())
                return refuse("--plot needs a file name");
            o.plot = value;
        } else if (name == "--no-intercept" && allowed.intercept) {
            o.intercept = false;
        } else if (name == "--degree" && allowed.degree) {
            o.degree = whole_number(value, 1, 15);
            if (o.degree < 0)
                return refuse("--degree takes a whole number from 1 to 15, not \"" + value + "\"");
        } else if (name == "--max-degree" && allowed.max_degree) {
            o.max_degree = whole_number(value, 1, 15);
            if (o.max_degree < 0)
                return refuse("--max-degree takes a whole number from 1 to 15, not \"" + value +
                              "\"");
        } else if ((name == "--formula" || name == "--start") && allowed.formula) {
            (name == "--formula" ? o.formula : o.start) = value;
        } else if (name == "--criterion" && allowed.criterion) {
            const std::string known = std::string("|") + allowed.criteria + "|";
            if (value.empty() || value.find('|') != std::string::npos ||
                known.find("|" + value + "|") == std::string::npos)
                return refuse("--criterion takes " + std::string(allowed.criteria) + ", not \"" +
                              value + "\"");
            o.criterion = value;
        } else {
            return refuse("unknown option \"" + name + "\"");
        }
    }
    if (o.data.empty() && !o.help)
        return refuse("no data file given");
    if (allowed.formula && !o.data.empty() && !o.help && o.formula.empty())
        return refuse("--formula is needed");
    parsed.ok = true;
    return parsed;
}

std::string usage(const program_info& program) {
    const kind_options& k = options_of(program.kind);
    std::string text = std::string("Usage: ") + program.program +
                       " [DATA [options]]\n"
                       "Fits the " +
                       program.model +
                       " model. Without arguments, a console dialogue asks for everything.\n"
                       "DATA is a delimited text file (comma, semicolon or tab) whose first line "
                       "names the columns.\n\n"
                       "  --y COL          the response: a column name or number (default 1)\n";
    if (program.kind == model_kind::curve_linear || program.kind == model_kind::best_curve ||
        program.kind == model_kind::best_nonlinear)
        text += "  --x COL          the predictor (default: column 2)\n";
    else if (program.kind != model_kind::nonlinear)
        text += "  --x SEL          the predictors: column numbers such as 2~4,6, or names "
                "separated by commas (default: every other column)\n";
    if (k.intercept)
        text += "  --no-intercept   no constant term\n";
    if (k.degree)
        text += "  --degree D       the polynomial's degree, 1 to 15 (default 2)\n";
    if (k.max_degree)
        text += "  --max-degree D   the highest degree tried, 1 to 15 (default 6)\n";
    if (k.formula)
        text += "  --formula TEXT   the model, such as \"y ~ b1*(1-exp(-b2*x))\"\n"
                "  --start TEXT     start values, such as \"b1=500, b2=1e-4\"\n";
    if (k.criterion)
        text += std::string("  --criterion C    how the best is chosen: ") + k.criteria + "\n";
    text += "  --json           the report as one JSON object\n"
            "  --plot FILE.svg  also draw the fit into an SVG picture\n"
            "  --help           this text\n\n"
            "Exit status: 0 reported, 1 the data cannot be used, 2 usage error, 3 the model "
            "cannot be fitted.\n";
    return text;
}

} // namespace models

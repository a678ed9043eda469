#include "program_options.h"

#include "criterion.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace models {

namespace {

// The kinds of model, as bits, for the table of options.
enum kind_bit : unsigned {
    linear_bit = 1u << 0,
    nonlinear_bit = 1u << 1,
    curve_bit = 1u << 2,
    best_linear_bit = 1u << 3,
    best_nonlinear_bit = 1u << 4,
    best_curve_bit = 1u << 5,
    every_kind = 0x3f,
};

unsigned bit_of(model_kind kind) {
    return 1u << static_cast<unsigned>(kind);
}

// The criteria each kind of best model knows, for --criterion and its usage.
criterion_set criterion_set_of(model_kind kind) {
    switch (kind) {
    case model_kind::best_linear:
        return subset_criteria;
    case model_kind::best_nonlinear:
        return family_criteria;
    case model_kind::best_curve:
        return degree_criteria;
    default:
        return 0;
    }
}

// A whole number from first to last, or -1.
int whole_number(const std::string& text, int first, int last) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int value = std::atoi(text.c_str());
    return value >= first && value <= last ? value : -1;
}

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One option: its name, the kinds that take it, whether it is a flag, and
// what its value does to the options (empty when taken, else why not).
struct option_rule {
    const char* name;
    unsigned kinds;
    bool flag;
    const char* argument; // its value's placeholder in the usage text
    const char* help;     // the usage line after the name ("" where it depends on the kind)
    std::string (*take)(const program_info&, options&, const std::string& value);
};

std::string take_file_name(std::string& target, const char* name, const std::string& value) {
    if (value.empty())
        return std::string(name) + " needs a file name";
    target = value;
    return {};
}

std::string take_degree(int& target, const char* name, const std::string& value) {
    target = whole_number(value, 1, 15);
    if (target < 0)
        return std::string(name) + " takes a whole number from 1 to 15, not \"" + value + "\"";
    return {};
}

constexpr option_rule option_table[] = {
    {"--help", every_kind, true, "", "this text",
     [](const program_info&, options& o, const std::string&) {
         o.help = true;
         return std::string();
     }},
    {"--json", every_kind, true, "", "the report as one JSON object",
     [](const program_info&, options& o, const std::string&) {
         o.json = true;
         return std::string();
     }},
    {"--y", every_kind, false, "COL", "the response: a column name or number (default 1)",
     [](const program_info&, options& o, const std::string& v) {
         o.y = v;
         return std::string();
     }},
    {"--x", every_kind, false, "SEL", "",
     [](const program_info&, options& o, const std::string& v) {
         o.x = v;
         return std::string();
     }},
    {"--plot", every_kind, false, "FILE.svg", "also draw the fit into an SVG picture",
     [](const program_info&, options& o, const std::string& v) {
         return take_file_name(o.plot, "--plot", v);
     }},
    {"--no-intercept", linear_bit | best_linear_bit, true, "", "no constant term",
     [](const program_info&, options& o, const std::string&) {
         o.intercept = false;
         return std::string();
     }},
    {"--degree", curve_bit, false, "D", "the polynomial's degree, 1 to 15 (default 2)",
     [](const program_info&, options& o, const std::string& v) {
         return take_degree(o.degree, "--degree", v);
     }},
    {"--max-degree", best_curve_bit, false, "D", "the highest degree tried, 1 to 15 (default 6)",
     [](const program_info&, options& o, const std::string& v) {
         return take_degree(o.max_degree, "--max-degree", v);
     }},
    {"--formula", linear_bit | nonlinear_bit | best_linear_bit, false, "TEXT", "",
     [](const program_info&, options& o, const std::string& v) {
         if (v.empty())
             return std::string("--formula needs a formula");
         o.formula = v;
         return std::string();
     }},
    {"--start", nonlinear_bit, false, "TEXT", "start values, such as \"b1=500, b2=1e-4\"",
     [](const program_info&, options& o, const std::string& v) {
         o.start = v;
         return std::string();
     }},
    {"--criterion", best_linear_bit | best_nonlinear_bit | best_curve_bit, false, "C", "",
     [](const program_info& p, options& o, const std::string& v) {
         const std::optional<criterion_id> named = criterion_named(v, criterion_set_of(p.kind));
         if (!named)
             return "--criterion takes " + criteria_list(criterion_set_of(p.kind)) + ", not \"" +
                    v + "\"";
         o.criterion = criterion_label(*named);
         return std::string();
     }},
    {"--weights", linear_bit | curve_bit | nonlinear_bit | best_linear_bit | best_nonlinear_bit,
     false, "COL", "a column of case weights (weighted least squares)",
     [](const program_info&, options& o, const std::string& v) {
         if (v.empty())
             return std::string("--weights needs a column");
         o.weights = v;
         return std::string();
     }},
    {"--level", every_kind, false, "L", "the confidence level of every interval (default 0.95)",
     [](const program_info&, options& o, const std::string& v) {
         char* end = nullptr;
         const double level = std::strtod(v.c_str(), &end);
         if (v.empty() || end != v.c_str() + v.size() || !(level > 0 && level < 1))
             return "--level takes a number between 0 and 1, such as 0.95, not \"" + v + "\"";
         o.level = level;
         return std::string();
     }},
    {"--anova", linear_bit | curve_bit | best_linear_bit, true, "",
     "the sequential analysis of variance",
     [](const program_info&, options& o, const std::string&) {
         o.anova = true;
         return std::string();
     }},
    {"--se", linear_bit | curve_bit | best_linear_bit, false, "TYPE",
     "standard errors: classical (default), or robust hc0, hc1, hc2, hc3",
     [](const program_info&, options& o, const std::string& v) {
         const std::string type = lower(v);
         if (type == "classical") {
             o.se.clear();
             return std::string();
         }
         if (type != "hc0" && type != "hc1" && type != "hc2" && type != "hc3")
             return "--se takes hc0, hc1, hc2, hc3 or classical, not \"" + v + "\"";
         o.se = type;
         return std::string();
     }},
    {"--save", every_kind, false, "FILE.csv",
     "save the fitted values, residuals and influence of every row",
     [](const program_info&, options& o, const std::string& v) {
         return take_file_name(o.save, "--save", v);
     }},
    {"--predict", every_kind, false, "NEW.csv", "predict the rows of NEW, with intervals",
     [](const program_info&, options& o, const std::string& v) {
         return take_file_name(o.predict, "--predict", v);
     }},
    {"--predictions", every_kind, false, "OUT.csv",
     "where the predictions go (default: NEW-predicted.csv beside NEW)",
     [](const program_info&, options& o, const std::string& v) {
         return take_file_name(o.predictions, "--predictions", v);
     }},
    {"--threads", linear_bit | curve_bit | best_linear_bit, false, "N",
     "threads for long work (default: every core)",
     [](const program_info&, options& o, const std::string& v) {
         o.threads = whole_number(v, 1, 256);
         if (o.threads < 0)
             return "--threads takes a whole number from 1 to 256, not \"" + v + "\"";
         return std::string();
     }},
    {"--no-diagnostics", linear_bit | curve_bit | best_linear_bit | best_curve_bit, true, "",
     "leave out the residual diagnostics (one read of the data fewer)",
     [](const program_info&, options& o, const std::string&) {
         o.diagnostics = false;
         return std::string();
     }},
    {"--bounds", nonlinear_bit, false, "TEXT", "bounds on parameters, such as \"K>=0, Vm<=500\"",
     [](const program_info&, options& o, const std::string& v) {
         o.bounds = v;
         return std::string();
     }},
    {"--ci", nonlinear_bit, false, "TYPE", "intervals: wald (default) or profile",
     [](const program_info&, options& o, const std::string& v) {
         const std::string type = lower(v);
         if (type != "wald" && type != "profile")
             return "--ci takes wald or profile, not \"" + v + "\"";
         o.profile_ci = type == "profile";
         return std::string();
     }},
    {"--force-in", best_linear_bit, false, "TERMS",
     "terms kept in every candidate, separated by commas",
     [](const program_info&, options& o, const std::string& v) {
         o.force_in = v;
         return std::string();
     }},
    {"--nbest", best_linear_bit, false, "N", "subsets listed for each size (default 1)",
     [](const program_info&, options& o, const std::string& v) {
         o.nbest = whole_number(v, 1, 100);
         if (o.nbest < 0)
             return "--nbest takes a whole number from 1 to 100, not \"" + v + "\"";
         return std::string();
     }},
};

const option_rule* rule_named(const std::string& name) {
    for (const auto& rule : option_table)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

} // namespace

criteria_of_model criteria_of(model_kind kind) {
    // The criterion each best model's run uses when none is given.
    static const std::string names[] = {criteria_list(criterion_set_of(model_kind::best_linear)),
                                        criteria_list(criterion_set_of(model_kind::best_nonlinear)),
                                        criteria_list(criterion_set_of(model_kind::best_curve))};
    switch (kind) {
    case model_kind::best_linear:
        return {names[0].c_str(), "bic"};
    case model_kind::best_nonlinear:
        return {names[1].c_str(), "aicc"};
    case model_kind::best_curve:
        return {names[2].c_str(), "cv"};
    default:
        return {"", ""};
    }
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
        const option_rule* rule = rule_named(name);
        if (!rule || !(rule->kinds & bit_of(program.kind)))
            return refuse("unknown option \"" + name + "\"");
        if (rule->flag && has_value)
            return refuse(name + " takes no value");
        if (!rule->flag && !has_value) {
            if (i + 1 >= args.size())
                return refuse(name + " needs a value");
            value = args[++i];
        }
        const std::string why = rule->take(program, o, value);
        if (!why.empty())
            return refuse(why);
    }
    if (o.data.empty() && !o.help)
        return refuse("no data file given");
    if (program.kind == model_kind::nonlinear && !o.data.empty() && !o.help && o.formula.empty())
        return refuse("--formula is needed");
    if (!o.predictions.empty() && o.predict.empty())
        return refuse("--predictions names the output of --predict, which is not given");
    parsed.ok = true;
    return parsed;
}

std::string usage(const program_info& program) {
    std::string text = std::string("Usage: ") + program.program +
                       " [DATA [options]]\n"
                       "Fits the " +
                       program.model +
                       " model. Without arguments, a console dialogue asks for everything.\n"
                       "DATA is a delimited text file (comma, semicolon or tab) whose first line "
                       "names the columns.\n\n";
    const bool one_predictor = program.kind == model_kind::curve_linear ||
                               program.kind == model_kind::best_curve ||
                               program.kind == model_kind::best_nonlinear;
    for (const auto& rule : option_table) {
        if (!(rule.kinds & bit_of(program.kind)) || std::string(rule.name) == "--help")
            continue;
        // The non-linear model names its columns in the formula.
        if (program.kind == model_kind::nonlinear && std::string(rule.name) == "--x")
            continue;
        std::string name = rule.name, help = rule.help;
        if (name == "--x")
            help = one_predictor ? "the predictor (default: column 2)"
                                 : "the predictors: column numbers such as 2~4,6, or names "
                                   "separated by commas (default: every other column)";
        if (name == "--formula")
            help = program.kind == model_kind::nonlinear
                       ? "the model, such as \"y ~ b1*(1-exp(-b2*x))\""
                   : program.kind == model_kind::best_linear
                       ? "the candidate terms, such as \"weight ~ group + log(dose)\"; each "
                         "term (a categorical column's levels, an interaction) enters or "
                         "leaves whole, free of the others"
                       : "the model, such as \"weight ~ group + log(dose)\"";
        if (name == "--criterion")
            help = "how the best is chosen: " + criteria_list(criterion_set_of(program.kind));
        std::string head = "  " + name + (*rule.argument ? " " : "") + rule.argument;
        head.resize(std::max<std::size_t>(head.size() + 1, 19), ' ');
        text += head + help + "\n";
    }
    text += "  --help           this text\n\n"
            "Exit status: 0 reported, 1 the data cannot be used, 2 usage error, 3 the model "
            "cannot be fitted.\n";
    return text;
}

} // namespace models

#include "dialogue.h"

#include "batch.h"
#include "columns.h"
#include "console_layout.h"
#include "fit_plot.h"
#include "formula.h"
#include "formula_fit.h"
#include "model_data.h"
#include "nonlinear_program.h"
#include "save_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace models {

namespace {

constexpr std::size_t preview_count = 5;
// Bytes of a preview line read, and the console lines it may take: the
// rest of a long line is left out, marked by " ...".
constexpr std::size_t preview_bytes = 400;
constexpr std::size_t preview_console_lines = 3;
// Candidates shown after the report of a best model; the report's JSON
// keeps them all.
constexpr std::size_t candidates_shown = 10;

// What the questions gathered so far.
struct answers {
    std::string path;
    model_data data; // the file, open, and its header
    options o;
    start_offer offer; // for the formula taken
};

// A question: its text, what Enter does when nothing was answered before
// (null: an answer is needed), and what an answer does: empty when taken,
// else why it was refused.
struct question {
    const char* text;
    const char* enter;
    std::string (*take)(const program_info&, answers&, const std::string& answer, dialogue_io&);
};

std::size_t width_of(const dialogue_io& io) {
    return io.width ? io.width() : default_console_width;
}

// Says text laid out for the console.
void tell(dialogue_io& io, const std::string& text) {
    io.say(lay_out(text, width_of(io)));
}

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

std::string column_named(const answers& a, std::size_t c) {
    return "column " + std::to_string(c + 1) + " (\"" + a.data.header.names[c] + "\")";
}

// A reason as the dialogue says it: without the batch option it came from.
std::string without_option(const std::string& reason) {
    for (const std::string option :
         {"--y: ", "--x: ", "--save: ", "--predict: ", "--predictions: ", "--formula: "})
        if (reason.rfind(option, 0) == 0)
            return reason.substr(option.size());
    return reason;
}

std::unique_ptr<byte_source> open_file(dialogue_io& io, const std::string& path) {
    if (io.open)
        return io.open(path);
    return std::make_unique<file_source>(path);
}

// A preview line as console lines: tabs shown as two spaces, at most
// preview_console_lines of them.
std::string preview_of(std::string line, std::size_t width) {
    std::string shown;
    for (char c : line)
        shown += c == '\t' ? std::string("  ") : std::string(1, c);
    std::vector<std::string> lines = wrap_line("  " + shown, width);
    if (lines.size() > preview_console_lines || line.size() >= preview_bytes) {
        lines.resize(std::min(lines.size(), preview_console_lines));
        std::string& last = lines.back();
        last =
            last.substr(0, std::min(last.size(), std::max(width, min_layout_width) - 4)) + " ...";
    }
    std::string text;
    for (const auto& l : lines)
        text += l + "\n";
    return text;
}

// A file the user picks: its path, or empty with why set.
std::string picked_file(dialogue_io& io, std::string& why) {
    const std::string path = io.pick_file(why);
    if (path.empty() && why.empty())
        why = "no file was chosen";
    return path;
}

// A column found to hold text: which, and what the reader said of it.
struct text_column {
    std::size_t index;
    std::string found; // such as "line 3 has \"Chad\""
};

// Of the given columns, those whose first rows (a block of them, as the
// reader hands them out) hold text that is no number, each with the first
// such value. The reader stops at the first text it meets and names its
// line and column: that column is set aside and the rest read again, so a
// file with t text columns is read t + 1 times, a block each time.
std::vector<text_column> text_columns(answers& a, std::vector<std::size_t> columns) {
    std::vector<text_column> found;
    while (!columns.empty() && a.data.file) {
        const scan_counts counts = scan_rows(*a.data.file, a.data.header, columns,
                                             [](const double*, std::size_t) { return false; });
        const std::string& e = counts.error;
        const std::size_t at = e.find(", column "), value = e.find("): "),
                          no_number = e.find(" is not a number");
        if (counts.ok || at == std::string::npos || value == std::string::npos ||
            no_number == std::string::npos || e.rfind("line ", 0) != 0)
            break;
        const std::size_t c = std::strtoul(e.c_str() + at + 9, nullptr, 10) - 1;
        const auto listed = std::find(columns.begin(), columns.end(), c);
        if (listed == columns.end())
            break;
        columns.erase(listed);
        found.push_back(
            {c, e.substr(0, at) + " has " + e.substr(value + 3, no_number - value - 3)});
    }
    return found;
}

// Whether a model's predictors are terms: columns of text taken as
// categories (each level coded as a column) and a formula in the
// predictors question. The linear model and the best linear model take
// them; a response is numbers for every model.
bool takes_terms(const program_info& program) {
    return program.kind == model_kind::linear || program.kind == model_kind::best_linear;
}

std::string take_file(const program_info& program, answers& a, const std::string& answer,
                      dialogue_io& io) {
    if (!answer.empty())
        return "press Enter alone to choose the file";
    std::string why;
    const std::string path = picked_file(io, why);
    if (path.empty())
        return why;
    std::unique_ptr<byte_source> file = open_file(io, path);
    tell(io, "Data file: " + path + "\n");
    const preview_lines preview = read_preview(*file, preview_count, preview_bytes);
    if (!preview.ok)
        return preview.error;
    std::string text;
    for (const auto& line : preview.lines)
        text += preview_of(line, width_of(io));
    io.say(text);
    a.path = path;
    a.o = options{};
    a.o.data = path;
    a.data = open_model_data(open_file(io, path), path, "1", "", default_predictors::all_others);
    if (!a.data.header.ok)
        return a.data.reason;
    // Where text columns are categorical, the list says which they are.
    const std::size_t count = a.data.header.names.size();
    std::vector<std::size_t> scanned;
    for (std::size_t c = 0; c < count && takes_terms(program); ++c)
        if (!is_label_column(a.data.header.names, c))
            scanned.push_back(c);
    const std::vector<text_column> categories = text_columns(a, scanned);
    std::vector<std::string> items;
    for (std::size_t c = 0; c < count; ++c) {
        const bool categorical = std::any_of(categories.begin(), categories.end(),
                                             [c](const text_column& t) { return t.index == c; });
        items.push_back(
            std::to_string(c + 1) + " " +
            (is_label_column(a.data.header.names, c) ? "(row names)" : a.data.header.names[c]) +
            (categorical ? " (text: categorical)" : ""));
    }
    std::string list;
    for (const auto& line : pack_items("Columns:  ", items, width_of(io)))
        list += line + "\n";
    io.say(list);
    return {};
}

// Why chosen columns cannot be taken because they hold text; empty when
// none does.
std::string text_refusal(answers& a, const std::vector<std::size_t>& chosen, const char* role) {
    const std::vector<text_column> text = text_columns(a, chosen);
    if (text.empty())
        return {};
    std::string named;
    for (std::size_t i = 0; i < text.size(); ++i)
        named += (i == 0                 ? ""
                  : i + 1 == text.size() ? " and "
                                         : ", ") +
                 column_named(a, text[i].index);
    return named + (text.size() == 1 ? " holds" : " hold") + " text, not numbers (" +
           text.front().found + "): " + role + " must be numbers";
}

std::string take_response(const program_info&, answers& a, const std::string& answer,
                          dialogue_io&) {
    if (trimmed(answer).empty())
        return "the response is needed: type its column's number or name";
    const column_choice y = resolve_column(answer, a.data.header.names);
    if (!y.ok)
        return y.error;
    const std::string text = text_refusal(a, {y.index}, "the response");
    if (!text.empty())
        return text;
    a.o.y = std::to_string(y.index + 1);
    return {};
}

std::size_t response_of(const answers& a) {
    return std::strtoul(a.o.y.c_str(), nullptr, 10) - 1;
}

// The characters of a selection of column numbers ("2~4,6"), with "-" for
// a range mistyped.
constexpr const char* selection_characters = "0123456789,~- ";

// Refuses a selection of numbers that names no column, saying which number
// and the numbers there are, and a range written with "-".
std::string selection_refusal(const std::string& answer, std::size_t count) {
    if (answer.find_first_not_of(selection_characters) != std::string::npos)
        return {};
    const std::size_t dash = answer.find('-');
    if (dash != std::string::npos) {
        std::string range = answer;
        std::replace(range.begin(), range.end(), '-', '~');
        return "ranges use ~, as in " + trimmed(range);
    }
    const std::string columns_are = "the columns are numbered 1 to " + std::to_string(count);
    std::string number;
    for (std::size_t i = 0; i <= answer.size(); ++i) {
        const char c = i < answer.size() ? answer[i] : ',';
        if (std::isdigit(static_cast<unsigned char>(c))) {
            number += c;
            continue;
        }
        if (number.empty())
            continue;
        if (number.size() > 9 || std::stoul(number) == 0 || std::stoul(number) > count)
            return "there is no column " + number + ": " + columns_are;
        number.clear();
    }
    return {};
}

// The other columns than the response (and the row labels) that the model
// takes, as a selection: those of numbers, and those of text where the
// model takes text; those left out for their text are said. Empty with why
// when none is left.
std::string other_columns(const program_info& program, answers& a, dialogue_io& io, bool first_only,
                          std::string& why) {
    std::vector<std::size_t> others;
    for (std::size_t c = 0; c < a.data.header.names.size(); ++c)
        if (c != response_of(a) && !is_label_column(a.data.header.names, c))
            others.push_back(c);
    std::vector<text_column> text;
    if (!takes_terms(program))
        text = text_columns(a, others);
    std::string selection, left_out;
    for (std::size_t c : others) {
        const bool is_text = std::any_of(text.begin(), text.end(),
                                         [c](const text_column& t) { return t.index == c; });
        if (is_text) {
            left_out += (left_out.empty() ? "" : ", ") + column_named(a, c);
            continue;
        }
        if (!(first_only && !selection.empty()))
            selection += (selection.empty() ? "" : ",") + std::to_string(c + 1);
    }
    if (selection.empty()) {
        why = others.empty() ? "the file has no column besides the response"
                             : "no other column holds numbers (" + left_out + " hold text)";
        return {};
    }
    if (!left_out.empty() && !first_only)
        tell(io, "Left out, as they hold text: " + left_out + "\n");
    return selection;
}

// Predictor columns, or with one set a single column; Enter takes every
// other column the model takes (the first of them, with one).
std::string take_columns(const program_info& program, answers& a, const std::string& answer,
                         dialogue_io& io, bool one) {
    const std::vector<std::string>& names = a.data.header.names;
    std::string why;
    if (trimmed(answer).empty()) {
        a.o.x = other_columns(program, a, io, one, why);
        return why;
    }
    why = selection_refusal(answer, names.size());
    if (!why.empty())
        return why;
    if (one && answer.find_first_of(",~") != std::string::npos && !resolve_column(answer, names).ok)
        return "one predictor column, please";
    const column_choices x = resolve_columns(answer, names);
    if (!x.ok)
        return x.error;
    const auto response = std::find(x.indices.begin(), x.indices.end(), response_of(a));
    if (response != x.indices.end())
        return column_named(a, *response) +
               " is the response: the predictors are among the other columns";
    why = takes_terms(program) ? std::string() : text_refusal(a, x.indices, "predictors");
    if (!why.empty())
        return why;
    a.o.x = answer;
    return {};
}

// Whether an answer to the predictors question is a formula: it has a "~"
// and is neither a selection of numbers ("2~4") nor one column's name.
bool is_formula(const program_info& program, const answers& a, const std::string& answer) {
    return takes_terms(program) && answer.find('~') != std::string::npos &&
           answer.find_first_not_of(selection_characters) != std::string::npos &&
           !resolve_column(answer, a.data.header.names).ok;
}

// Predictor columns, or (where the model takes one) a formula, checked
// against the file's columns at once. A formula names its own response:
// that is the one fitted, whatever the response question was answered.
std::string take_predictors(const program_info& program, answers& a, const std::string& answer,
                            dialogue_io& io) {
    if (!is_formula(program, a, answer)) {
        a.o.formula.clear();
        return take_columns(program, a, answer, io, false);
    }
    const std::string problem = formula_problem(answer, a.data.header.names);
    if (!problem.empty())
        return without_option(problem);
    a.o.formula = trimmed(answer);
    a.o.x.clear();
    return {};
}

std::string take_predictor(const program_info& program, answers& a, const std::string& answer,
                           dialogue_io& io) {
    return take_columns(program, a, answer, io, true);
}

// A whole number from 1 to 15 for an option; empty keeps its default.
std::string take_degree_into(int& target, const std::string& answer) {
    if (answer.empty())
        return {};
    const parsed_options parsed =
        parse_options(*program_numbered(3), {"x.csv", "--degree", answer});
    if (!parsed.ok)
        return "a whole number from 1 to 15, please";
    target = parsed.values.degree;
    return {};
}

std::string take_degree(const program_info&, answers& a, const std::string& answer, dialogue_io&) {
    return take_degree_into(a.o.degree, answer);
}

std::string take_max_degree(const program_info&, answers& a, const std::string& answer,
                            dialogue_io&) {
    return take_degree_into(a.o.max_degree, answer);
}

// The criteria "aic|aicc|bic" as "aic, aicc or bic".
std::string criteria_text(const std::string& names) {
    std::string text = names;
    const std::size_t last = text.rfind('|');
    if (last != std::string::npos)
        text.replace(last, 1, " or ");
    for (std::size_t bar = text.find('|'); bar != std::string::npos; bar = text.find('|'))
        text.replace(bar, 1, ", ");
    return text;
}

std::string take_criterion(const program_info& program, answers& a, const std::string& answer,
                           dialogue_io&) {
    const criteria_of_model criteria = criteria_of(program.kind);
    const std::string chosen = lowered(trimmed(answer));
    if (chosen.empty()) {
        a.o.criterion = criteria.default_name;
        return {};
    }
    if (!parse_options(program, {"x.csv", "--criterion", chosen}).ok)
        return "the criteria are " + criteria_text(criteria.names);
    a.o.criterion = chosen;
    return {};
}

// A formula is checked against the file's columns at once, so that a
// refusal says where and why and the same question comes again.
std::string take_formula(const program_info&, answers& a, const std::string& answer,
                         dialogue_io& io) {
    if (trimmed(answer).empty())
        return "the formula is needed: the response, \"~\" and an expression of columns and "
               "parameters";
    const formula_result parsed = parse_formula(answer, a.data.header.names);
    if (!parsed.ok)
        return parsed.error;
    a.o.formula = answer;
    // The start values offered read the file: a long one shows progress.
    progress_sink progress;
    if (io.progress)
        progress = [&io](std::uint64_t done, std::uint64_t total) {
            if (total > 0)
                io.progress("reading the data", double(done) / double(total));
        };
    a.offer =
        a.data.file ? offer_starts(*a.data.file, a.data.header, answer, progress) : start_offer{};
    return {};
}

std::string take_start(const program_info&, answers& a, const std::string& given, dialogue_io&) {
    const formula_result parsed = parse_formula(a.o.formula, a.data.header.names);
    // Enter takes the values offered for a family of the catalogue.
    const std::string answer = trimmed(given).empty() ? a.offer.values : given;
    if (trimmed(answer).empty()) {
        std::string names;
        for (const auto& p : parsed.value.parameters)
            names += (names.empty() ? "" : ", ") + p;
        return "start values are needed, one for each parameter (" + names + ")";
    }
    const starts_result starts = parse_starts(answer, parsed.value.parameters);
    if (!starts.ok)
        return starts.error;
    a.o.start = answer;
    return {};
}

constexpr question file_question = {"Press Enter to choose a data file", "", take_file};
constexpr question response_question = {"Response column, a number or a name", nullptr,
                                        take_response};
// On two lines: the line the answer is typed on stays short.
constexpr question predictors_or_formula_question = {
    "Predictor columns, such as 2~4,6, or a formula, such as\nweight ~ group + log(dose)",
    "every other column", take_predictors};
constexpr question predictor_question = {"Predictor column", "the first other column",
                                         take_predictor};
constexpr question degree_question = {"Degree of the polynomial, 1 to 15", "2", take_degree};
constexpr question max_degree_question = {"Highest degree to try, 1 to 15", "6", take_max_degree};
constexpr question formula_question = {"Formula, such as y ~ b1*(1-exp(-b2*x))", nullptr,
                                       take_formula};
constexpr question start_question = {"Start values, such as b1=500, b2=1e-4", nullptr, take_start};
// Its text and Enter are the model's criteria (see question_text).
constexpr question criterion_question = {"", "", take_criterion};

std::vector<question> questions_of(model_kind kind) {
    switch (kind) {
    case model_kind::linear:
        return {file_question, response_question, predictors_or_formula_question};
    case model_kind::best_linear:
        return {file_question, response_question, predictors_or_formula_question,
                criterion_question};
    case model_kind::curve_linear:
        return {file_question, response_question, predictor_question, degree_question};
    case model_kind::best_curve:
        return {file_question, response_question, predictor_question, max_degree_question,
                criterion_question};
    case model_kind::nonlinear:
        return {file_question, formula_question, start_question};
    case model_kind::best_nonlinear:
        return {file_question, response_question, predictor_question, criterion_question};
    }
    return {file_question};
}

// The question as asked: its text, what Enter does (the answer given last
// time, when there is one), and its end. The question for start values
// names the formula's parameters and offers the values suggested for it.
std::string question_text(const program_info& program, const question& q, const std::string& kept,
                          const answers& a) {
    if (q.take == take_file)
        return std::string(q.text) + " (END ends): ";
    std::string text = q.text, enter = q.enter ? q.enter : "";
    if (q.take == take_start && !a.offer.parameters.empty()) {
        text = "Start values for ";
        for (std::size_t j = 0; j < a.offer.parameters.size(); ++j)
            text += (j == 0 ? "" : ", ") + a.offer.parameters[j];
        if (kept.empty() && !a.offer.values.empty())
            return text + " (Enter takes the suggestion " + a.offer.values + "): ";
        if (kept.empty())
            return text + ", each as name=value: ";
    }
    if (q.take == take_criterion) {
        const criteria_of_model criteria = criteria_of(program.kind);
        text = "Criterion for the best model: " + criteria_text(criteria.names);
        enter = criteria.default_name;
    }
    if (!kept.empty())
        enter = kept;
    return text + (enter.empty() ? "" : " (Enter: " + enter + ")") + ": ";
}

// The table of candidates a best model's report leads with, shortened to
// the best candidates_shown: its title line, then one line a candidate.
// A line marked as the chosen one is kept where it would be left out.
std::string shortened_candidates(const std::vector<std::string>& table) {
    if (table.empty())
        return {};
    std::string text = "\n" + table.front() + "\n";
    std::size_t left_out = 0;
    for (std::size_t i = 1; i < table.size(); ++i) {
        const bool chosen = table[i].find("<- chosen") != std::string::npos;
        if (i <= candidates_shown || chosen)
            text += table[i] + "\n";
        else
            ++left_out;
    }
    if (left_out > 0)
        text += "  (" + std::to_string(left_out) +
                " more not shown; a batch run with --json lists them all)\n";
    return text;
}

// The residual sum of squares of a flat line at the response's mean, over
// the rows a fit used: a fit worse than that missed what the data allow.
double flat_line_rss(model_data& data) {
    const std::size_t stride = data.columns.size() * (data.rounding ? 2 : 1);
    double mean = 0, sum_of_squares = 0;
    long long n = 0;
    rows_of(data)([&](const double* values, std::size_t rows) {
        for (std::size_t i = 0; i < rows; ++i) {
            const double y = values[i * stride], step = y - mean;
            mean += step / double(++n);
            sum_of_squares += step * (y - mean);
        }
        return true;
    });
    return data.counts.ok ? sum_of_squares : NAN;
}

// What a report leaves to take further: its plot, its fitted model (null
// when the model keeps none) and the data, open, to read again.
struct reported_fit {
    std::unique_ptr<plot_model> plot;
    std::shared_ptr<const fitted_model> fitted;
    model_data data;
};

// Fits what the answers say and shows the report; false with why when the
// model could not be fitted.
bool fit_and_report(const program_info& program, answers& a, dialogue_io& io,
                    reported_fit& reported) {
    reported = reported_fit{};
    model_data data = open_model_data(open_file(io, a.path), a.path, a.o.y, a.o.x,
                                      program.kind == model_kind::linear ||
                                              program.kind == model_kind::best_linear ||
                                              program.kind == model_kind::nonlinear
                                          ? default_predictors::all_others
                                          : default_predictors::second_column);
    if (data.status != exit_reported) {
        tell(io, "The data cannot be used: " + without_option(data.reason) + "\n");
        return false;
    }
    tell(io, "Fitting...\n");
    if (io.progress) {
        data.progress = [&io](std::uint64_t done, std::uint64_t total) {
            if (total > 0)
                io.progress("reading the data", double(done) / double(total));
        };
        data.work_progress = io.progress;
    }
    const model_run run = run_model(program, a.o, data);
    if (run.status != exit_reported) {
        tell(io, std::string(run.status == exit_data_unusable ? "The data cannot be used: "
                                                              : "The model could not be fitted: ") +
                     without_option(run.reason) + "\n");
        return false;
    }
    // The candidates of a best model follow its report, where they stay in
    // sight above the next question.
    fit_report shown = run.report;
    const std::vector<std::string> candidates = std::move(shown.preface_text);
    shown.preface_text.clear();
    tell(io, "\n" + text_report(shown) + shortened_candidates(candidates) + "\n");
    // (Where the response is a column as it stands; a transformed one is
    // not the column's values.)
    if (program.kind == model_kind::nonlinear && run.report.response == data.name(0)) {
        const double flat = flat_line_rss(data);
        if (run.report.rss > flat)
            tell(io, "This fit is worse than a flat line at the mean of " + run.report.response +
                         " (residual sum of squares " + short_number(run.report.rss) + " against " +
                         short_number(flat) +
                         "): the start values have led it to a false optimum. bye goes back to "
                         "them; try others.\n\n");
    }
    reported.plot = plot_of(run, data);
    reported.fitted = run.fitted;
    reported.data = std::move(data);
    return true;
}

constexpr const char* no_fitted_model =
    "This model keeps no fitted values: nothing can be saved or predicted.\n";

// Where S saves: the default beside the data for Enter; a name without a
// folder goes beside the data too, not into the program's folder.
std::string save_path(const std::string& answer, const std::string& data_path) {
    const std::string name = trimmed(answer);
    if (name.empty())
        return default_save_path(data_path);
    // (As text: the names are the console's bytes, whatever their code page.)
    const bool rooted =
        name.front() == '/' || name.front() == '\\' || (name.size() > 1 && name[1] == ':');
    const std::size_t folder_end = data_path.find_last_of("/\\");
    if (rooted || folder_end == std::string::npos)
        return name;
    return data_path.substr(0, folder_end + 1) + name;
}

std::string save_question(const std::string& data_path) {
    return "Save the fitted values as (Enter: " + default_save_path(data_path) + "): ";
}

// N: the new rows picked as the data file is, predicted into a file beside
// them; says where, or why not.
void predict_new_rows(const reported_fit& reported, const answers& a, dialogue_io& io) {
    std::string why;
    const std::string path = picked_file(io, why);
    if (path.empty()) {
        tell(io, "Refused: " + why + "\n");
        return;
    }
    tell(io, "New data file: " + path + "\n");
    const written_file predicted = write_predictions(*reported.fitted, reported.data.header.names,
                                                     path, "", a.o.level, reported.data.path);
    tell(io, (predicted.ok ? predicted_line(predicted)
                           : "Refused: " + without_option(predicted.error)) +
                 "\n");
}

enum class command { none, end, back, new_file, plot, save, predict };

command command_of(const std::string& answer) {
    const std::string word = lowered(trimmed(answer));
    if (word == "end")
        return command::end;
    if (word == "bye")
        return command::back;
    if (word == "file")
        return command::new_file;
    if (word == "p")
        return command::plot;
    if (word == "s")
        return command::save;
    if (word == "n")
        return command::predict;
    return command::none;
}

} // namespace

void hold_dialogue(const program_info& program, dialogue_io& io) {
    io.clear();
    tell(io, "Type bye to go back a question, file for a new data file, END to end.\n\n");
    const std::vector<question> questions = questions_of(program.kind);
    // The answers taken last, offered again by Enter after a report.
    std::vector<std::string> kept(questions.size());
    answers a;
    reported_fit fit;
    std::size_t step = 0;
    bool reported = false;
    // After S: the question for the file's name.
    bool naming_save = false;
    const auto answer_question = [&](std::string answer) {
        if (step > 0 && trimmed(answer).empty() && !kept[step].empty())
            answer = kept[step];
        const std::string refused = questions[step].take(program, a, answer, io);
        if (!refused.empty()) {
            tell(io, "Refused: " + refused + "\n");
            return;
        }
        // A new file's columns are not the old one's: nothing is offered.
        if (step == 0)
            kept.assign(questions.size(), "");
        else
            kept[step] = trimmed(answer);
        if (++step == questions.size()) {
            reported = fit_and_report(program, a, io, fit);
            --step;
        }
    };
    for (;;) {
        tell(io, !reported     ? question_text(program, questions[step], kept[step], a)
                 : naming_save ? save_question(fit.data.path)
                               : "P plots, S saves fitted values, N predicts, Enter asks again, "
                                 "file, END ends: ");
        std::string answer;
        const bool more = io.ask(answer);
        if (!more && answer.empty())
            break;
        const command said = command_of(answer);
        if (said == command::end)
            break;
        if (said == command::back) {
            if (naming_save)
                naming_save = false;
            else if (reported)
                reported = false;
            else if (step == 0)
                break;
            else
                --step;
            if (step == 0)
                io.clear();
        } else if (said == command::new_file) {
            reported = naming_save = false;
            step = 0;
            io.clear();
            answer_question("");
        } else if (!reported) {
            answer_question(answer);
        } else if (naming_save) {
            const written_file saved =
                save_fitted_values(*fit.fitted, fit.data, save_path(answer, fit.data.path));
            tell(io,
                 (saved.ok ? saved_line(saved) : "Refused: " + without_option(saved.error)) + "\n");
            naming_save = !saved.ok;
        } else if (said == command::plot) {
            if (fit.plot && io.show_plot)
                io.show_plot(*fit.plot);
            else
                tell(io, "No plot can be shown here.\n");
        } else if (said == command::save || said == command::predict) {
            if (!fit.fitted)
                tell(io, no_fitted_model);
            else if (said == command::save)
                naming_save = true;
            else
                predict_new_rows(fit, a, io);
        } else if (trimmed(answer).empty()) {
            // The questions again, each offering the answer it was given.
            reported = false;
            step = 1;
        } else {
            tell(io, "Refused: P, S, N, Enter, file, bye or END, please.\n");
        }
        if (!more)
            break;
    }
    tell(io, "\nThe dialogue has ended.\n");
}

} // namespace models

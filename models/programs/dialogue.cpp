#include "dialogue.h"

#include "batch.h"
#include "columns.h"
#include "fit_plot.h"
#include "formula.h"
#include "model_data.h"

#include <vector>

namespace models {

namespace {

constexpr std::size_t preview_count = 5;
constexpr std::size_t preview_width = 76;

// What the questions gathered so far.
struct answers {
    std::string path;
    model_data data;
    options o;
};

// A question: its text, and what an answer does: empty when taken, else
// why it was refused.
struct question {
    const char* text;
    std::string (*take)(const program_info&, answers&, const std::string& answer, dialogue_io&);
};

std::string column_list(const data_header& header) {
    std::string text = "Columns:";
    for (std::size_t c = 0; c < header.names.size(); ++c)
        text += "  " + std::to_string(c + 1) + " " + header.names[c];
    return text + "\n";
}

std::unique_ptr<byte_source> open_file(dialogue_io& io, const std::string& path) {
    if (io.open)
        return io.open(path);
    return std::make_unique<file_source>(path);
}

std::string take_file(const program_info&, answers& a, const std::string& answer, dialogue_io& io) {
    if (!answer.empty())
        return "press Enter alone to choose the file";
    std::string why;
    const std::string path = io.pick_file(why);
    if (path.empty())
        return why.empty() ? "no file was chosen" : why;
    std::unique_ptr<byte_source> file = open_file(io, path);
    io.say("Data file: " + path + "\n");
    const preview_lines preview = read_preview(*file, preview_count, preview_width);
    if (!preview.ok)
        return preview.error;
    for (const auto& line : preview.lines)
        io.say("  " + line + "\n");
    a.path = path;
    a.o = options{};
    a.o.data = path;
    a.data = open_model_data(open_file(io, path), path, "1", "", default_predictors::all_others);
    if (!a.data.header.ok)
        return a.data.reason;
    io.say(column_list(a.data.header));
    return {};
}

std::string take_response(const program_info&, answers& a, const std::string& answer,
                          dialogue_io&) {
    const column_choice y = resolve_column(answer, a.data.header.names);
    if (!y.ok)
        return y.error;
    a.o.y = std::to_string(y.index + 1);
    return {};
}

std::string take_predictors(const program_info&, answers& a, const std::string& answer,
                            dialogue_io&) {
    if (!answer.empty()) {
        const column_choices x = resolve_columns(answer, a.data.header.names);
        if (!x.ok)
            return x.error;
    }
    a.o.x = answer;
    return {};
}

std::string take_predictor(const program_info& p, answers& a, const std::string& answer,
                           dialogue_io& io) {
    if (!answer.empty()) {
        const column_choice x = resolve_column(answer, a.data.header.names);
        if (!x.ok)
            return x.error;
    }
    return take_predictors(p, a, answer, io);
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

// A formula is checked against the file's columns at once, so that a
// refusal says where and why and the same question comes again.
std::string take_formula(const program_info&, answers& a, const std::string& answer, dialogue_io&) {
    if (answer.empty())
        return "the formula is needed";
    const formula_result parsed = parse_formula(answer, a.data.header.names);
    if (!parsed.ok)
        return parsed.error;
    a.o.formula = answer;
    return {};
}

std::string take_start(const program_info&, answers& a, const std::string& answer, dialogue_io&) {
    const formula_result parsed = parse_formula(a.o.formula, a.data.header.names);
    const starts_result starts = parse_starts(answer, parsed.value.parameters);
    if (!starts.ok)
        return starts.error;
    a.o.start = answer;
    return {};
}

constexpr question file_question = {"Press Enter to choose a data file (END ends): ", take_file};
constexpr question response_question = {"Response column, a number or a name: ", take_response};
constexpr question predictors_question = {
    "Predictor columns, such as 2~4,6 (Enter: every other column): ", take_predictors};
constexpr question predictor_question = {"Predictor column (Enter: the first other column): ",
                                         take_predictor};
constexpr question degree_question = {"Degree of the polynomial, 1 to 15 (Enter: 2): ",
                                      take_degree};
constexpr question max_degree_question = {"Highest degree to try, 1 to 15 (Enter: 6): ",
                                          take_max_degree};
constexpr question formula_question = {"Formula, such as y ~ b1*(1-exp(-b2*x)): ", take_formula};
constexpr question start_question = {"Start values, such as b1=500, b2=1e-4: ", take_start};

std::vector<question> questions_of(model_kind kind) {
    switch (kind) {
    case model_kind::linear:
    case model_kind::best_linear:
        return {file_question, response_question, predictors_question};
    case model_kind::curve_linear:
        return {file_question, response_question, predictor_question, degree_question};
    case model_kind::best_curve:
        return {file_question, response_question, predictor_question, max_degree_question};
    case model_kind::nonlinear:
        return {file_question, formula_question, start_question};
    case model_kind::best_nonlinear:
        return {file_question, response_question, predictor_question};
    }
    return {file_question};
}

// Fits what the answers say and shows the report; false with why when the
// model could not be fitted.
bool fit_and_report(const program_info& program, answers& a, dialogue_io& io,
                    std::unique_ptr<plot_model>& plot) {
    model_data data = open_model_data(open_file(io, a.path), a.path, a.o.y, a.o.x,
                                      program.kind == model_kind::linear ||
                                              program.kind == model_kind::best_linear ||
                                              program.kind == model_kind::nonlinear
                                          ? default_predictors::all_others
                                          : default_predictors::second_column);
    if (data.status != exit_reported) {
        io.say("Refused: " + data.reason + "\n");
        return false;
    }
    io.say("Fitting...\n");
    if (io.progress) {
        data.progress = [&io](std::uint64_t done, std::uint64_t total) {
            if (total > 0)
                io.progress("reading the data", double(done) / double(total));
        };
        data.work_progress = io.progress;
    }
    const model_run run = run_model(program, a.o, data);
    if (run.status != exit_reported) {
        io.say("The model could not be fitted: " + run.reason + "\n");
        return false;
    }
    io.say("\n" + text_report(run.report) + "\n");
    plot = plot_of(run, data);
    return true;
}

} // namespace

void hold_dialogue(const program_info& program, dialogue_io& io) {
    io.clear();
    const std::vector<question> questions = questions_of(program.kind);
    answers a;
    std::unique_ptr<plot_model> plot;
    std::size_t step = 0;
    bool reported = false;
    for (;;) {
        io.say(reported ? "P shows the plot, Enter fits another model, bye goes back, END ends: "
                        : questions[step].text);
        std::string answer;
        const bool more = io.ask(answer);
        if (!more && answer.empty())
            break;
        if (answer == "END")
            break;
        if (answer == "bye") {
            if (reported)
                reported = false;
            else if (step == 0)
                break;
            else
                --step;
            if (step == 0)
                io.clear();
            continue;
        }
        if (reported) {
            if (answer == "P" || answer == "p") {
                if (plot && io.show_plot)
                    io.show_plot(*plot);
                else
                    io.say("No plot can be shown here.\n");
            } else if (answer.empty()) {
                reported = false;
                step = 1;
            } else {
                io.say("Refused: P, Enter, bye or END, please.\n");
            }
        } else {
            const std::string refused = questions[step].take(program, a, answer, io);
            if (!refused.empty()) {
                io.say("Refused: " + refused + "\n");
            } else if (++step == questions.size()) {
                reported = fit_and_report(program, a, io, plot);
                --step;
            }
        }
        if (!more)
            break;
    }
    io.say("\nThe dialogue has ended.\n");
}

} // namespace models

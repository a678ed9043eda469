#include "save_file.h"

#include "influence.h"
#include "replaced_file.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <initializer_list>
#include <system_error>

namespace models {

namespace {

// Bytes gathered before they go to the file.
constexpr std::size_t flush_bytes = std::size_t(1) << 16;

// The shortest text that reads back as the same double; nothing when the
// value is not finite (an empty field, as for a missing value).
void append_number(std::string& out, double value) {
    if (!std::isfinite(value))
        return;
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    out.append(text, written.ptr);
}

// A CSV field, quoted when it holds a comma, a quote, a line end or
// surrounding spaces.
void append_field(std::string& out, const std::string& text) {
    const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// A row's result fields after its leading ones: each value, or all empty
// when the row has none (counted).
void append_results(std::string& out, bool ok, std::initializer_list<double> values,
                    written_file& result) {
    ++result.rows;
    result.empty += ok ? 0 : 1;
    for (double v : values) {
        out += ',';
        if (ok)
            append_number(out, v);
    }
    out += '\n';
}

// Hands the gathered text to the file once there is enough of it.
void write_when_full(replaced_file& file, std::string& out) {
    if (out.size() >= flush_bytes) {
        file.write(out);
        out.clear();
    }
}

std::string with_suffix(const std::string& path, const std::string& suffix) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return path + suffix + ".csv";
    return path.substr(0, dot) + suffix + path.substr(dot);
}

written_file failed(int status, const std::string& error) {
    written_file result;
    result.status = status;
    result.error = error;
    return result;
}

} // namespace

std::string saved_line(const written_file& saved) {
    return "Fitted values and influence of " + std::to_string(saved.rows) + " rows saved to " +
           saved.path +
           (saved.empty > 0 ? " (" + std::to_string(saved.empty) + " skipped rows left empty)."
                            : ".");
}

std::string predicted_line(const written_file& predicted) {
    return "Predictions for " + std::to_string(predicted.rows - predicted.empty) + " of " +
           std::to_string(predicted.rows) + " new rows written to " + predicted.path +
           (predicted.empty > 0 ? " (" + std::to_string(predicted.empty) +
                                      " not predicted: a missing value or a value the model "
                                      "cannot take)."
                                : ".");
}

void note_saved(fit_report& report, const written_file& saved) {
    report.extra_json.push_back({"saved_file", json_string(saved.path)});
    report.extra_text.push_back(saved_line(saved));
}

void note_predicted(fit_report& report, const written_file& predicted) {
    report.extra_json.push_back({"predictions_file", json_string(predicted.path)});
    report.extra_json.push_back(
        {"predictions", "{\"rows\": " + std::to_string(predicted.rows) +
                            ", \"not_predicted\": " + std::to_string(predicted.empty) + "}"});
    report.extra_text.push_back(predicted_line(predicted));
}

std::string default_predictions_path(const std::string& new_path) {
    return with_suffix(new_path, "-predicted");
}

std::string default_save_path(const std::string& data_path) {
    return with_suffix(data_path, "-fitted");
}

written_file save_fitted_values(const fitted_model& model, model_data& data,
                                const std::string& path) {
    std::error_code same_error;
    if (path == data.path || std::filesystem::equivalent(path, data.path, same_error))
        return failed(exit_usage, "--save: " + path + " is the data file itself");
    replaced_file file;
    if (!file.open(path))
        return failed(exit_data_unusable, file.error());
    std::string out = "row";
    for (std::size_t c : model.columns) {
        out += ',';
        append_field(out, data.header.names[c]);
    }
    out += ",fitted,residual,std_residual,leverage,cooks_distance\n";
    influence_meter meter(model);
    written_file result;
    const std::size_t width = model.columns.size();
    const scan_counts counts = scan_rows(
        *data.file, data.header, model.columns,
        [&](const double* values, std::size_t rows) {
            for (std::size_t i = 0; i < rows; ++i) {
                const double* row = values + i * width;
                append_number(out, double(result.rows + 1));
                bool complete = true;
                for (std::size_t c = 0; c < width; ++c) {
                    out += ',';
                    append_number(out, row[c]);
                    complete = complete && std::isfinite(row[c]);
                }
                const row_influence r = complete ? meter.influence(row) : row_influence();
                append_results(out, r.ok,
                               {r.fitted, r.residual, r.std_residual, r.leverage, r.cooks_distance},
                               result);
            }
            write_when_full(file, out);
            return true;
        },
        data.progress, false, true);
    if (!counts.ok)
        return failed(exit_data_unusable,
                      data.path + ": " +
                          (counts.error.empty() ? "could not be read again" : counts.error));
    file.write(out);
    if (!file.finish())
        return failed(exit_data_unusable, file.error());
    result.ok = true;
    result.path = path;
    return result;
}

written_file write_predictions(const fitted_model& model,
                               const std::vector<std::string>& data_names,
                               const std::string& new_path, const std::string& out_path,
                               double level) {
    const std::string target = out_path.empty() ? default_predictions_path(new_path) : out_path;
    std::error_code same_error;
    if (target == new_path || std::filesystem::equivalent(target, new_path, same_error))
        return failed(exit_usage, "--predictions: " + target + " is the new data itself");
    file_source source(new_path);
    if (!source.error().empty())
        return failed(exit_data_unusable, "--predict: " + source.error());
    const data_header header = read_header(source);
    if (!header.ok)
        return failed(exit_data_unusable, "--predict: " + new_path + ": " + header.error);
    // Where each of the model's columns stands in NEW, or -1 (response only).
    std::vector<int> at(model.columns.size(), -1);
    for (std::size_t c = 0; c < model.columns.size(); ++c) {
        const std::string& name = data_names[model.columns[c]];
        for (std::size_t k = 0; k < header.names.size(); ++k)
            if (header.names[k] == name)
                at[c] = static_cast<int>(k);
        if (at[c] < 0 && c >= model.response_columns)
            return failed(exit_data_unusable, "--predict: " + new_path + " has no column \"" +
                                                  name + "\", which the model uses");
    }
    replaced_file file;
    if (!file.open(target))
        return failed(exit_data_unusable, file.error());
    std::string out;
    for (const std::string& name : header.names) {
        append_field(out, name);
        out += ',';
    }
    out += "fit,se_fit,ci_low,ci_high,pi_low,pi_high\n";
    influence_meter meter(model, level);
    written_file result;
    std::vector<double> row(model.columns.size());
    std::string problem;
    const record_counts counts =
        scan_records(source, header, [&](long long line, const std::vector<std::string>& fields) {
            bool complete = true;
            for (std::size_t c = 0; c < row.size(); ++c) {
                row[c] = NAN;
                if (at[c] < 0)
                    continue;
                const std::size_t k = static_cast<std::size_t>(at[c]);
                const std::string text = k < fields.size() ? fields[k] : std::string();
                const number_field kind = read_number_field(text, header, row[c], problem);
                if (kind == number_field::bad) {
                    problem = "line " + std::to_string(line) + ", column " + std::to_string(k + 1) +
                              " (\"" + header.names[k] + "\"): " + problem;
                    return false;
                }
                complete = complete && (kind == number_field::number || c < model.response_columns);
            }
            for (std::size_t k = 0; k < header.names.size(); ++k) {
                if (k > 0)
                    out += ',';
                append_field(out, k < fields.size() ? fields[k] : std::string());
            }
            const row_prediction r = complete ? meter.prediction(row.data()) : row_prediction();
            append_results(out, r.ok, {r.fit, r.se_fit, r.ci_low, r.ci_high, r.pi_low, r.pi_high},
                           result);
            write_when_full(file, out);
            return true;
        });
    if (!counts.ok || !problem.empty())
        return failed(exit_data_unusable,
                      "--predict: " + new_path + ": " + (problem.empty() ? counts.error : problem));
    file.write(out);
    if (!file.finish())
        return failed(exit_data_unusable, file.error());
    result.ok = true;
    result.path = target;
    return result;
}

} // namespace models

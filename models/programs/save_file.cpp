#include "save_file.h"

#include "influence.h"
#include "number_text.h"
#include "replaced_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <initializer_list>
#include <system_error>

namespace models {

namespace {

// Bytes gathered before they go to the file: large blocks, few writes.
constexpr std::size_t flush_bytes = std::size_t(1) << 20;
// The result fields a row of either file has at most.
constexpr std::size_t most_results = 6;
// Of a block's lines, the share whose start the reading thread puts
// together for --save: reading a row costs about as much as putting the
// start of its line together, and the results and writing about as much
// again, so with this share the two threads are about equally busy.
constexpr double reader_share_of_starts = 0.7;

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

// A row's result fields after its leading ones, and the line's end, at a
// buffer with room for most_results numbers and their commas: each value
// as the shortest text that reads back as it, empty where it is not
// finite, all empty when the row has none (counted).
char* put_results(char* at, bool ok, std::initializer_list<double> values, written_file& result) {
    ++result.rows;
    result.empty += ok ? 0 : 1;
    for (double v : values) {
        *at++ = ',';
        if (ok && std::isfinite(v))
            at = put_shortest(at, v);
    }
    *at++ = '\n';
    return at;
}

bool is_categorical(const fitted_model& model, std::size_t c) {
    return c < model.coded.size() && model.coded[c];
}

// The room a line's categorical fields may need beyond a number's: each
// column's longest level, every character doubled by quoting, and quotes.
std::size_t level_room(const fitted_model& model) {
    std::size_t room = 0;
    for (std::size_t c = 0; c < model.columns.size(); ++c) {
        if (!is_categorical(model, c))
            continue;
        std::size_t longest = 0;
        for (int id = 0;; ++id) {
            const std::string text = model.level_text(c, id);
            if (text.empty())
                break;
            longest = std::max(longest, text.size());
        }
        room += 2 * longest + 2;
    }
    return room;
}

// A line's start at a buffer with room for it: the row number and the
// values as read, each with its comma before it (empty where missing); a
// categorical column's level as the data wrote it.
char* put_line_start(char* at, long long row_number, const double* row, std::size_t width,
                     const fitted_model& model) {
    at = std::to_chars(at, at + number_text_room, row_number).ptr;
    for (std::size_t c = 0; c < width; ++c) {
        *at++ = ',';
        if (!std::isfinite(row[c]))
            continue;
        if (is_categorical(model, c)) {
            std::string field;
            append_field(field, model.level_text(c, row[c]));
            at = std::copy(field.begin(), field.end(), at);
        } else {
            at = put_shortest_of_decimal(at, row[c]);
        }
    }
    return at;
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

// Whether two names name one file: the same text, the same place once
// resolved, or one existing file reached by both. A name the file system
// library cannot take (outside the code page it converts) is compared as
// text only, never let through as an exception.
bool same_file(const std::string& a, const std::string& b) {
    if (a == b)
        return true;
    if (a.empty() || b.empty())
        return false;
    try {
        std::error_code error;
        if (std::filesystem::equivalent(a, b, error))
            return true;
        std::error_code a_error, b_error;
        const auto resolved_a = std::filesystem::weakly_canonical(a, a_error);
        const auto resolved_b = std::filesystem::weakly_canonical(b, b_error);
        return !a_error && !b_error && resolved_a == resolved_b;
    } catch (...) {
        return false;
    }
}

// One thread that runs jobs in turn, handed one at a time: a job is handed
// once the one before it has finished (the reading thread fills the other of
// two blocks meanwhile). Starting a thread per block costs little natively
// but about a millisecond under Wine; one thread serves the whole pass.
// Where no thread can be started, each job runs when handed.
class job_runner {
  public:
    job_runner() {
        try {
            thread_ = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
        }
    }
    ~job_runner() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        handed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    job_runner(const job_runner&) = delete;
    job_runner& operator=(const job_runner&) = delete;

    // Waits for the job before, then hands this one.
    void hand(std::function<void()> job) {
        if (!thread_.joinable()) {
            job();
            return;
        }
        wait();
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        handed_.notify_all();
    }
    // Waits for the last job handed; a failure of a job is thrown here.
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [this] { return !job_; });
        if (failure_) {
            std::exception_ptr failure = failure_;
            failure_ = nullptr;
            std::rethrow_exception(failure);
        }
    }

  private:
    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            handed_.wait(lock, [this] { return static_cast<bool>(job_) || stopping_; });
            if (!job_)
                return;
            lock.unlock();
            std::exception_ptr failure;
            try {
                job_();
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            failure_ = failure;
            job_ = nullptr;
            finished_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable handed_, finished_;
    std::function<void()> job_;
    std::exception_ptr failure_;
    bool stopping_ = false;
    std::thread thread_;
};

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

std::string clashing_outputs(const std::string& save, const std::string& new_path,
                             const std::string& predictions) {
    if (save.empty() || new_path.empty())
        return "";
    const std::string target =
        predictions.empty() ? default_predictions_path(new_path) : predictions;
    if (same_file(save, new_path))
        return "--save: " + save + " is the new data of --predict";
    if (same_file(save, target))
        return "--save: " + save + " is also where the predictions go";
    return "";
}

std::string default_predictions_path(const std::string& new_path) {
    return with_suffix(new_path, "-predicted");
}

std::string default_save_path(const std::string& data_path) {
    return with_suffix(data_path, "-fitted");
}

written_file save_fitted_values(const fitted_model& model, model_data& data,
                                const std::string& path, residual_sums* sums) {
    if (same_file(path, data.path))
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
    if (sums != nullptr) {
        *sums = residual_sums(model.p());
        sums->solved = true;
    }
    written_file result;
    const std::size_t width = model.columns.size();
    // Two threads share the work of a block of rows: this one reads it and
    // puts the start of its first lines together (the row number and the
    // values as read); a second one puts the rest together, adds the
    // results and writes the lines, while this one goes on with the next
    // block. Two blocks take turns, so memory does not grow with the rows.
    struct block {
        std::vector<double> values;
        long long first_row = 0;
        std::string starts;
        std::vector<std::size_t> ends; // of each line's start in starts
    };
    block blocks[2];
    int turn = 0;
    long long next_row = 1;
    const std::size_t line_room =
        (width + most_results + 1) * (number_text_room + 1) + level_room(model);
    std::vector<char> line(line_room), start(line_room);
    out.reserve(flush_bytes + line_room);
    const auto finish_lines = [&](const block& b) {
        const std::size_t rows = b.values.size() / width;
        for (std::size_t i = 0; i < rows; ++i) {
            const double* row = b.values.data() + i * width;
            const bool complete =
                std::all_of(row, row + width, [](double v) { return std::isfinite(v); });
            const row_influence r = complete ? meter.influence(row) : row_influence();
            if (sums != nullptr && r.ok)
                sums->add(r.residual, meter.projected().data());
            char* at = line.data();
            if (i < b.ends.size())
                out.append(b.starts, i == 0 ? 0 : b.ends[i - 1],
                           b.ends[i] - (i == 0 ? 0 : b.ends[i - 1]));
            else
                at = put_line_start(at, b.first_row + static_cast<long long>(i), row, width, model);
            at = put_results(at, r.ok,
                             {r.fitted, r.residual, r.std_residual, r.leverage, r.cooks_distance},
                             result);
            out.append(line.data(), at);
            write_when_full(file, out);
        }
    };
    // Categorical columns read as the fit's level ids (written back as text).
    scan_hooks coding;
    coding.coded = model.coded;
    coding.code = [&model](std::size_t c, const std::string& text, double& value) {
        return model.code(c, text, value);
    };
    job_runner finishing;
    const scan_counts counts = scan_rows(
        *data.file, data.header, model.columns,
        [&](const double* values, std::size_t rows) {
            block& b = blocks[turn];
            turn = 1 - turn;
            b.values.assign(values, values + rows * width);
            b.first_row = next_row;
            next_row += static_cast<long long>(rows);
            b.starts.clear();
            b.ends.clear();
            const auto started =
                static_cast<std::size_t>(static_cast<double>(rows) * reader_share_of_starts);
            for (std::size_t i = 0; i < started; ++i) {
                b.starts.append(start.data(),
                                put_line_start(start.data(),
                                               b.first_row + static_cast<long long>(i),
                                               values + i * width, width, model));
                b.ends.push_back(b.starts.size());
            }
            finishing.hand([&finish_lines, &b] { finish_lines(b); });
            return true;
        },
        data.progress, false, true, model.coded.empty() ? nullptr : &coding);
    finishing.wait();
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
                               double level, const std::string& data_path) {
    const std::string target = out_path.empty() ? default_predictions_path(new_path) : out_path;
    if (same_file(target, new_path))
        return failed(exit_usage, "--predictions: " + target + " is the new data itself");
    if (same_file(target, data_path))
        return failed(exit_usage, "--predictions: " + target + " is the data file itself");
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
        const bool needed =
            c >= model.response_columns && c + model.weight_columns < model.columns.size();
        if (at[c] < 0 && needed)
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
                const bool categorical = c < model.coded.size() && model.coded[c];
                // A category the fit never saw codes as NaN: no prediction.
                if (categorical && !text.empty() && model.code(c, text, row[c])) {
                    complete = complete && std::isfinite(row[c]);
                    continue;
                }
                const number_field kind = read_number_field(text, header, row[c], problem);
                if (kind == number_field::bad) {
                    problem = "line " + std::to_string(line) + ", column " + std::to_string(k + 1) +
                              " (\"" + header.names[k] + "\"): " + problem;
                    return false;
                }
                complete =
                    complete && (kind == number_field::number || c < model.response_columns ||
                                 c + model.weight_columns >= model.columns.size());
            }
            for (std::size_t k = 0; k < header.names.size(); ++k) {
                if (k > 0)
                    out += ',';
                append_field(out, k < fields.size() ? fields[k] : std::string());
            }
            const row_prediction r = complete ? meter.prediction(row.data()) : row_prediction();
            char results[most_results * (number_text_room + 1) + 1];
            out.append(results,
                       put_results(results, r.ok,
                                   {r.fit, r.se_fit, r.ci_low, r.ci_high, r.pi_low, r.pi_high},
                                   result));
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

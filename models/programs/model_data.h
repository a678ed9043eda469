// The data a model program fits: the file, its header, the response and
// predictor columns the user chose, and a source that streams their rows.
#pragma once

#include "data_file.h"
#include "least_squares.h"
#include "program_options.h"
#include "report.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace models {

// How a program picks predictors when --x is not given.
enum class default_predictors { all_others, second_column };

struct model_data {
    int status = exit_reported; // else why the data cannot be used
    std::string reason;
    std::string path;
    std::unique_ptr<byte_source> file;
    data_header header;
    std::vector<std::size_t> columns; // the response first, then the predictors
    scan_counts counts;               // of the last pass over the rows
    // Rows carry, after their values, what rounding each to double took away.
    bool rounding = false;
    progress_sink progress;                       // told of long reads
    const scan_hooks* hooks = nullptr;            // text fields for rows_of to code
    std::shared_ptr<const scan_hooks> kept_hooks; // what hooks points to, when owned here
    // Told of long work other than reading: what, and the share done (0 to 1).
    std::function<void(const char* what, double fraction)> work_progress;

    std::string name(std::size_t i) const { return header.names[columns[i]]; }
    int predictors() const { return static_cast<int>(columns.size()) - 1; }
};

// Opens the file and chooses the columns: y (a name or number), x (a
// selection or names; empty: the default). A failure sets status and reason.
model_data open_model_data(const std::string& path, const std::string& y, const std::string& x,
                           default_predictors fallback);

// The same from a source in memory (tests).
model_data open_model_data(std::unique_ptr<byte_source> source, const std::string& path,
                           const std::string& y, const std::string& x, default_predictors fallback);

// Whether column c holds row labels: an unnamed first column (R's write.csv
// writes its row names so). Never a predictor, nor offered as one.
bool is_label_column(const std::vector<std::string>& names, std::size_t c);

// Streams the rows [y, x1..xk] of the chosen columns; each call reads the
// file again from its start. A reading error is kept in data.counts.
row_source rows_of(model_data& data);

// The same rows in byte ranges read on threads threads (0: one per core),
// for fits that can take them so (least_squares.h); empty where they cannot
// be: text fields to code, rows' lines or rounding asked for. Each call
// reads the file again; the counts of a split read are kept in data.counts.
split_row_source split_rows_of(model_data& data, int threads);

// Every value of the chosen columns in memory, row-major (the models that
// need their rows more than once: non-linear fits, degree choice), read on
// threads threads (0: one per core) where split_rows_of can split the file,
// each range into a part of its own, joined in the file's order: the same
// rows as one thread reads. False with data.status and reason set when the
// data cannot be used.
bool read_all_rows(model_data& data, std::vector<double>& rows, int threads = 0);

// After a failed pass: the status and reason the program reports.
void reading_failed(model_data& data);

// The report's data members (file, rows, used, skipped).
void describe_data(const model_data& data, fit_report& report);

} // namespace models

#include "model_data.h"

#include "columns.h"

#include <algorithm>
#include <thread>

namespace models {

bool is_label_column(const std::vector<std::string>& names, std::size_t c) {
    return c == 0 && !names.empty() && names[0].empty();
}

namespace {

bool fail(model_data& data, int status, const std::string& reason) {
    data.status = status;
    data.reason = reason;
    return false;
}

bool choose_columns(model_data& data, const std::string& y, const std::string& x,
                    default_predictors fallback) {
    const auto& names = data.header.names;
    const column_choice response = resolve_column(y, names);
    if (!response.ok)
        return fail(data, exit_data_unusable, "--y: " + response.error);
    data.columns = {response.index};
    if (!x.empty()) {
        const column_choices chosen = resolve_columns(x, names);
        if (!chosen.ok)
            return fail(data, exit_data_unusable, "--x: " + chosen.error);
        for (std::size_t c : chosen.indices) {
            if (is_label_column(names, c) && c != response.index)
                continue;
            if (c == response.index)
                return fail(data, exit_data_unusable,
                            "--x: column " + std::to_string(c + 1) + " (\"" + names[c] +
                                "\") is the response");
            data.columns.push_back(c);
        }
        return true;
    }
    for (std::size_t c = 0; c < names.size(); ++c) {
        if (c == response.index || is_label_column(names, c))
            continue;
        data.columns.push_back(c);
        if (fallback == default_predictors::second_column)
            break;
    }
    if (data.columns.size() < 2)
        return fail(data, exit_data_unusable, "the file has no column besides the response");
    return true;
}

} // namespace

model_data open_model_data(std::unique_ptr<byte_source> source, const std::string& path,
                           const std::string& y, const std::string& x,
                           default_predictors fallback) {
    model_data data;
    data.path = path;
    data.file = std::move(source);
    if (!data.file->error().empty()) {
        fail(data, exit_data_unusable, data.file->error());
        return data;
    }
    data.header = read_header(*data.file);
    if (!data.header.ok) {
        fail(data, exit_data_unusable, path + ": " + data.header.error);
        return data;
    }
    choose_columns(data, y, x, fallback);
    return data;
}

model_data open_model_data(const std::string& path, const std::string& y, const std::string& x,
                           default_predictors fallback) {
    return open_model_data(std::make_unique<file_source>(path), path, y, x, fallback);
}

row_source rows_of(model_data& data) {
    return [&data](const row_sink& sink) {
        data.counts = scan_rows(*data.file, data.header, data.columns, sink, data.progress,
                                data.rounding, false, data.hooks);
        return data.counts.ok && !data.counts.stopped;
    };
}

split_row_source split_rows_of(model_data& data, int threads) {
    if (threads == 0)
        threads = static_cast<int>(std::thread::hardware_concurrency());
    const bool coded = data.hooks != nullptr && (!data.hooks->coded.empty() || data.hooks->lines);
    if (threads < 2 || data.rounding || coded)
        return {};
    return [&data, threads](const std::function<row_sink(int, int)>& sink_of) {
        scan_counts counts;
        if (!scan_rows_split(*data.file, data.header, data.columns, threads, sink_of, counts,
                             data.progress))
            return false;
        data.counts = counts;
        return true;
    };
}

bool read_all_rows(model_data& data, std::vector<double>& rows, int threads) {
    rows.clear();
    if (const split_row_source split = split_rows_of(data, threads)) {
        // A range's rows, appended to the whole in the ranges' order and
        // freed then, so that the parts and the whole are not all held at once.
        struct part {
            std::size_t width;
            std::vector<double> values;
            void add(const double* v, std::size_t count) {
                values.insert(values.end(), v, v + count * width);
            }
        };
        const std::size_t width = data.columns.size();
        if (read_ranges(
                split,
                [width] {
                    return std::make_unique<part>(part{width, {}});
                },
                [&rows](part& p) {
                    rows.insert(rows.end(), p.values.begin(), p.values.end());
                    std::vector<double>().swap(p.values);
                }))
            return true;
        // Not split (a record across ranges, a row to refuse): one thread
        // reads it, and names the line of any error.
    }
    const bool read = rows_of(data)([&](const double* values, std::size_t count) {
        rows.insert(rows.end(), values,
                    values + count * data.columns.size() * (data.rounding ? 2 : 1));
        return true;
    });
    if (!read) {
        reading_failed(data);
        return false;
    }
    return true;
}

void reading_failed(model_data& data) {
    fail(data, exit_data_unusable,
         data.path + ": " +
             (data.counts.error.empty() ? "the data could not be read" : data.counts.error));
}

void describe_data(const model_data& data, fit_report& report) {
    report.data_file = data.path;
    report.rows = data.counts.rows;
    report.used = data.counts.used;
    report.skipped = data.counts.skipped;
    report.response = data.name(0);
}

} // namespace models

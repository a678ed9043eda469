#include "fit_plot.h"

#include <vector>

namespace models {

std::unique_ptr<plot_model> plot_of(const model_run& run, model_data& data) {
    const bool one_predictor = data.predictors() == 1;
    plot_labels labels;
    labels.model = run.report.model;
    labels.formula = run.report.formula;
    labels.response = run.report.response;
    labels.predictor = one_predictor ? data.name(1) : std::string();
    auto plot = std::make_unique<plot_model>(labels, one_predictor ? plot_kind::data_and_curve
                                                                   : plot_kind::observed_vs_fitted);
    const auto predict = run.predict;
    const auto observed = run.observed;
    if (one_predictor) {
        plot->set_curve([predict](double x) {
            const double row[2] = {0.0, x};
            return predict(row);
        });
    }
    const std::size_t width = data.columns.size();
    std::vector<double> x, y, fitted;
    const bool read = rows_of(data)([&](const double* values, std::size_t rows) {
        x.resize(rows);
        y.resize(rows);
        fitted.resize(rows);
        for (std::size_t i = 0; i < rows; ++i) {
            const double* row = values + i * width;
            y[i] = observed ? observed(row) : row[0];
            x[i] = one_predictor ? row[1] : 0.0;
            fitted[i] = predict(row);
        }
        plot->add_points(one_predictor ? x.data() : nullptr, y.data(), fitted.data(), rows);
        return true;
    });
    if (!read) {
        reading_failed(data);
        return nullptr;
    }
    return plot;
}

} // namespace models

#include "fit_plot.h"

#include "influence.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace models {

std::unique_ptr<plot_model> plot_of(const model_run& run, model_data& data) {
    // A weighted fit reads its weights as a column of its own after the
    // predictors: one predictor still gets the curve against it.
    const int weight_columns = run.fitted ? static_cast<int>(run.fitted->weight_columns) : 0;
    const bool one_predictor = data.predictors() - weight_columns == 1;
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
    // Influence from the fitted model, whose rows may hold fewer columns
    // (the chosen ones of a best subset): where each stands in a plot row.
    std::unique_ptr<influence_meter> meter;
    std::vector<std::size_t> positions;
    if (run.fitted) {
        for (std::size_t c : run.fitted->columns) {
            const auto at = std::find(data.columns.begin(), data.columns.end(), c);
            if (at == data.columns.end())
                break;
            positions.push_back(static_cast<std::size_t>(at - data.columns.begin()));
        }
        if (positions.size() == run.fitted->columns.size()) {
            meter = std::make_unique<influence_meter>(*run.fitted);
            plot->set_coefficients(run.fitted->p());
        }
    }
    std::vector<double> x, y, fitted, standardized, leverage, model_row(positions.size());
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
        if (meter) {
            standardized.resize(rows);
            leverage.resize(rows);
            for (std::size_t i = 0; i < rows; ++i) {
                const double* row = values + i * width;
                for (std::size_t c = 0; c < positions.size(); ++c)
                    model_row[c] = row[positions[c]];
                const row_influence r = meter->influence(model_row.data());
                standardized[i] = r.ok ? r.std_residual : NAN;
                leverage[i] = r.ok ? r.leverage : NAN;
            }
            plot->add_influence(standardized.data(), leverage.data(), rows);
        }
        return true;
    });
    if (!read) {
        reading_failed(data);
        return nullptr;
    }
    return plot;
}

} // namespace models

#include "batch.h"

#include "fit_plot.h"
#include "best_program.h"
#include "linear_program.h"
#include "nonlinear_program.h"
#include "save_file.h"
#include "svg_writer.h"

namespace models {

namespace {

default_predictors predictors_of(model_kind kind) {
    switch (kind) {
    case model_kind::curve_linear:
    case model_kind::best_curve:
    case model_kind::best_nonlinear:
        return default_predictors::second_column;
    default:
        return default_predictors::all_others;
    }
}

batch_output failed(const program_info& program, int status, const std::string& reason) {
    batch_output result;
    result.status = status;
    result.err = std::string(program.program) + ": " + reason + "\n";
    return result;
}

} // namespace

int take_further(model_run& run, const options& o, model_data& data, std::string& reason) {
    if ((!o.save.empty() || !o.predict.empty()) && !run.fitted) {
        reason = "this model cannot save fitted values or predict";
        return exit_usage;
    }
    reason = clashing_outputs(o.save, o.predict, o.predictions);
    if (!reason.empty())
        return exit_usage;
    if (!o.save.empty()) {
        residual_sums sums;
        const written_file saved =
            save_fitted_values(*run.fitted, data, o.save, run.diagnose_from ? &sums : nullptr);
        if (!saved.ok) {
            reason = saved.error;
            return saved.status;
        }
        if (run.diagnose_from && !run.diagnose_from(sums, run.report)) {
            reason = data.path + ": the data changed while it was read again";
            return exit_data_unusable;
        }
        note_saved(run.report, saved);
    }
    if (!o.predict.empty()) {
        const written_file predicted = write_predictions(*run.fitted, data.header.names, o.predict,
                                                         o.predictions, o.level, data.path);
        if (!predicted.ok) {
            reason = predicted.error;
            return predicted.status;
        }
        note_predicted(run.report, predicted);
    }
    return exit_reported;
}

model_run run_model(const program_info& program, const options& o, model_data& data) {
    switch (program.kind) {
    case model_kind::linear:
    case model_kind::curve_linear:
        return run_linear(program, o, data);
    case model_kind::nonlinear:
        return run_nonlinear(program, o, data);
    case model_kind::best_linear:
        return run_best_linear(program, o, data);
    case model_kind::best_nonlinear:
        return run_best_nonlinear(program, o, data);
    case model_kind::best_curve:
        return run_best_curve(program, o, data);
    }
    model_run run;
    run.status = exit_usage;
    run.reason = "unknown model";
    return run;
}

batch_output run_batch(const program_info& program, const std::vector<std::string>& args,
                       const progress_sink& progress, const work_sink& work) {
    const parsed_options parsed = parse_options(program, args);
    if (!parsed.ok) {
        batch_output result = failed(program, exit_usage, parsed.error);
        result.err += "Try " + std::string(program.program) + " --help\n";
        return result;
    }
    const options& o = parsed.values;
    if (o.help) {
        batch_output result;
        result.out = usage(program);
        return result;
    }
    model_data data = open_model_data(o.data, o.y, o.x, predictors_of(program.kind));
    if (data.status != exit_reported)
        return failed(program, data.status, data.reason);
    data.progress = progress;
    data.work_progress = work;
    model_run run = run_model(program, o, data);
    if (run.status != exit_reported)
        return failed(program, run.status, run.reason);
    std::string further;
    const int further_status = take_further(run, o, data, further);
    if (further_status != exit_reported)
        return failed(program, further_status, further);
    if (!o.plot.empty()) {
        const auto plot = plot_of(run, data);
        if (!plot)
            return failed(program, data.status, data.reason);
        const svg_write_result written =
            write_svg_file(o.plot, plot->scene(plot_default_width, plot_default_height));
        if (!written.ok)
            return failed(program, exit_data_unusable, written.error);
    }
    batch_output result;
    result.out = o.json ? json_report(run.report) : text_report(run.report);
    return result;
}

} // namespace models

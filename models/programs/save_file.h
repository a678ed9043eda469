// The files a fitted model writes beyond its report, each streamed in one
// more pass over its input and written whole or not at all:
//   --save FILE.csv      per data row, in the file's order: row, the used
//                        columns as read, fitted, residual, std_residual,
//                        leverage, cooks_distance (empty for a row skipped
//                        for a missing value)
//   --predict NEW.csv    per row of NEW: NEW's columns, then fit, se_fit,
//                        ci_low, ci_high, pi_low, pi_high at a level (empty
//                        where a predictor is missing or the model cannot be
//                        evaluated)
#pragma once

#include "diagnostics.h"
#include "fitted_model.h"
#include "model_data.h"

#include <string>

namespace models {

struct written_file {
    bool ok = false;
    int status = 0;      // the exit status when not ok
    std::string error;   // one line: what failed, naming the file
    std::string path;    // the file written
    long long rows = 0;  // lines written below the header
    long long empty = 0; // of which with empty result fields
};

// Fitted values, residuals and influence per data row into path; never the
// data file itself. With sums, each fitted row's residual and solved
// gradient are added to them too, in file order (a linear fit's
// diagnostics, taken in this pass instead of one of their own).
written_file save_fitted_values(const fitted_model& model, model_data& data,
                                const std::string& path, residual_sums* sums = nullptr);

// Predictions for the rows of new_path into out_path (empty: beside
// new_path, see default_predictions_path). data_names: the fitted data's
// column names, which name the predictors NEW must have. Never NEW itself
// nor the fitted data's file (data_path).
written_file write_predictions(const fitted_model& model,
                               const std::vector<std::string>& data_names,
                               const std::string& new_path, const std::string& out_path,
                               double level, const std::string& data_path);

// Why --save and --predict cannot both be written as named (the save would
// overwrite NEW, or the predictions the save), checked before either is
// written; empty when they can.
std::string clashing_outputs(const std::string& save, const std::string& new_path,
                             const std::string& predictions);

// The report's lines and JSON members naming a file written: "saved_file"
// and "predictions_file" with its counts.
void note_saved(fit_report& report, const written_file& saved);
void note_predicted(fit_report& report, const written_file& predicted);

// The report's line for each: where, and how many rows were left empty.
std::string saved_line(const written_file& saved);
std::string predicted_line(const written_file& predicted);

// NEW's name with "-predicted" before its extension: "new.csv" gives
// "new-predicted.csv".
std::string default_predictions_path(const std::string& new_path);

// The data's name with "-fitted" before its extension, for a save asked
// for without a name.
std::string default_save_path(const std::string& data_path);

} // namespace models

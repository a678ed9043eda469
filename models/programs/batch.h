// A model program's batch run: the command line in, the report and the exit
// status out. Portable: the Win32 main only passes the arguments and prints.
#pragma once

#include "model_data.h"
#include "model_run.h"
#include "program_options.h"

#include <string>
#include <vector>

namespace models {

struct batch_output {
    int status = exit_reported;
    std::string out; // the report (or the usage text)
    std::string err; // one line saying why, when status is not 0
};

// Runs a model of the program's kind on the data as the options say.
model_run run_model(const program_info& program, const options& o, model_data& data);

// What the options ask of a finished run beyond its report: --save and
// --predict files written, each named in the report. exit_reported, or the
// exit status with reason set (nothing is left of a file that failed).
int take_further(model_run& run, const options& o, model_data& data, std::string& reason);

// Told of long work other than reading: what, and the share done.
using work_sink = std::function<void(const char* what, double fraction)>;

// The whole batch run; progress is told of long reads, work of other long
// work (either may be null).
batch_output run_batch(const program_info& program, const std::vector<std::string>& args,
                       const progress_sink& progress, const work_sink& work = nullptr);

} // namespace models

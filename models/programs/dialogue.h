// A model program's console dialogue: the data file through the picker, a
// preview, the columns, the model's own questions, the report, the plot.
// Commands, in any case, at any question: "bye" goes back a question,
// "file" starts again with a new file, "END" ends; the end of input ends.
// After the report, "P" shows the plot, "S" saves the fitted values (to a
// name asked for, beside the data by default), "N" predicts the rows of a
// file picked as the data file is (into a file beside it), and Enter asks
// the questions again, each offering the answer it was given. Text is laid out for the
// console's width (console_layout.h). Portable:
// the console, the picker run and the plot window come in through
// dialogue_io, so the dialogue itself runs in the unit tests.
#pragma once

#include "data_file.h"
#include "plot_model.h"
#include "program_options.h"

#include <functional>
#include <memory>
#include <string>

namespace models {

struct dialogue_io {
    std::function<void(const std::string& text)> say;
    // One typed line; false when input ended before a line end (text then
    // holds what was typed).
    std::function<bool(std::string& text)> ask;
    // Lets the user choose a data file: its path, or empty with why set.
    std::function<std::string(std::string& why)> pick_file;
    // A fresh screen with the program's header.
    std::function<void()> clear;
    // Shows the plot and returns when the user closes it; may be empty.
    std::function<void(const plot_model& plot)> show_plot;
    // Told of long work (reading, searching): what, and the share done; may
    // be empty.
    std::function<void(const char* what, double fraction)> progress;
    // The console's width in columns, for laying out text (a line of that
    // many characters must not make the console wrap); 80 when empty.
    std::function<std::size_t()> width;
    // Opens a data file; a file on disk when empty.
    std::function<std::unique_ptr<byte_source>(const std::string& path)> open;
};

// Holds the dialogue until END or the end of input.
void hold_dialogue(const program_info& program, dialogue_io& io);

} // namespace models

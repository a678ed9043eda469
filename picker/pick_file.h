// The Open dialog and the hand-off write on Windows.
#pragma once

#include "handoff.h"

#include <array>

using path_buffer_type = std::array<char, path_buffer_size>;

// Shows the Open dialog once (with must_exist, only an existing file is
// accepted) and writes whatever path the dialog left in the buffer to the
// hand-off file; a cancel leaves it empty. After a file failure it prints
// the error report on standard output and ends the process with the
// failure code; otherwise it returns.
void pick_file(path_buffer_type& path_buffer, bool must_exist);

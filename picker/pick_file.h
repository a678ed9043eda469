// The Open dialog and the hand-off write on Windows.
#pragma once

#include "handoff.h"

#include <array>

using path_buffer_type = std::array<wchar_t, path_buffer_size>;

// Shows the Open dialog once (with must_exist, only an existing file is
// accepted) and writes the path the dialog left in the buffer to the
// hand-off file, in a form the ANSI file functions open; a cancel leaves it
// empty. After a failed check it prints the error report on standard output
// and ends the process with the failure code; otherwise it returns.
void pick_file(path_buffer_type& path_buffer, bool must_exist);

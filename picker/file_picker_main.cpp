// file_picker: shows the Open dialog and hands the chosen path on through
// C:\trelvane\tep\zzz0000quib.txt. Takes no arguments; a run that hands the
// path on, or a cancel, prints nothing and ends with status 0.
#include "pick_file.h"

#include <windows.h>

namespace {

// Zero-filled at start and used once.
path_buffer_type path_buffer{};

} // namespace

int main() {
    pick_file(path_buffer, true);
    ExitProcess(0);
}

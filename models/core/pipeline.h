// Reading and fitting at once: a source's blocks are handed to a second
// thread, so that parsing the file (one core) and folding rows into the
// factorisation (the other) overlap.
#pragma once

#include "least_squares.h"

namespace models {

// A source that sends the same rows (of columns values each) as source,
// from a second thread, with
// at most a few blocks in flight (memory stays bounded). The sink runs on
// that thread; the source's own callbacks (progress) stay on the caller's.
row_source pipelined(row_source source, std::size_t columns);

} // namespace models

// Text laid out for a console of a given width, so that the console's own
// wrapping (at the last cell, inside a word) never happens.
//
// Contract: no line of the result is longer than the width (in bytes, one
// cell each). Lines break where a space is, or after a ",", ";" or tab, so a
// name (a run of other characters) is never broken unless it alone is
// longer than the room on a line; only then is it broken, after a "\" or
// "/" where it has one, else at the width. A continuation line hangs under
// the text that follows a leading label ("Formula:  ", "Refused: ") or,
// without one, two columns in from the line's own indent. Blocks of table
// rows (see split_table) that do not fit are split into narrower tables,
// not wrapped. Portable: the dialogue lays out all it says with it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace models {

// The width when the console cannot tell its own.
constexpr std::size_t default_console_width = 80;
// Narrower widths are taken as this: no useful text fits in fewer columns.
constexpr std::size_t min_layout_width = 20;

// One line (no line end in it) as console lines of at most width bytes.
std::vector<std::string> wrap_line(const std::string& line, std::size_t width);

// Items (such as "3 weight") after a label, as many on a line as fit, each
// kept whole where it fits a line; the lines after the first start under
// the first item.
std::vector<std::string> pack_items(const std::string& label, const std::vector<std::string>& items,
                                    std::size_t width);

// A table: rows of equal length whose columns are separated by at least two
// spaces in every row, the first column naming the rows. When a row is
// longer than width, the columns after the first are dealt into several
// narrower tables, each with the first column again, separated by an empty
// line. Rows that are no such table, or whose first column alone does not
// fit, are returned unchanged.
std::vector<std::string> split_table(const std::vector<std::string>& rows, std::size_t width);

// A text of several lines (the last may lack its line end, as a question
// does): tables split, other lines wrapped. The line ends are kept.
std::string lay_out(const std::string& text, std::size_t width);

} // namespace models

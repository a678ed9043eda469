// Columns of a data file named by the user: by name ("dose"), by number
// ("3"), or several at once, as a selection of numbers in the console
// kit's syntax ("2~4,6") or as names separated by commas ("dose,weight").
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace models {

struct column_choice {
    bool ok = false;
    std::string error;
    std::size_t index = 0; // 0-based
};

struct column_choices {
    bool ok = false;
    std::string error;
    std::vector<std::size_t> indices; // 0-based, distinct
};

// One column: a name (exactly, else ignoring ASCII case when that is
// unambiguous), else a column number 1..names.size(). Surrounding spaces
// are ignored. A name that several columns share is refused.
column_choice resolve_column(const std::string& text, const std::vector<std::string>& names);

// Several columns. A text of digits, commas, "~" and spaces is a selection
// of column numbers (ascending, distinct, as the kit parses it); any other
// text is a list of columns separated by commas, each as resolve_column
// takes it, in the order given (a whole text that is one column's name is
// that column). Empty selections, numbers outside the columns and a column
// named twice are refused.
column_choices resolve_columns(const std::string& selection, const std::vector<std::string>& names);

} // namespace models

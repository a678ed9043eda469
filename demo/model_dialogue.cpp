#include "model_dialogue.h"

#include "line_input.h"
#include "selection.h"

#include <algorithm>
#include <cstring>

namespace {

// The bytes as one console line: control bytes become ".", and a text
// longer than width is cut and ends in "...".
std::string printable(const char* bytes, std::size_t size, std::size_t width) {
    const bool cut = size > width;
    std::string line(bytes, cut ? width - 3 : size);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = '.';
    }
    return cut ? line + "..." : line;
}

bool is_blank(char c) {
    return c == ' ';
}

std::string trimmed(const char* begin, const char* end) {
    while (begin < end && is_blank(*begin))
        ++begin;
    while (end > begin && is_blank(end[-1]))
        --end;
    return std::string(begin, end);
}

// Where the line starting at bytes ends (at its line feed, or at the end).
const char* line_end(const char* bytes, const char* end) {
    const void* feed = std::memchr(bytes, '\n', static_cast<std::size_t>(end - bytes));
    return feed ? static_cast<const char*>(feed) : end;
}

// The line without its closing carriage return.
std::size_t without_return(const char* line, const char* end) {
    const std::size_t size = static_cast<std::size_t>(end - line);
    return size > 0 && end[-1] == '\r' ? size - 1 : size;
}

constexpr char byte_order_mark[] = "\xEF\xBB\xBF";

} // namespace

const char* base_name(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

const model_entry* model_named(const char* file_name) {
    for (const auto& model : model_table) {
        if (strcompx(base_name(model.program_path), file_name) == 0)
            return &model;
    }
    return nullptr;
}

std::vector<std::string> split_header(const char* line, std::size_t length) {
    std::vector<std::string> names;
    const char* end = line + without_return(line, line + length);
    if (end == line)
        return names;
    const char separator = std::find(line, end, '\t') != end ? '\t' : ',';
    for (const char* start = line;; ++start) {
        const char* stop = std::find(start, end, separator);
        names.push_back(trimmed(start, stop));
        if (stop == end)
            return names;
        start = stop;
    }
}

data_view view_data(const char* bytes, std::size_t size, bool whole) {
    data_view view;
    const char* end = bytes + size;
    if (size >= 3 && std::memcmp(bytes, byte_order_mark, 3) == 0)
        bytes += 3;
    if (bytes == end) {
        view.shown.push_back("The file is empty: it has no first line to name the columns.");
        return view;
    }
    view.shown.push_back("Its first lines:");
    const char* line = bytes;
    for (int shown = 0; shown < preview_lines && line < end; ++shown) {
        const char* stop = line_end(line, end);
        view.shown.push_back("  | " + printable(line, without_return(line, stop), preview_width));
        line = stop + (stop < end ? 1 : 0);
    }
    const char* first_end = line_end(bytes, end);
    if (first_end == end && !whole) {
        view.shown.push_back("Its first line is longer than " + std::to_string(data_read_limit) +
                             " bytes: it names no columns.");
        return view;
    }
    view.columns = split_header(bytes, static_cast<std::size_t>(first_end - bytes));
    if (view.columns.empty())
        view.shown.push_back("Its first line is empty: it names no columns.");
    else
        view.shown.push_back("Its first line names " + std::to_string(view.columns.size()) +
                             (view.columns.size() == 1 ? " column." : " columns."));
    return view;
}

std::string chosen_path(const char* bytes, std::size_t size) {
    std::size_t length = 0;
    while (length < size && bytes[length] != '\r' && bytes[length] != '\n' && bytes[length] != '\0')
        ++length;
    return std::string(bytes, length);
}

std::vector<std::string> answer_selection(char* text, int typed,
                                          const std::vector<std::string>& columns) {
    const int count = static_cast<int>(columns.size());
    const std::string last = std::to_string(count);
    if (typed > selection_max)
        return {"Refused: the text is longer than " + std::to_string(selection_max) +
                " characters."};
    delete_blank(text);
    if (ret_comp(text) != 1)
        return {"Refused: use column numbers, \",\" between them and \"~\" for a range, "
                "such as 1~3,5."};
    std::vector<int> chosen(columns.size());
    const int found = separate_command_spc(text, chosen.data(), count);
    if (found < 0)
        return {"Refused: a range is first~last with last from 1 to " + last +
                "; no doubled \",\" or \"~\"."};
    if (found == 0)
        return {"Refused: it names no column from 1 to " + last + "."};
    std::vector<std::string> lines{"Chosen columns (" + std::to_string(found) + "):"};
    const int listed = std::min(found, listed_columns_max);
    for (int i = 0; i < listed; ++i) {
        const std::string& name = columns[static_cast<std::size_t>(chosen[i] - 1)];
        lines.push_back(
            "  " + std::to_string(chosen[i]) + "  " +
            (name.empty() ? "(no name)" : printable(name.data(), name.size(), name_width)));
    }
    if (found > listed)
        lines.push_back("  ... and " + std::to_string(found - listed) + " more");
    return lines;
}

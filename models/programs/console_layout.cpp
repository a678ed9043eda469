#include "console_layout.h"

#include <algorithm>

namespace models {

namespace {

// Inside an item of pack_items, a space that is no place to break.
constexpr char kept_space = '\x1f';
// A label ("Formula:  ") longer than this share of the width is no place
// for continuation lines to hang: they would be left too little room.
constexpr std::size_t hang_share = 3;

std::string trimmed_right(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::size_t leading_spaces(const std::string& line) {
    const std::size_t first = line.find_first_not_of(' ');
    return first == std::string::npos ? line.size() : first;
}

// Where continuation lines start: under the text after a leading label
// (its ": " followed by spaces), or two columns in from the line's indent.
std::size_t hang_of(const std::string& line, std::size_t width) {
    const std::size_t indent = leading_spaces(line);
    std::size_t hang = indent + 2;
    const std::size_t colon = line.find(": ", indent);
    if (colon != std::string::npos)
        hang = line.find_first_not_of(' ', colon + 1);
    if (hang == std::string::npos || hang > width / hang_share)
        hang = std::min(indent + 2, width / hang_share);
    return hang;
}

// Where a word too long for the room is broken: after its last "\" or "/"
// within the room, else at the room's end.
std::size_t forced_cut(const std::string& word, std::size_t room) {
    const std::size_t slash = word.find_last_of("\\/", room - 1);
    return slash == std::string::npos || slash == 0 ? room : slash + 1;
}

std::vector<std::string> wrap(const std::string& line, std::size_t width, std::size_t hang) {
    std::vector<std::string> lines;
    const std::size_t indent = std::min(leading_spaces(line), hang);
    const std::string hang_text(hang, ' ');
    std::string current(indent, ' ');
    bool words = false; // current holds more than its indent
    std::size_t i = leading_spaces(line);
    while (i < line.size()) {
        // A word runs to a space, or up to and including a "," or ";".
        std::size_t end = i;
        while (end < line.size() && line[end] != ' ') {
            const char c = line[end++];
            if (c == ',' || c == ';')
                break;
        }
        std::string word = line.substr(i, end - i);
        std::size_t next = end;
        while (next < line.size() && line[next] == ' ')
            ++next;
        if (words && current.size() + word.size() > width) {
            lines.push_back(trimmed_right(current));
            current = hang_text;
            words = false;
        }
        while (current.size() + word.size() > width) {
            const std::size_t cut = forced_cut(word, width - current.size());
            lines.push_back(current + word.substr(0, cut));
            current = hang_text;
            word.erase(0, cut);
        }
        current += word + line.substr(end, next - end);
        words = true;
        i = next;
    }
    lines.push_back(trimmed_right(current));
    return lines;
}

struct column_span {
    std::size_t begin, end;
};

// The table's columns: runs of positions that some row fills, separated by
// at least two positions blank in every row.
std::vector<column_span> table_columns(const std::vector<std::string>& rows) {
    const std::size_t length = rows.front().size();
    std::vector<column_span> columns;
    std::size_t p = 0;
    while (p < length) {
        const auto blank = [&rows](std::size_t at) {
            return std::all_of(rows.begin(), rows.end(),
                               [at](const std::string& row) { return row[at] == ' '; });
        };
        std::size_t gap = p;
        while (gap < length && blank(gap))
            ++gap;
        std::size_t end = gap;
        // A single blank position (a space inside "Std. Error") stays
        // inside the column.
        while (end < length && (!blank(end) || (end + 1 < length && !blank(end + 1))))
            ++end;
        if (end == gap)
            break;
        if (columns.empty())
            columns.push_back({0, end});
        else
            columns.push_back({columns.back().end, end});
        p = end;
    }
    return columns;
}

} // namespace

std::vector<std::string> wrap_line(const std::string& line, std::size_t width) {
    width = std::max(width, min_layout_width);
    if (line.size() <= width)
        return {line};
    return wrap(line, width, hang_of(line, width));
}

std::vector<std::string> pack_items(const std::string& label, const std::vector<std::string>& items,
                                    std::size_t width) {
    width = std::max(width, min_layout_width);
    std::string line = label;
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::string item = items[i];
        std::replace(item.begin(), item.end(), ' ', kept_space);
        line += (i > 0 ? "  " : "") + item;
    }
    const std::size_t hang = label.size() <= width / hang_share ? label.size() : 2;
    std::vector<std::string> lines =
        line.size() <= width ? std::vector<std::string>{line} : wrap(line, width, hang);
    for (auto& l : lines)
        std::replace(l.begin(), l.end(), kept_space, ' ');
    return lines;
}

std::vector<std::string> split_table(const std::vector<std::string>& rows, std::size_t width) {
    width = std::max(width, min_layout_width);
    if (rows.size() < 2 || rows.front().size() <= width)
        return rows;
    for (const auto& row : rows) {
        if (row.size() != rows.front().size())
            return rows;
    }
    const std::vector<column_span> columns = table_columns(rows);
    if (columns.size() < 2 || columns[0].end + (columns[1].end - columns[1].begin) > width)
        return rows;
    std::vector<std::string> split;
    std::size_t next = 1;
    while (next < columns.size()) {
        std::size_t used = columns[0].end, last = next;
        while (last < columns.size() && used + columns[last].end - columns[last].begin <= width) {
            used += columns[last].end - columns[last].begin;
            ++last;
        }
        if (last == next)
            return rows; // a column wider than the room beside the first
        if (!split.empty())
            split.push_back("");
        for (const auto& row : rows)
            split.push_back(trimmed_right(
                row.substr(0, columns[0].end) +
                row.substr(columns[next].begin, columns[last - 1].end - columns[next].begin)));
        next = last;
    }
    return split;
}

std::string lay_out(const std::string& text, std::size_t width) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    // The last entry is what follows the last line end: a question, or
    // nothing. Every other entry ends with a line end.
    const std::size_t whole = lines.size() - 1;
    std::string out;
    for (std::size_t i = 0; i < lines.size();) {
        // A run of whole lines of one length may be a table.
        std::size_t run = i + 1;
        while (i < whole && !lines[i].empty() && run < whole &&
               lines[run].size() == lines[i].size())
            ++run;
        if (run - i > 1) {
            const std::vector<std::string> block(lines.begin() + i, lines.begin() + run);
            const std::vector<std::string> split = split_table(block, width);
            if (split != block || lines[i].size() <= width) {
                for (const auto& row : split)
                    out += row + "\n";
                i = run;
                continue;
            }
        }
        const std::string words = trimmed_right(lines[i]);
        std::vector<std::string> wrapped = wrap_line(words, width);
        // A question keeps the space its answer follows, where it fits.
        const std::string tail = lines[i].substr(words.size());
        if (wrapped.back().size() + tail.size() <= std::max(width, min_layout_width))
            wrapped.back() += tail;
        for (std::size_t k = 0; k < wrapped.size(); ++k)
            out += wrapped[k] + (i == whole && k + 1 == wrapped.size() ? "" : "\n");
        ++i;
    }
    return out;
}

} // namespace models

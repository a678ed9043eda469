#include "columns.h"

#include "selection.h"

#include <algorithm>
#include <cctype>

namespace models {

namespace {

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

bool same_ignoring_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool all_digits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// The names for a message, cut after the first 20.
std::string name_list(const std::vector<std::string>& names) {
    std::string list;
    const std::size_t shown = std::min<std::size_t>(names.size(), 20);
    for (std::size_t i = 0; i < shown; ++i)
        list += (i > 0 ? ", " : "") + names[i];
    if (names.size() > shown)
        list += ", ... (" + std::to_string(names.size()) + " columns)";
    return list;
}

std::string no_column_number(const std::string& number, std::size_t count) {
    return "there is no column " + number + "; the file has " + std::to_string(count) +
           (count == 1 ? " column" : " columns");
}

// The columns whose name matches by the given test.
template <typename Match>
std::vector<std::size_t> matches(const std::vector<std::string>& names, Match match) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (match(names[i]))
            found.push_back(i);
    }
    return found;
}

column_choices number_selection(std::string text, const std::vector<std::string>& names) {
    column_choices choices;
    const int count = static_cast<int>(names.size());
    // The kit drops single numbers outside 1..count without a word; a user
    // who typed one should hear about it.
    std::string item;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ',';
        if (c == ' ')
            continue;
        if (c != ',') {
            item += c;
            continue;
        }
        if (all_digits(item)) {
            const bool inside =
                item.size() <= 9 && std::stoi(item) >= 1 && std::stoi(item) <= count;
            if (!inside) {
                choices.error = no_column_number(item, names.size());
                return choices;
            }
        }
        item.clear();
    }
    std::vector<int> result(names.size() + 1, 0);
    const int stored = separate_command_spc(&text[0], result.data(), count);
    if (stored < 0) {
        choices.error = "\"" + trimmed(text) +
                        "\" is not a selection of column numbers (such as 2~4,6) with columns 1 "
                        "to " +
                        std::to_string(count);
        return choices;
    }
    if (stored == 0) {
        choices.error = "no columns are selected";
        return choices;
    }
    for (int i = 0; i < stored; ++i)
        choices.indices.push_back(static_cast<std::size_t>(result[i] - 1));
    choices.ok = true;
    return choices;
}

} // namespace

column_choice resolve_column(const std::string& text, const std::vector<std::string>& names) {
    column_choice choice;
    const std::string wanted = trimmed(text);
    if (wanted.empty()) {
        choice.error = "no column is named";
        return choice;
    }
    std::vector<std::size_t> found =
        matches(names, [&](const std::string& name) { return name == wanted; });
    if (found.empty())
        found = matches(names,
                        [&](const std::string& name) { return same_ignoring_case(name, wanted); });
    if (found.size() > 1) {
        choice.error = "several columns are named \"" + wanted + "\" (columns " +
                       std::to_string(found[0] + 1) + " and " + std::to_string(found[1] + 1) +
                       "); name the column by its number";
        return choice;
    }
    if (found.size() == 1) {
        choice.index = found[0];
        choice.ok = true;
        return choice;
    }
    if (all_digits(wanted)) {
        if (wanted.size() <= 9 && std::stoul(wanted) >= 1 && std::stoul(wanted) <= names.size()) {
            choice.index = std::stoul(wanted) - 1;
            choice.ok = true;
        } else {
            choice.error = no_column_number(wanted, names.size());
        }
        return choice;
    }
    choice.error = "no column is named \"" + wanted + "\"; the columns are: " + name_list(names);
    return choice;
}

column_choices resolve_columns(const std::string& selection,
                               const std::vector<std::string>& names) {
    column_choices choices;
    const column_choice whole = resolve_column(selection, names);
    const bool numbers_only = selection.find_first_not_of("0123456789,~ ") == std::string::npos;
    if (!numbers_only && whole.ok) {
        choices.indices.push_back(whole.index);
        choices.ok = true;
        return choices;
    }
    if (numbers_only && selection.find_first_not_of(", ") != std::string::npos)
        return number_selection(selection, names);
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = std::min(selection.find(',', start), selection.size());
        const column_choice one = resolve_column(selection.substr(start, comma - start), names);
        if (!one.ok) {
            choices.error = one.error;
            choices.indices.clear();
            return choices;
        }
        if (std::find(choices.indices.begin(), choices.indices.end(), one.index) !=
            choices.indices.end()) {
            choices.error = "column " + std::to_string(one.index + 1) + " (\"" + names[one.index] +
                            "\") is named twice";
            choices.indices.clear();
            return choices;
        }
        choices.indices.push_back(one.index);
        if (comma == selection.size())
            break;
        start = comma + 1;
    }
    choices.ok = true;
    return choices;
}

} // namespace models

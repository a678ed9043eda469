#include "selection_oracle.h"

#include "string_helpers.h"

#include <vector>

namespace oracle {
namespace {

int remove_spaces(char* text) {
    const int length = lens(text);
    std::vector<char> kept;
    for (int i = 0; i < length; ++i) {
        if (text[i] != ' ')
            kept.push_back(text[i]);
    }
    for (int i = 0; i < static_cast<int>(kept.size()); ++i)
        text[i] = kept[i];
    text[kept.size()] = '\0';
    return static_cast<int>(kept.size());
}

// The value of text[start .. end - 1], cut out into its own buffer first.
int cut_value(const char* text, int start, int end, std::vector<char>& item) {
    int n = 0;
    for (int i = start; i < end; ++i)
        item[n++] = text[i];
    item[n] = '\0';
    return clamped_atoi(item.data());
}

void accept(int value, int count, std::vector<int>& list) {
    if (value >= 1 && value <= count)
        list.push_back(value);
}

int finish(std::vector<int>& list, int* result, int count) {
    const int size = static_cast<int>(list.size());
    if (size > 1) {
        for (int p = 0; p < size; ++p) {
            for (int q = p + 1; q < size; ++q) {
                if (list[p] > list[q]) {
                    const int t = list[p];
                    list[p] = list[q];
                    list[q] = t;
                }
            }
        }
    }
    int stored = 0;
    for (int value : list) {
        if (value < 1 || value > count)
            continue;
        bool seen = false;
        for (int i = 0; i < stored; ++i)
            seen = seen || result[i] == value;
        if (!seen)
            result[stored++] = value;
    }
    for (int i = stored; i < count; ++i)
        result[i] = 0;
    return stored;
}

int trailing_end(const char* text, int length) {
    return (length > 0 && text[length - 1] == ',') ? length - 1 : length;
}

} // namespace

int separate_command(char* text, int* result, int count) {
    const int length = remove_spaces(text);
    const int end = trailing_end(text, length);
    std::vector<char> item(length + 1);
    std::vector<int> list;
    int s = 0;
    for (int j = 0; text[j] != '\0'; ++j) {
        if (text[j] == ',') {
            accept(cut_value(text, s, j, item), count, list);
            s = j + 1;
        }
    }
    accept(cut_value(text, s, end, item), count, list);
    return finish(list, result, count);
}

int separate_command_spc(char* text, int* result, int count) {
    const int length = remove_spaces(text);
    const int end = trailing_end(text, length);
    if (end > 0 && text[end - 1] == '~')
        return -1;
    std::vector<char> item(length + 1);
    std::vector<int> list;
    int s = 0;
    int j = 0;
    while (text[j] != '\0') {
        if (text[j] == ',' && text[j + 1] == ',')
            return -1;
        if (text[j] == '~' && text[j + 1] == '~')
            return -1;
        if (text[j] == ',') {
            accept(cut_value(text, s, j, item), count, list);
            s = j + 1;
            j = j + 1;
        } else if (text[j] == '~') {
            const int lower = cut_value(text, s, j, item);
            s = j + 1;
            int k = j;
            while (text[k] != '\0' && text[k] != ',')
                ++k;
            const int upper = cut_value(text, s, k, item);
            if (upper < 1 || upper > count)
                return -1;
            if (lower > upper)
                return -1;
            // Numbers below 1 would be dropped when the result is built.
            for (long long v = lower < 1 ? 1 : lower; v <= upper; ++v)
                list.push_back(static_cast<int>(v));
            if (text[k] == '\0')
                return finish(list, result, count);
            s = k + 1;
            j = k + 1;
        } else {
            j = j + 1;
        }
    }
    accept(cut_value(text, s, end, item), count, list);
    return finish(list, result, count);
}

int strcompx(const char* text, const char* other) {
    int i = 0;
    while (text[i] != '\0' && other[i] != '\0') {
        int a = static_cast<signed char>(text[i]);
        int b = static_cast<signed char>(other[i]);
        if (a >= 65 && a <= 90)
            a += 32;
        if (b >= 65 && b <= 90)
            b += 32;
        if (a - b != 0)
            return a - b;
        ++i;
    }
    return static_cast<signed char>(text[i]) - static_cast<signed char>(other[i]);
}

} // namespace oracle

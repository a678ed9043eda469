#include "selection.h"

#include "string_helpers.h"

#include <cstring>

int check_blank(char* text) {
    // Nothing moves before the first space; the library search finds it (or
    // the end) far faster than a byte loop, and most texts have no space.
    const char* first_space = std::strchr(text, ' ');
    if (first_space == nullptr)
        return static_cast<int>(std::strlen(text));
    // Bytes are only moved towards the start, so the text is its own buffer.
    int kept = static_cast<int>(first_space - text);
    for (int i = kept + 1; text[i] != '\0'; ++i) {
        if (text[i] != ' ')
            text[kept++] = text[i];
    }
    text[kept] = '\0';
    return kept;
}

int stringcut(const char* source, int start, int end, char* destination) {
    int copied = 0;
    for (int i = start; i < end; ++i)
        destination[copied++] = source[i];
    destination[copied] = '\0';
    return copied;
}

namespace {

// The value of the item text text[start .. end - 1]: its leading number,
// clamped. Every item ends at a ",", a "~" or the NUL, none of which the
// conversion reads past, so converting in place gives the value of the item
// alone without copying it out.
int item_value(const char* text, int start, int end) {
    return start < end ? clamped_atoi(text + start) : 0;
}

// The accepted items are marked in the caller's result array, used as a
// difference array over the items 1..count: a marked run first..last adds 1
// at entry first - 1 and takes 1 away at entry last. A running sum is then
// positive exactly at the items some run covers, so one sweep yields the
// ascending distinct list whatever the order, repetition and overlap of the
// runs. Time is linear in count and in the number of runs, and no storage
// is needed beyond the result array.
void clear_marks(int* marks, int count) {
    for (int i = 0; i < count; ++i)
        marks[i] = 0;
}

// first..last lies within 1..count.
void mark_items(int* marks, int count, int first, int last) {
    ++marks[first - 1];
    if (last < count)
        --marks[last];
}

// Rewrites the marks as the ascending list of the marked items followed by
// zeros; returns the number of items. Entry i is read before anything is
// written to it, and the list never runs ahead of the sweep.
int collect_marks(int* marks, int count) {
    int stored = 0;
    int open = 0;
    for (int i = 0; i < count; ++i) {
        open += marks[i];
        if (open > 0)
            marks[stored++] = i + 1;
    }
    for (int i = stored; i < count; ++i)
        marks[i] = 0;
    return stored;
}

// Walks a text whose spaces are gone and hands every accepted run of items
// to accept(first, last), both within 1..count, in the order they stand.
// Without ranges every item is a single number and nothing is an error;
// with ranges, "lower~upper" names a run and the malformed forms give -1.
// Each byte is visited once, as scan position or as part of an item.
template <typename Accept>
int scan_items(const char* text, int length, int count, bool ranges, Accept accept) {
    // One trailing comma ends the last item early.
    const int last_end = (length > 0 && text[length - 1] == ',') ? length - 1 : length;
    if (ranges && last_end > 0 && text[last_end - 1] == '~')
        return -1;
    auto accept_item = [&](int start, int end) {
        const int value = item_value(text, start, end);
        if (value >= 1 && value <= count)
            accept(value, value);
    };
    int start = 0;
    for (int j = 0; text[j] != '\0'; ++j) {
        const char c = text[j];
        if (ranges && (c == ',' || c == '~') && text[j + 1] == c)
            return -1;
        if (c == ',') {
            accept_item(start, j);
            start = j + 1;
        } else if (ranges && c == '~') {
            // Any lower bound is taken; items below 1 are simply not named.
            const int lower = item_value(text, start, j);
            start = j + 1;
            int k = start;
            while (text[k] != '\0' && text[k] != ',')
                ++k;
            const int upper = item_value(text, start, k);
            if (upper < 1 || upper > count || lower > upper)
                return -1;
            accept(lower < 1 ? 1 : lower, upper);
            if (text[k] == '\0')
                return 0; // the range was the last item
            // The comma that ends the range is not a scan position.
            start = k + 1;
            j = k;
        }
    }
    accept_item(start, last_end);
    return 0;
}

} // namespace

int separate_command(char* text, int* result, int count) {
    const int length = check_blank(text);
    clear_marks(result, count);
    scan_items(text, length, count, false,
               [&](int first, int last) { mark_items(result, count, first, last); });
    return collect_marks(result, count);
}

int separate_command_spc(char* text, int* result, int count) {
    const int length = check_blank(text);
    // The first walk only checks the text, so that a rejected text leaves
    // the result array exactly as it was.
    if (scan_items(text, length, count, true, [](int, int) {}) != 0)
        return -1;
    clear_marks(result, count);
    scan_items(text, length, count, true,
               [&](int first, int last) { mark_items(result, count, first, last); });
    return collect_marks(result, count);
}

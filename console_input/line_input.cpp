#include "line_input.h"

#include "selection.h"
#include "string_helpers.h"

#include <cstdio>

namespace {

// Codes up to this one, the line feed aside, are dropped from typed lines.
constexpr int last_dropped_code = 20;

int read_typed_line(char* line, int capacity) {
    int stored = 0;
    for (;;) {
        // getchar gives the byte as 0..255, so bytes from 128 up are kept
        // and only the end of input (EOF, negative) stops the loop.
        const int c = std::getchar();
        if (c == EOF || c == '\n') {
            if (capacity > 0)
                line[stored] = '\0';
            return c == EOF ? ~stored : stored;
        }
        if (c > last_dropped_code && stored < capacity - 1)
            line[stored++] = static_cast<char>(c);
    }
}

// A byte as a signed 8-bit value, the order callers rely on.
int signed_byte(char c) {
    return static_cast<signed char>(c);
}

int fold_case(char c) {
    const int b = signed_byte(c);
    return (b >= 'A' && b <= 'Z') ? b + ('a' - 'A') : b;
}

} // namespace

int quibscanf(char* line, int capacity) {
    return read_typed_line(line, capacity);
}

int quibscanf_spc(char* line, int capacity) {
    return read_typed_line(line, capacity);
}

int strcomp(const char* text, const char* other) {
    const int length = lens(text);
    if (length != lens(other))
        return 1;
    for (int i = 0; i < length; ++i) {
        if (text[i] != other[i])
            return 1;
    }
    return 0;
}

int ret_comp(const char* text) {
    if (strcomp(text, "END") == 0)
        return 0;
    if (strcomp(text, "bye") == 0)
        return -1;
    return check_string_number(text);
}

int strcompx(const char* text, const char* other) {
    int i = 0;
    for (; text[i] != '\0' && other[i] != '\0'; ++i) {
        const int difference = fold_case(text[i]) - fold_case(other[i]);
        if (difference != 0)
            return difference;
    }
    return signed_byte(text[i]) - signed_byte(other[i]);
}

int delete_blank(char* text) {
    check_blank(text);
    return 0;
}

#include "string_helpers.h"

#include <climits>

int lens(const char* text) {
    int n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

int strplus(char* destination, const char* source) {
    const int start = lens(destination);
    int copied = 0;
    while (source[copied] != '\0') {
        destination[start + copied] = source[copied];
        ++copied;
    }
    destination[start + copied] = '\0';
    return start + copied;
}

int clearstring(char* buffer, int count) {
    for (int i = 0; i < count; ++i)
        buffer[i] = '\0';
    return 0;
}

namespace {
bool is_number_char(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == ',' || c == '-' || c == '+' || c == '~';
}
} // namespace

int check_string_number(const char* text) {
    for (int i = 0; text[i] != '\0'; ++i) {
        if (!is_number_char(text[i]))
            return -100;
    }
    return 1;
}

int blank(char* buffer) {
    return clearstring(buffer, 100);
}

int length_string(const char* text) {
    // The chooser asks for the check; it decides nothing about the length.
    (void)check_string_number(text);
    return lens(text);
}

int get_string(std::FILE* stream, char* line, int capacity) {
    int stored = 0;
    // getc returns the byte as an unsigned char value, so 0xFF is an
    // ordinary byte and only EOF (negative) ends the stream.
    for (;;) {
        const int c = std::getc(stream);
        if (c == EOF) {
            if (capacity > 0)
                line[stored] = '\0';
            return ~stored;
        }
        if (c == '\n') {
            if (capacity > 0)
                line[stored] = '\0';
            return 0;
        }
        if (stored < capacity - 1)
            line[stored++] = static_cast<char>(c);
        // Bytes past the capacity are read and dropped: the line is cut.
    }
}

int clamped_atoi(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    // Accumulate as a negative number so INT_MIN is reachable exactly.
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 - (*p - '0');
        if (value < -static_cast<long long>(INT_MAX) - 1) {
            return negative ? INT_MIN : INT_MAX;
        }
    }
    if (negative)
        return static_cast<int>(value);
    return value < -static_cast<long long>(INT_MAX) ? INT_MAX : static_cast<int>(-value);
}

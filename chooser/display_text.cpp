#include "display_text.h"

#include "string_helpers.h"

#include <array>
#include <cstdio>
#include <memory>

char titel_string[display_text_size];

namespace {
struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
} // namespace

int load_display_text(const char* path, char* text, int capacity) {
    clearstring(text, capacity);
    // Text mode: the C runtime turns each CR LF into LF before we see it.
    const std::unique_ptr<std::FILE, file_closer> file(std::fopen(path, "r"));
    if (!file)
        return 0;

    // 42 lines of at most 2045 bytes plus CR LF always fit the display text
    // (42 * 2047 = 85974 bytes), so appending needs no bound test when the
    // caller gives the full buffer; a smaller one stops the appending.
    std::array<char, display_line_size> line{};
    int length = 0;
    for (int i = 0; i < display_line_count; ++i) {
        clearstring(line.data(), display_line_size);
        get_string(file.get(), line.data(), display_line_max + 1);
        const int n = lens(line.data());
        line[n] = '\r';
        line[n + 1] = '\n';
        line[n + 2] = '\0';
        if (length + n + 2 >= capacity)
            break;
        length = strplus(text, line.data());
    }
    return 0;
}

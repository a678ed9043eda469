#include "ansi_path.h"

namespace {

// Converts length characters into bytes (a path of at most path_max bytes,
// then NUL); false when they do not convert exactly or are too long.
bool convert_exactly(const wchar_t* wide, std::size_t length, ansi_code_page& code_page,
                     std::array<char, path_buffer_size>& bytes) {
    bool exact = true;
    const std::size_t count = code_page.to_ansi(wide, length, bytes.data(), path_max, exact);
    if (count == 0 || count > path_max || !exact) {
        return false;
    }
    bytes[count] = '\0';
    return true;
}

} // namespace

ansi_path choose_ansi_path(const wchar_t* buffer, std::size_t buffer_size,
                           ansi_code_page& code_page) {
    ansi_path path;
    const std::size_t room = buffer_size < dialog_path_room ? buffer_size : dialog_path_room;
    std::size_t length = 0;
    while (length < room && buffer[length] != L'\0') {
        ++length;
    }
    if (length == room) {
        return path;
    }
    if (length == 0 || convert_exactly(buffer, length, code_page, path.bytes)) {
        path.form = ansi_path_form::exact;
        return path;
    }

    // Each wide character converts to one byte or more, so a short form
    // longer than path_max characters could not be handed on anyway.
    std::array<wchar_t, path_max + 1> short_path{};
    const std::size_t short_length =
        code_page.short_form(buffer, short_path.data(), short_path.size());
    if (short_length != 0 && short_length < short_path.size() &&
        convert_exactly(short_path.data(), short_length, code_page, path.bytes)) {
        path.form = ansi_path_form::short_form;
        return path;
    }
    path.bytes.fill('\0');
    return path;
}

// The ANSI bytes that name a chosen file. The dialog gives a wide path; the
// programs that read the hand-off file open it with the ANSI file functions.
// So the path is handed on only in a form that converts to the ANSI code
// page exactly: the path itself, else its short form, else none at all (a
// look-alike or a "?" would name another file, or none). Portable: the
// conversion and the short form come in through ansi_code_page.
#pragma once

#include "handoff.h"

#include <array>
#include <cstddef>

// No form of the chosen path converts to the ANSI code page: the system's
// "no mapping for the Unicode character".
inline constexpr int failure_no_ansi_form = 1113;

// The platform's answers about wide paths.
struct ansi_code_page {
    // Converts count (at least 1) wide characters to the ANSI code page with
    // no best-fit mapping. Returns the number of bytes they convert to, 0
    // when the conversion fails; stores the bytes in out only when they fit
    // in room. exact is false when a character had no mapping.
    virtual std::size_t to_ansi(const wchar_t* wide, std::size_t count, char* out, std::size_t room,
                                bool& exact) = 0;
    // Stores the short form of the NUL-terminated path and its NUL in out.
    // Returns its length, or 0 when it has none or it does not fit in room.
    virtual std::size_t short_form(const wchar_t* path, wchar_t* out, std::size_t room) = 0;

  protected:
    ~ansi_code_page() = default;
};

enum class ansi_path_form { exact, short_form, none };

// The bytes to hand on, NUL-terminated (at most path_max of them); empty for
// the form none.
struct ansi_path {
    ansi_path_form form = ansi_path_form::none;
    std::array<char, path_buffer_size> bytes{};
};

// The path is the buffer's characters up to its first NUL, which must lie
// in the part granted to the dialog. An empty path (a cancel) is exact.
ansi_path choose_ansi_path(const wchar_t* buffer, std::size_t buffer_size,
                           ansi_code_page& code_page);

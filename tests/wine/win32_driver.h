// What the end-to-end driver programs share: reading another process's
// windows and waiting, always within a time limit, for one to appear.
// Header-only; the drivers run inside the test's Wine prefix.
#pragma once

#include <windows.h>

#include <string>
#include <type_traits>
#include <vector>

namespace win32_driver {

// Most a driver waits for another process to answer one message.
inline constexpr UINT send_timeout_ms = 5000;

// A window's text, asked for by message so that controls of another process
// answer too; a hung owner gives a marker text instead of a hang. In ANSI
// (char) or in UTF-16 (wchar_t), for texts outside the ANSI code page.
template <typename Char> std::basic_string<Char> window_text(HWND window) {
    const auto send = std::is_same_v<Char, wchar_t> ? SendMessageTimeoutW : SendMessageTimeoutA;
    const auto marker = [](const char* text) {
        return std::basic_string<Char>(text, text + std::char_traits<char>::length(text));
    };
    DWORD_PTR length = 0;
    if (!send(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, send_timeout_ms, &length))
        return marker("<no answer to WM_GETTEXTLENGTH>");
    std::vector<Char> text(length + 1, Char());
    DWORD_PTR copied = 0;
    if (!send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
              SMTO_ABORTIFHUNG, send_timeout_ms, &copied))
        return marker("<no answer to WM_GETTEXT>");
    return std::basic_string<Char>(text.data());
}

inline std::string text_of(HWND window) {
    return window_text<char>(window);
}
inline std::wstring wide_text_of(HWND window) {
    return window_text<wchar_t>(window);
}

inline std::string class_of(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A visible top-level window of the class with the exact title, or null.
// Every match is looked at: a hidden one (a box being made or ended) may
// come first.
inline HWND visible_window(const char* window_class, const char* title) {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, window_class, title)) != nullptr) {
        if (IsWindowVisible(found))
            return found;
    }
    return nullptr;
}

// Polls find() until it gives a window or limit_ms have passed (null then).
template <typename Find> HWND wait_for(Find find, DWORD limit_ms, DWORD poll_ms = 20) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = find())
            return found;
        if (GetTickCount() - start >= limit_ms)
            return nullptr;
        Sleep(poll_ms);
    }
}

} // namespace win32_driver

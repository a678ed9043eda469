// What the end-to-end driver programs share: reading another process's
// windows and waiting, always within a time limit, for one to appear.
// Header-only; the drivers run inside the test's Wine prefix.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace win32_driver {

// Most a driver waits for another process to answer one message.
inline constexpr UINT send_timeout_ms = 5000;

// A window's text, asked for by message so that controls of another process
// answer too; a hung owner gives a marker text instead of a hang.
inline std::string text_of(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, send_timeout_ms,
                             &length))
        return "<no answer to WM_GETTEXTLENGTH>";
    std::vector<char> text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, send_timeout_ms, &copied))
        return "<no answer to WM_GETTEXT>";
    return std::string(text.data());
}

inline std::string class_of(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A visible top-level window of the class with the exact title, or null.
inline HWND visible_window(const char* window_class, const char* title) {
    HWND found = FindWindowA(window_class, title);
    return found && IsWindowVisible(found) ? found : nullptr;
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

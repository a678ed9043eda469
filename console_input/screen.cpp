#include "screen.h"

#include "win32.h"

namespace {

bool read_screen(HANDLE* out, CONSOLE_SCREEN_BUFFER_INFO* info) {
    *out = GetStdHandle(STD_OUTPUT_HANDLE);
    return GetConsoleScreenBufferInfo(*out, info) != 0;
}

} // namespace

void ClearConsole() {
    HANDLE out;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!read_screen(&out, &info))
        return;
    const DWORD width = info.dwSize.X > 0 ? static_cast<DWORD>(info.dwSize.X) : 0;
    const DWORD height = info.dwSize.Y > 0 ? static_cast<DWORD>(info.dwSize.Y) : 0;
    const DWORD cells = width * height;
    const COORD origin = {0, 0};
    DWORD written = 0;
    FillConsoleOutputCharacterA(out, ' ', cells, origin, &written);
    FillConsoleOutputAttribute(out, info.wAttributes, cells, origin, &written);
    SetConsoleCursorPosition(out, origin);
}

int wherex() {
    HANDLE out;
    CONSOLE_SCREEN_BUFFER_INFO info;
    return read_screen(&out, &info) ? info.dwCursorPosition.X : -1;
}

int wherey() {
    HANDLE out;
    CONSOLE_SCREEN_BUFFER_INFO info;
    return read_screen(&out, &info) ? info.dwCursorPosition.Y : -1;
}

void gotoXY(int column, int row) {
    const COORD position = {static_cast<SHORT>(column), static_cast<SHORT>(row)};
    SetConsoleCursorPosition(GetStdHandle(STD_OUTPUT_HANDLE), position);
}

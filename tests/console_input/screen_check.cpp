// Checks the console screen helpers on a real console: run it with standard
// output redirected to a file. It first checks the helpers against that
// file, then makes a console of its own and checks them there. Every result
// goes to the file; the exit status is 1 when any check failed.
#include "screen.h"
#include "win32.h"

#include <string>
#include <vector>

namespace {

HANDLE report;
int failures = 0;

void say(const std::string& line) {
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(report, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void expect_equal(const std::string& what, long expected, long got) {
    if (expected == got)
        return;
    ++failures;
    say("FAIL: " + what + ": expected " + std::to_string(expected) + ", got " +
        std::to_string(got));
}

// Standard output is the redirected file: no position can be read, and the
// helpers that write leave the file alone.
void check_redirected() {
    say("redirected: before");
    gotoXY(5, 3);
    ClearConsole();
    say("redirected: after");
    expect_equal("wherex with standard output redirected", -1, wherex());
    expect_equal("wherey with standard output redirected", -1, wherey());
}

HANDLE open_own_console() {
    FreeConsole();
    if (!AllocConsole())
        return INVALID_HANDLE_VALUE;
    // The standard output handle may still be the redirected file.
    HANDLE console =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE)
        SetStdHandle(STD_OUTPUT_HANDLE, console);
    return console;
}

void write_at(HANDLE console, const char* text, SHORT column, SHORT row, WORD attribute) {
    const DWORD length = static_cast<DWORD>(std::string(text).size());
    const std::vector<WORD> attributes(length, attribute);
    DWORD written = 0;
    WriteConsoleOutputCharacterA(console, text, length, {column, row}, &written);
    WriteConsoleOutputAttribute(console, attributes.data(), length, {column, row}, &written);
}

// The first cell of the buffer that is not a space in the given attribute,
// as "row R column C: 'x' in 0xNN"; empty when there is none.
std::string first_unclear_cell(HANDLE console, COORD size, WORD attribute) {
    std::vector<char> chars(size.X);
    std::vector<WORD> attributes(size.X);
    for (SHORT row = 0; row < size.Y; ++row) {
        DWORD read_chars = 0, read_attributes = 0;
        ReadConsoleOutputCharacterA(console, chars.data(), size.X, {0, row}, &read_chars);
        ReadConsoleOutputAttribute(console, attributes.data(), size.X, {0, row}, &read_attributes);
        if (read_chars != static_cast<DWORD>(size.X) ||
            read_attributes != static_cast<DWORD>(size.X))
            return "row " + std::to_string(row) + ": could not be read";
        for (SHORT column = 0; column < size.X; ++column) {
            if (chars[column] != ' ' || attributes[column] != attribute)
                return "row " + std::to_string(row) + " column " + std::to_string(column) + ": '" +
                       std::string(1, chars[column]) + "' in " + std::to_string(attributes[column]);
        }
    }
    return "";
}

void check_console() {
    HANDLE console = open_own_console();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) {
        ++failures;
        say("FAIL: no console of our own: AllocConsole or CONOUT$ failed");
        return;
    }
    // The buffer must reach below the visible window for the clearing check
    // to tell the whole buffer from the window.
    if (info.dwSize.Y < info.srWindow.Bottom + 20) {
        SetConsoleScreenBufferSize(console,
                                   {info.dwSize.X, static_cast<SHORT>(info.srWindow.Bottom + 40)});
        GetConsoleScreenBufferInfo(console, &info);
    }
    const COORD size = info.dwSize;
    say("console: buffer " + std::to_string(size.X) + " x " + std::to_string(size.Y) +
        ", window rows " + std::to_string(info.srWindow.Top) + " to " +
        std::to_string(info.srWindow.Bottom));

    gotoXY(5, 3);
    expect_equal("wherex after gotoXY(5, 3)", 5, wherex());
    expect_equal("wherey after gotoXY(5, 3)", 3, wherey());
    gotoXY(0x10000 + 7, 0x10000 + 2);
    expect_equal("wherex after gotoXY(65543, 65538), cut to 16 bits", 7, wherex());
    expect_equal("wherey after gotoXY(65543, 65538), cut to 16 bits", 2, wherey());

    // Text in other attributes: at the top, below the visible window and in
    // the very last cell.
    write_at(console, "top of the buffer", 0, 0, FOREGROUND_GREEN);
    write_at(console, "below the window", 3, static_cast<SHORT>(info.srWindow.Bottom + 10), 0x2e);
    write_at(console, "Z", static_cast<SHORT>(size.X - 1), static_cast<SHORT>(size.Y - 1), 0x4f);
    const WORD current = FOREGROUND_RED | FOREGROUND_INTENSITY | BACKGROUND_BLUE;
    SetConsoleTextAttribute(console, current);
    if (first_unclear_cell(console, size, current).empty()) {
        ++failures;
        say("FAIL: the text written before clearing is not in the buffer");
    }

    ClearConsole();
    const std::string unclear = first_unclear_cell(console, size, current);
    if (!unclear.empty()) {
        ++failures;
        say("FAIL: after ClearConsole expected every cell ' ' in " + std::to_string(current) +
            ", got " + unclear);
    }
    expect_equal("wherex after ClearConsole", 0, wherex());
    expect_equal("wherey after ClearConsole", 0, wherey());
}

} // namespace

int main() {
    report = GetStdHandle(STD_OUTPUT_HANDLE);
    check_redirected();
    check_console();
    say(failures == 0 ? "all screen checks passed"
                      : "screen checks failed: " + std::to_string(failures));
    return failures == 0 ? 0 : 1;
}

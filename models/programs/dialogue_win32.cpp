// The dialogue's Win32 part: the console (the kit's line input and screen
// helpers), file_picker run in this console and the hand-off file it
// writes, and the plot window.
#include "dialogue_win32.h"

#include "choice.h"
#include "console_layout.h"
#include "dialogue.h"
#include "handoff.h"
#include "line_input.h"
#include "plot_window.h"
#include "screen.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char picker_path[] = "C:\\trelvane\\program\\file_picker.exe";
// Room for a typed answer: longer lines are cut, and refused as too long.
constexpr int answer_room = 1024;

class handle_owner {
  public:
    explicit handle_owner(HANDLE h) : handle_(h) {}
    ~handle_owner() {
        if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr)
            CloseHandle(handle_);
    }
    handle_owner(const handle_owner&) = delete;
    handle_owner& operator=(const handle_owner&) = delete;
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

// The console's width when it is at least wanted_columns wide; the
// height shown where the screen allows; the lines kept to scroll back to.
constexpr SHORT wanted_columns = 100;
constexpr SHORT wanted_rows = 40;
constexpr SHORT kept_lines = 2000;

// The length of the progress line on screen, 0 when none is.
int progress_shown = 0;

// Clears the progress line, so that what comes next starts on a clean line.
void clear_progress() {
    if (progress_shown > 0)
        std::printf("\r%*s\r", progress_shown, "");
    progress_shown = 0;
}

void say(const std::string& text) {
    clear_progress();
    std::fputs(text.c_str(), stdout);
}

// Text may fill a console line but its last cell: the console moves the
// cursor on after that cell by itself.
std::size_t console_width() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) || info.dwSize.X < 2)
        return models::default_console_width;
    return static_cast<std::size_t>(info.dwSize.X - 1);
}

// Makes the console at least wanted_columns x wanted_rows where the screen
// allows, keeping kept_lines lines to scroll back to. Failures leave the
// console as it was: the dialogue lays out its text for any width.
void enlarge_console() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(out, &info))
        return;
    const COORD largest = GetLargestConsoleWindowSize(out);
    const auto fitting = [](SHORT wanted, SHORT screen) {
        return screen > 0 ? std::min(wanted, screen) : wanted;
    };
    const SHORT columns = std::max<SHORT>(info.srWindow.Right - info.srWindow.Left + 1,
                                          fitting(wanted_columns, largest.X));
    const SHORT rows = std::max<SHORT>(info.srWindow.Bottom - info.srWindow.Top + 1,
                                       fitting(wanted_rows, largest.Y));
    const COORD buffer = {std::max(info.dwSize.X, columns), std::max(info.dwSize.Y, kept_lines)};
    SetConsoleScreenBufferSize(out, buffer);
    const SMALL_RECT window = {0, 0, static_cast<SHORT>(columns - 1), static_cast<SHORT>(rows - 1)};
    SetConsoleWindowInfo(out, TRUE, &window);
}

std::string system_error(DWORD code) {
    const std::string message = system_message(code);
    return "system error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}

// Runs file_picker in this console and waits for it; its exit status, or
// why it could not start.
bool run_picker(DWORD& status, std::string& why) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string command = std::string("\"") + picker_path + "\"";
    if (!CreateProcessA(picker_path, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        why = std::string("could not start ") + picker_path + ": " + system_error(GetLastError());
        return false;
    }
    handle_owner thread(process.hThread), running(process.hProcess);
    WaitForSingleObject(running.get(), INFINITE);
    if (!GetExitCodeProcess(running.get(), &status)) {
        why = "file_picker's end could not be read: " + system_error(GetLastError());
        return false;
    }
    return true;
}

// The path the hand-off file names: its first line.
std::string read_handoff(std::string& why) {
    handle_owner file(CreateFileA(handoff_path, GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        why = std::string("could not read ") + handoff_path + ": " + system_error(GetLastError());
        return {};
    }
    char bytes[path_buffer_size + 2] = {};
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes, sizeof bytes, &read, nullptr)) {
        why = std::string("could not read ") + handoff_path + ": " + system_error(GetLastError());
        return {};
    }
    std::size_t length = 0;
    while (length < read && bytes[length] != '\r' && bytes[length] != '\n' && bytes[length] != 0)
        ++length;
    if (length == 0)
        why = "no file was chosen: the Open dialog was cancelled";
    return std::string(bytes, length);
}

std::string pick_file(std::string& why) {
    say("The Open dialog of file_picker chooses the file.\n");
    DWORD status = 0;
    if (!run_picker(status, why))
        return {};
    if (status != 0) {
        why = "file_picker ended with status " + std::to_string(status) + ": no file was chosen";
        return {};
    }
    return read_handoff(why);
}

bool ask(std::string& text) {
    std::vector<char> line(answer_room);
    const int result = quibscanf(line.data(), answer_room);
    const int typed = result < 0 ? ~result : result;
    text.assign(line.data(), static_cast<std::size_t>(typed));
    return result >= 0;
}

} // namespace

int run_dialogue(const models::program_info& program) {
    // Unbuffered, so that text and cursor moves reach the console in order.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    enlarge_console();
    const char* title = model_table[program.number - 1].confirmation_name;
    models::dialogue_io io;
    io.say = say;
    io.ask = ask;
    io.pick_file = pick_file;
    io.clear = [&program, title] {
        ClearConsole();
        // The line ends keep the header readable where standard output is no
        // console and the cursor cannot be placed.
        gotoXY(2, 1);
        say(std::string("trelvane ") + program.model + " model (" + program.program + ")\n");
        gotoXY(2, 2);
        say(std::string(title) + "\n");
        gotoXY(0, 4);
    };
    io.show_plot = [](const models::plot_model& plot) {
        say("The plot window is open; Escape or its close box returns here.\n");
        models::show_plot_window(plot);
    };
    io.width = console_width;
    // Progress of long work on one console line, shown after a second; the
    // next text said clears it, and so does the end of the work.
    ULONGLONG started = 0;
    const char* shown_what = nullptr;
    io.progress = [&started, &shown_what](const char* what, double fraction) {
        const ULONGLONG now = GetTickCount64();
        if (what != shown_what) {
            started = now;
            shown_what = what;
        }
        if (fraction >= 1.0) {
            clear_progress();
            shown_what = nullptr;
            return;
        }
        if (now - started < 1000)
            return;
        const int length = std::printf("\r%s: %d%%", what, static_cast<int>(fraction * 100));
        progress_shown = std::max(progress_shown, length);
    };
    models::hold_dialogue(program, io);
    return 0;
}

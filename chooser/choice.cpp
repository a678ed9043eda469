#include "choice.h"

#include "string_helpers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

int limit = 0;
std::vector<const char*> command_strx;
std::vector<HWND> hwnd_command;
std::vector<HWND> hwnddisplay;
std::vector<std::array<char, row_buffer_size>> command_content;
int selectXX = 0;
HWND hwnd = nullptr;

void reserve_form_rows(int rows) {
    limit = rows;
    const std::size_t room = static_cast<std::size_t>(rows) + 2;
    command_strx.assign(room, nullptr);
    hwnd_command.assign(room, nullptr);
    hwnddisplay.assign(room, nullptr);
    command_content.assign(room, std::array<char, row_buffer_size>{});
    command_strx[0] = "choosing";
}

namespace {

// Reads and tidies every row's field; row 0 is rewritten as its number,
// right-aligned in six characters.
void tidy_rows() {
    for (int k = 0; k < limit; ++k) {
        char* text = command_content[k].data();
        GetWindowTextA(hwnddisplay[k], text, field_read_max);
        if (length_string(text) > 0) {
            if (k == 0)
                std::snprintf(text, row_buffer_size, "%6d", clamped_atoi(text));
            SetWindowTextA(hwnddisplay[k], text);
        }
    }
}

// Tells the user that a model program did not start, and why.
void report_failed_start(const char* program_path, DWORD error) {
    std::string text = "The model program could not be started:\n";
    text += program_path;
    text += "\n\n";
    const std::string reason = system_message(error);
    text += reason.empty() ? "System error " + std::to_string(error) + "." : reason;
    MessageBoxA(nullptr, text.c_str(), suite_caption, MB_ICONEXCLAMATION | MB_OK);
}

} // namespace

std::string system_message(DWORD error) {
    // Inserts (some messages hold "%1") are left as they are: no arguments
    // are given.
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, std::min<std::size_t>(length, sizeof text - 1));
    message.erase(message.find_last_not_of("\r\n ") + 1);
    return message;
}

int ask_right() {
    tidy_rows();
    selectXX = clamped_atoi(command_content[0].data());
    if (selectXX < 1 || selectXX > static_cast<int>(model_table.size()))
        return 1;

    // The question lives only for this call.
    std::string question = model_table[selectXX - 1].confirmation_name;
    question += " corrected ? ";

    ShowWindow(hwnd, SW_HIDE);
    const int answer =
        MessageBoxA(nullptr, question.c_str(), suite_caption, MB_ICONQUESTION | MB_YESNO);
    ShowWindow(hwnd, SW_SHOW);
    return answer;
}

int bye_bye() {
    if (selectXX < 1 || selectXX > static_cast<int>(model_table.size()))
        return -1;
    const char* path = model_table[selectXX - 1].program_path;
    const auto result = reinterpret_cast<std::uintptr_t>(
        ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOW));
    if (result > 32)
        return 0;
    const DWORD error = shell_result_error(static_cast<int>(result));
    report_failed_start(path, error);
    return static_cast<int>(error);
}

// The chooser's form rows, the model table, and the confirmation and launch
// of a chosen model. Reaches the screen only through the Win32 operations of
// platform/win32.h, so it runs against the real ones or the test layer.
#pragma once

#include "win32.h"

#include <array>
#include <string>
#include <vector>

// Caption of every question box of the chooser, and a window title the
// chooser hides at start.
inline constexpr const char suite_caption[] = " Kestrane Co., ";

// A row's text buffer.
inline constexpr int row_buffer_size = 1024;
// Most characters read from an entry field (the read's count includes NUL).
inline constexpr int field_read_max = 99;

struct model_entry {
    int number;
    const char* confirmation_name;
    const char* program_path;
};

inline constexpr std::array<model_entry, 6> model_table{{
    {1, "1.The simple linear model based on trelvane", "c:\\trelvane\\program\\ROSKA_mid_15.exe"},
    {2, "2.The non-linear model based on trelvane", "c:\\trelvane\\program\\ROSKA_mid_16.exe"},
    {3, "3.The curve-linear model based on trelvane", "c:\\trelvane\\program\\ROSKA_mid_17.exe"},
    {4, "4.The best simple linear model based on trelvane",
     "c:\\trelvane\\program\\TARN_line_15.exe"},
    {5, "5.The best non-linear model based on trelvane",
     "c:\\trelvane\\program\\TARN_nonlinear_16.exe"},
    {6, "6.The best curve-linear model based on trelvane",
     "c:\\trelvane\\program\\TARN_curvelinear_17.exe"},
}};

// Form rows: limit rows in parallel arrays, each with room for limit + 2.
extern int limit;
extern std::vector<const char*> command_strx;                          // button captions
extern std::vector<HWND> hwnd_command;                                 // row buttons
extern std::vector<HWND> hwnddisplay;                                  // row entry fields
extern std::vector<std::array<char, row_buffer_size>> command_content; // row texts

// The last model number read from row 0; valid from 1 to 6.
extern int selectXX;

// The main window, hidden while a question is asked.
extern HWND hwnd;

// Sets limit and reserves the form rows (room for rows + 2 each, cleared);
// row 0's caption is "choosing".
void reserve_form_rows(int rows);

// Reads and tidies the row fields, checks the model number and asks the user
// to confirm the named model. Returns 1 when the number is not from 1 to 6
// (no question asked), else the question box's answer (IDYES, IDNO, or 0).
int ask_right();

// A start the shell could not make gives a result of 32 or less. Most such
// values are the system's own error codes; these stand for another one,
// whose message tells the user why.
struct shell_failure {
    int result;
    DWORD error;
};

inline constexpr std::array<shell_failure, 8> shell_failures{{
    {0, 8},     // out of memory or resources: not enough memory
    {26, 32},   // sharing violation
    {27, 1155}, // incomplete association: no association
    {28, 1156}, // DDE timed out: DDE failed
    {29, 1156}, // DDE failed
    {30, 1156}, // DDE busy: DDE failed
    {31, 1155}, // no association
    {32, 1157}, // a library not found
}};

// The system error a failed shell start (result 32 or less) stands for.
constexpr DWORD shell_result_error(int result) {
    for (const auto& failure : shell_failures) {
        if (failure.result == result)
            return failure.error;
    }
    return static_cast<DWORD>(result);
}

// The system's message for an error, without its closing line break; empty
// when the system has none.
std::string system_message(DWORD error);

// Starts the program of model selectXX through the shell. Returns 0 when it
// started; when it did not, tells the user in a box (the program's path and
// the system's reason) and returns the system error; -1 for a number outside
// 1 to 6 (nothing started, nothing shown).
int bye_bye();

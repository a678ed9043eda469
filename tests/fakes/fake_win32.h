// A recording stand-in for the Win32 operations of platform/win32.h, linked
// by the native tests. Windows are plain records with a text and a
// visibility; message boxes answer what the test scripted and shell launches
// give the result it set; launches, system message look-ups and every call
// that shows, hides or asks are recorded in order.
#pragma once

#include "win32.h"

#include <deque>
#include <string>
#include <vector>

namespace fake_win32 {

struct message_box_call {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct shell_call {
    HWND owner;
    std::string verb; // "<null>" when no verb was given
    std::string file;
    bool has_parameters;
    bool has_directory;
    int show_command;
};

struct message_lookup {
    DWORD flags;
    DWORD message_id;
};

// One entry per ShowWindow or MessageBoxA call, in order, for checking
// what the user saw when: "hide:<id>", "show:<id>", "box".
extern std::vector<std::string> events;
extern std::vector<message_box_call> message_boxes;
extern std::vector<shell_call> launches;
// Answers handed out by MessageBoxA, front first; IDNO when empty.
extern std::deque<int> scripted_answers;
// What ShellExecuteA gives back (33, a start, unless a test sets it).
extern int shell_result;
// FormatMessageA calls; each gives the text "reason <id>" and a line break.
extern std::vector<message_lookup> message_lookups;

// Forgets every window and record.
void reset();
// A new window with the given text, visible.
HWND make_window(const std::string& text = "");
std::string text_of(HWND window);
void set_text(HWND window, const std::string& text);
bool is_visible(HWND window);
// The small number naming a window in events.
int id_of(HWND window);

} // namespace fake_win32

#include "fake_win32.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace fake_win32 {

std::vector<std::string> events;
std::vector<message_box_call> message_boxes;
std::vector<shell_call> launches;
std::deque<int> scripted_answers;
int shell_result = 33;
std::vector<message_lookup> message_lookups;

namespace {
struct window_record {
    std::string text;
    bool visible = true;
};
// Handles are 1-based indexes into this list, cast to HWND.
std::vector<std::unique_ptr<window_record>> windows;

window_record* lookup(HWND window) {
    const auto index = reinterpret_cast<std::uintptr_t>(window);
    if (index == 0 || index > windows.size())
        return nullptr;
    return windows[index - 1].get();
}
} // namespace

void reset() {
    events.clear();
    message_boxes.clear();
    launches.clear();
    scripted_answers.clear();
    shell_result = 33;
    message_lookups.clear();
    windows.clear();
}

HWND make_window(const std::string& text) {
    windows.push_back(std::make_unique<window_record>());
    windows.back()->text = text;
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(windows.size()));
}

std::string text_of(HWND window) {
    const window_record* w = lookup(window);
    return w ? w->text : std::string();
}

void set_text(HWND window, const std::string& text) {
    if (window_record* w = lookup(window))
        w->text = text;
}

bool is_visible(HWND window) {
    const window_record* w = lookup(window);
    return w && w->visible;
}

int id_of(HWND window) {
    return static_cast<int>(reinterpret_cast<std::uintptr_t>(window));
}

} // namespace fake_win32

using namespace fake_win32;

int GetWindowTextA(HWND window, LPSTR text, int max_count) {
    if (max_count <= 0)
        return 0;
    const window_record* w = lookup(window);
    const std::string source = w ? w->text : std::string();
    const std::size_t n = std::min(source.size(), static_cast<std::size_t>(max_count - 1));
    std::memcpy(text, source.data(), n);
    text[n] = '\0';
    return static_cast<int>(n);
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    window_record* w = lookup(window);
    if (!w)
        return 0;
    w->text = text ? text : "";
    return 1;
}

BOOL ShowWindow(HWND window, int show_command) {
    window_record* w = lookup(window);
    const bool was_visible = w && w->visible;
    events.push_back((show_command == SW_HIDE ? "hide:" : "show:") + std::to_string(id_of(window)));
    if (w)
        w->visible = (show_command != SW_HIDE);
    return was_visible ? 1 : 0;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    events.push_back("box");
    message_boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
    if (scripted_answers.empty())
        return IDNO;
    const int answer = scripted_answers.front();
    scripted_answers.pop_front();
    return answer;
}

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                        int show_command) {
    launches.push_back({owner, verb ? verb : "<null>", file ? file : "", parameters != nullptr,
                        directory != nullptr, show_command});
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(shell_result));
}

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD message_id, DWORD, LPSTR buffer, DWORD size,
                     va_list*) {
    message_lookups.push_back({flags, message_id});
    const std::string text = "reason " + std::to_string(message_id) + "\r\n";
    if (size <= text.size())
        return 0;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

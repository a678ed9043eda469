// Drives a running model_chooser from another process in the same Wine
// prefix, the way conformance tests drive controls: it finds the windows by
// class and title, reads and sets texts with WM_GETTEXT and WM_SETTEXT,
// clicks with BM_CLICK, reads and answers the question boxes, and reads the
// keyboard focus of the chooser's thread (the script types with real keys).
//
// Every check prints "ok: ..." or "FAIL: ...: expected ..., got ..."; the
// exit status is 1 when any check failed. Every wait is bounded.
//
//   chooser_driver startup                 the window, its controls, its place
//   chooser_driver choose TYPED SHOWN QUESTION|- yes|no [REPORT]
//                                          type, tick the option, answer; with
//                                          REPORT the start fails and says so
//   chooser_driver answer QUESTION yes|no  answer the question shown
//   chooser_driver focus CONTROL FIELD all|-
//                                          the focus is on choosing|field|option,
//                                          the field holds FIELD (all selected)
//   chooser_driver cut                     "choosing" keeps 98 characters
//   chooser_driver not-clicks              commands that are no click do nothing
//   chooser_driver close yes|no            the close question
//   chooser_driver console-hidden PATH     its console window is hidden
//   chooser_driver list                    the top-level windows
//   chooser_driver hold TITLE SECONDS      shows a window of its own so titled
//   chooser_driver hidden TITLE            that window is hidden; closes it
//   chooser_driver time-start RUNS CLASS TITLE EXE
//                                          start-up time to a visible window
//   chooser_driver console-text EXE TEXT   the console of the running EXE
//                                          shows TEXT: prints its lines
//   chooser_driver console-prompt EXE TEXT its cursor's line begins with TEXT

#include <windows.h>
#include <tlhelp32.h>

#include "win32_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using win32_driver::class_of;
using win32_driver::send_timeout_ms;
using win32_driver::text_of;
using win32_driver::visible_window;

constexpr char main_title[] = "The trelvane analysis ";
constexpr char suite_caption[] = " Kestrane Co., ";
constexpr char holder_class[] = "trel_driver_holder";
constexpr DWORD wait_ms = 15000;

int failures = 0;

void ok(const std::string& what) {
    std::printf("ok: %s\n", what.c_str());
}

void fail(const std::string& what, const std::string& expected, const std::string& got) {
    std::printf("FAIL: %s: expected %s, got %s\n", what.c_str(), expected.c_str(), got.c_str());
    ++failures;
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

void expect_text(const std::string& what, const std::string& expected, const std::string& got) {
    if (expected == got)
        ok(what + " is " + quoted(got));
    else
        fail(what, quoted(expected), quoted(got));
}

void expect_int(const std::string& what, long long expected, long long got) {
    if (expected == got)
        ok(what + " is " + std::to_string(got));
    else
        fail(what, std::to_string(expected), std::to_string(got));
}

bool expect_true(const std::string& what, bool condition) {
    if (condition)
        ok(what);
    else
        fail(what, "true", "false");
    return condition;
}

std::string rect_text(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

// Polls find() until it gives a window or the time is up.
template <typename Find> HWND wait_for(Find find, DWORD limit_ms = wait_ms) {
    return win32_driver::wait_for(find, limit_ms);
}

template <typename Done> bool wait_until(Done done, DWORD limit_ms = wait_ms) {
    return wait_for([&]() -> HWND { return done() ? GetDesktopWindow() : nullptr; }, limit_ms) !=
           nullptr;
}

HWND main_window() {
    HWND found = wait_for([] { return visible_window(main_title, main_title); });
    if (!found) {
        fail("main window", "a visible window of class and title " + quoted(main_title), "none");
        std::fflush(stdout);
        std::exit(1);
    }
    return found;
}

// A question box of the chooser: a dialog with the suite caption.
HWND question_box() {
    return visible_window("#32770", suite_caption);
}

bool set_text(HWND window, const std::string& text) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                               SMTO_ABORTIFHUNG, send_timeout_ms, &result) != 0;
}

std::vector<HWND> children_of(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// A child by class (any case, as the system registers its own classes) and text.
HWND child_of(HWND parent, const char* window_class, const std::string& text) {
    for (HWND child : children_of(parent)) {
        if (lstrcmpiA(class_of(child).c_str(), window_class) == 0 && text_of(child) == text)
            return child;
    }
    return nullptr;
}

HWND option_of(HWND main) {
    return child_of(main, "Button", " ");
}

// The window's place within its parent's client area.
RECT place_in(HWND parent, HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

LRESULT button_check(HWND button) {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(button, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, send_timeout_ms, &state);
    return static_cast<LRESULT>(state);
}

// The message text of a message box: its static control with text.
std::string box_message(HWND box) {
    for (HWND child : children_of(box)) {
        if (lstrcmpiA(class_of(child).c_str(), "Static") == 0) {
            std::string text = text_of(child);
            if (!text.empty())
                return text;
        }
    }
    return "<no text>";
}

// Clicks the box's button "yes", "no" or "ok".
bool answer_box(HWND box, const std::string& answer) {
    const int id = answer == "yes" ? IDYES : answer == "no" ? IDNO : IDOK;
    HWND button = GetDlgItem(box, id);
    if (!expect_true("the box has a " + answer + " button", button != nullptr))
        return false;
    PostMessageA(button, BM_CLICK, 0, 0);
    return expect_true("the box went away after " + answer,
                       wait_until([&] { return !IsWindow(box) || !IsWindowVisible(box); }));
}

// Waits for a box of the chooser, checks its text and caption, and answers
// it with the named button.
int answer_question(const std::string& question, const std::string& answer) {
    HWND box = wait_for(question_box);
    if (!box) {
        fail("box " + quoted(question), "a box of the chooser", "none");
        return 1;
    }
    expect_text("box text", question, box_message(box));
    expect_text("box caption", suite_caption, text_of(box));
    answer_box(box, answer);
    return failures ? 1 : 0;
}

HWND find_field(HWND main) {
    for (HWND child : children_of(main)) {
        if (lstrcmpiA(class_of(child).c_str(), "Edit") == 0)
            return child;
    }
    return nullptr;
}

// The only field of the form. The chooser builds the form after it shows
// its window: wait for the field a while.
HWND the_field(HWND main) {
    HWND field = wait_for([main] { return find_field(main); });
    if (!field)
        fail("entry field", "a child of class Edit", "none");
    return field;
}

// The control of the chooser's thread that has the keyboard focus.
HWND focus_of(HWND main) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

HWND control_named(HWND main, const std::string& name) {
    if (name == "field")
        return find_field(main);
    return name == "option" ? option_of(main) : child_of(main, "Button", name);
}

std::string name_of(HWND main, HWND control) {
    for (const char* name : {"choosing", "field", "option"}) {
        if (control && control == control_named(main, name))
            return name;
    }
    return control == main ? "the main window" : control ? "another window" : "none";
}

// Waits (bounded: typed keys arrive a little later) until the control has
// the focus and the field holds the text, then checks both; with "all", the
// field's whole text is selected, so that typing replaces it.
void expect_focus(HWND main, const std::string& name, const std::string& field_text,
                  const std::string& selection) {
    // Right after start the form may not be built yet.
    HWND field = wait_for([&] { return find_field(main); });
    wait_until(
        [&] { return focus_of(main) == control_named(main, name) && text_of(field) == field_text; },
        5000);
    expect_text("the focus", name, name_of(main, focus_of(main)));
    expect_text("the field", field_text, text_of(field));
    if (selection == "all") {
        DWORD_PTR range = 0;
        SendMessageTimeoutA(field, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, send_timeout_ms, &range);
        expect_text("the field's selection", "0-" + std::to_string(field_text.size()),
                    std::to_string(LOWORD(range)) + "-" + std::to_string(HIWORD(range)));
    }
}

struct expected_control {
    const char* window_class;
    const char* text;
    int x, y, width, height;
    int id;
    LONG style_mask, style; // style & mask must equal style
};

// The form as the chooser lays it out, in creation order.
constexpr expected_control form[] = {
    {"Button", "choosing", 20, 50, 100, 20, 1, BS_TYPEMASK, BS_PUSHBUTTON},
    {"Edit", "", 140, 50, 100, 20, 0, 0, 0},
    {"Static", "", 420, 275, 250, 60, 0, SS_TYPEMASK, SS_BLACKFRAME},
    {"Button", " ", 425, 285, 15, 15, 1, BS_TYPEMASK, BS_AUTORADIOBUTTON},
    {"Static", " finished ", 425, 300, 200, 25, 1, SS_TYPEMASK, SS_LEFT},
};

// Checks every control of the form and that there are no others; the field
// holds field_text.
void check_form(HWND main, const std::string& field_text = "") {
    const std::vector<HWND> children = children_of(main);
    expect_int("number of controls in the main window", 5, static_cast<long long>(children.size()));
    for (const auto& want : form) {
        const bool is_field = std::strcmp(want.window_class, "Edit") == 0;
        const std::string text = is_field ? field_text : want.text;
        const std::string name = std::string(want.window_class) + " " + quoted(text);
        HWND control = child_of(main, want.window_class, text);
        if (!control) {
            fail(name, "a child of class " + std::string(want.window_class) + " with that text",
                 "none");
            continue;
        }
        const RECT r = place_in(main, control);
        const RECT expected = {want.x, want.y, want.x + want.width, want.y + want.height};
        if (std::memcmp(&r, &expected, sizeof r) == 0)
            ok(name + " lies at " + rect_text(r));
        else
            fail(name + " place", rect_text(expected), rect_text(r));
        expect_int(name + " control id", want.id, GetDlgCtrlID(control));
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        expect_true(name + " is a visible child",
                    (style & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE));
        expect_int(name + " style type", want.style, style & want.style_mask);
    }
    if (HWND option = option_of(main))
        expect_int("the option's check state", BST_UNCHECKED, button_check(option));
}

int startup() {
    HWND main = main_window();
    expect_text("main window class", main_title, class_of(main));
    expect_text("main window title", main_title, text_of(main));
    RECT r = {};
    GetWindowRect(main, &r);
    expect_text("main window rectangle", rect_text(RECT{0, 0, 700, 450}), rect_text(r));
    const LONG style = GetWindowLongA(main, GWL_STYLE);
    expect_true("main window has the overlapped-window style",
                (style & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW);
    expect_true("main window has a client edge",
                (GetWindowLongA(main, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0);
    check_form(main);

    // Where the client area lies on the screen, for the screenshot checks,
    // and the X window that carries the icon property.
    POINT origin = {0, 0};
    ClientToScreen(main, &origin);
    RECT client = {};
    GetClientRect(main, &client);
    std::printf("client-origin %ld %ld\nclient-size %ld %ld\n", origin.x, origin.y, client.right,
                client.bottom);
    std::printf("x11-window %lu\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(
                                        GetPropA(main, "__wine_x11_whole_window"))));
    expect_focus(main, "field", "", "-");
    return failures ? 1 : 0;
}

// Types into the field, ticks the option, and answers the question if one
// comes. QUESTION "-" means that none may come. A REPORT means the model
// program is missing: after Yes that report comes, and the chooser stays.
int choose(const std::string& typed, const std::string& shown, const std::string& question,
           const std::string& answer, const std::string& report = "") {
    HWND main = main_window();
    HWND field = the_field(main);
    HWND option = wait_for([main] { return option_of(main); });
    if (!field || !expect_true("the form has its option", option != nullptr))
        return 1;
    expect_true("typing " + quoted(typed), set_text(field, typed));
    PostMessageA(option, BM_CLICK, 0, 0);

    HWND box = wait_for([&]() -> HWND {
        if (HWND found = question_box())
            return found;
        return IsWindow(option) ? nullptr : GetDesktopWindow();
    });
    if (box == GetDesktopWindow())
        box = nullptr;
    if (question == "-") {
        if (box) {
            fail("question for " + quoted(typed), "none", quoted(box_message(box)));
            answer_box(box, "no");
        } else {
            ok("no question for " + quoted(typed));
        }
    } else {
        if (!box) {
            fail("question for " + quoted(typed), quoted(question), "no question box");
            return 1;
        }
        expect_text("question", question, box_message(box));
        expect_text("question caption", suite_caption, text_of(box));
        expect_true("the main window is hidden while the question is asked",
                    !IsWindowVisible(main));
        if (!answer_box(box, answer))
            return 1;
        if (answer == "yes" && report.empty())
            return failures ? 1 : 0; // the script checks the launch and the exit
    }
    if (!report.empty() && answer_question(report, "ok") != 0)
        return 1;

    // A fresh option replaces the one that was ticked.
    HWND fresh = wait_for([&]() -> HWND {
        HWND now = option_of(main);
        return now != option ? now : nullptr;
    });
    expect_true("a fresh option replaces the ticked one", fresh != nullptr);
    expect_true("the ticked option is gone", !IsWindow(option));
    expect_true("the main window is visible again", IsWindowVisible(main) != 0);
    expect_text("field after ticking", shown, text_of(field));
    check_form(main, shown);
    expect_focus(main, "field", shown, "all");
    return failures ? 1 : 0;
}

int cut() {
    HWND main = main_window();
    HWND field = the_field(main);
    HWND button = child_of(main, "Button", "choosing");
    HWND option = option_of(main);
    if (!field || !expect_true("the form has its button", button != nullptr))
        return 1;
    std::string typed;
    for (int i = 0; i < 12; ++i)
        typed += "1234567890";
    expect_true("typing 120 characters", set_text(field, typed));
    DWORD_PTR result = 0;
    expect_true("\"choosing\" answers its click without a question",
                SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, send_timeout_ms,
                                    &result) != 0);
    expect_text("field after \"choosing\"", typed.substr(0, 98), text_of(field));
    expect_true("the option is untouched", option_of(main) == option && IsWindow(option));
    return failures ? 1 : 0;
}

// Commands that miss one of the three marks of a click (control id 1, click
// notification, the control's handle) must do nothing: neither cut the field
// nor tidy it nor ask.
int not_clicks() {
    HWND main = main_window();
    HWND field = the_field(main);
    HWND option = option_of(main);
    HWND button = child_of(main, "Button", "choosing");
    HWND label = child_of(main, "Static", " finished ");
    if (!field || !option || !button || !label) {
        fail("form", "field, option, button and label", "some missing");
        return 1;
    }
    const std::string typed(120, '3');
    set_text(field, typed);
    const struct {
        const char* what;
        WORD id, code;
        HWND control;
    } commands[] = {
        {"a change notification of the field", 0, EN_CHANGE, field},
        {"a double-click of the option", 1, BN_DOUBLECLICKED, option},
        {"a click with id 2 from the option", 2, BN_CLICKED, option},
        {"a click from the label (id 1)", 1, BN_CLICKED, label},
        {"a focus notification of the button", 1, BN_SETFOCUS, button},
        {"a click with id 1 and no handle", 1, BN_CLICKED, nullptr},
    };
    for (const auto& c : commands) {
        DWORD_PTR result = 0;
        const bool answered = SendMessageTimeoutA(main, WM_COMMAND, MAKEWPARAM(c.id, c.code),
                                                  reinterpret_cast<LPARAM>(c.control),
                                                  SMTO_ABORTIFHUNG, send_timeout_ms, &result) != 0;
        if (HWND box = question_box()) {
            fail(c.what, "no question", quoted(box_message(box)));
            answer_box(box, "no");
            continue;
        }
        expect_true(std::string(c.what) + " is answered at once", answered);
        expect_text("field after " + std::string(c.what), typed, text_of(field));
    }
    expect_true("the option is untouched", option_of(main) == option);
    return failures ? 1 : 0;
}

int close_question(const std::string& answer) {
    HWND main = main_window();
    PostMessageA(main, WM_CLOSE, 0, 0);
    if (answer_question(" The program is closed!", answer) != 0)
        return 1;
    if (answer == "no") {
        Sleep(300);
        expect_true("the main window is still there and visible",
                    IsWindow(main) && IsWindowVisible(main));
    }
    return failures ? 1 : 0;
}

LRESULT CALLBACK holder_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A visible top-level window of another process with the given title, kept
// until it is closed or the time is up.
int hold(const char* title, int seconds) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = holder_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = holder_class;
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, holder_class, title, WS_OVERLAPPEDWINDOW, 720, 40, 300, 150,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetTimer(window, 1, static_cast<UINT>(seconds) * 1000u, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER)
            DestroyWindow(window);
        DispatchMessageA(&message);
    }
    return 0;
}

int hidden(const char* title) {
    HWND window = FindWindowA(holder_class, title);
    if (!window) {
        fail("window " + quoted(title) + " of another process", "present", "none");
        return 1;
    }
    expect_true("the window " + quoted(title) + " of another process is hidden",
                !IsWindowVisible(window));
    PostMessageA(window, WM_CLOSE, 0, 0);
    return failures ? 1 : 0;
}

// Starts EXE RUNS times and measures from process creation until a window of
// the class and title is visible; prints each time and the median, in ms.
int time_start(int runs, const char* window_class, const char* title, const char* exe) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::string command = quoted(exe);
        LARGE_INTEGER start, now;
        QueryPerformanceCounter(&start);
        if (!CreateProcessA(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            fail("start " + std::string(exe), "started", "error " + std::to_string(GetLastError()));
            return 1;
        }
        HWND window = nullptr;
        const DWORD begun = GetTickCount();
        while (!(window = visible_window(window_class, title)) && GetTickCount() - begun < 30000)
            Sleep(1);
        QueryPerformanceCounter(&now);
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (!window) {
            fail("window of " + std::string(exe), "visible within 30 s", "none");
            return 1;
        }
        const double ms =
            1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
        std::printf("run %d: %.1f ms\n", i + 1, ms);
        times.push_back(ms);
        Sleep(300);
    }
    std::sort(times.begin(), times.end());
    std::printf("median %.1f ms\n", times[times.size() / 2]);
    return 0;
}

// The chooser's console window: none is left visible under the program's
// path, and the one renamed to the main window's title is hidden.
int console_hidden(const char* path) {
    HWND main = main_window();
    // A console the chooser missed gets its title and shows a little later:
    // watch for it a while.
    HWND by_path = wait_for([&] { return visible_window(nullptr, path); }, 1500);
    expect_true("no visible window is titled " + quoted(path), by_path == nullptr);
    struct search {
        HWND main;
        int renamed = 0, visible = 0;
    } found{main};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<search*>(data);
            char title[256] = {};
            GetWindowTextA(window, title, sizeof title);
            if (window != s->main && std::strcmp(title, main_title) == 0) {
                ++s->renamed;
                if (IsWindowVisible(window))
                    ++s->visible;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    expect_int("console windows renamed " + quoted(main_title), 1, found.renamed);
    expect_int("of them visible", 0, found.visible);
    return failures ? 1 : 0;
}

// Lists the top-level windows: class, visibility, title.
int list_windows() {
    EnumWindows(
        [](HWND window, LPARAM) -> BOOL {
            char title[512] = {};
            GetWindowTextA(window, title, sizeof title);
            std::printf("window %s %s \"%s\"\n", class_of(window).c_str(),
                        IsWindowVisible(window) ? "visible" : "hidden", title);
            return TRUE;
        },
        0);
    return 0;
}

// The process of the running program with this file name, or 0.
DWORD process_named(const char* exe) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !found;
         more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, exe) == 0)
            found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

// The console's lines from the top of its buffer down to the cursor's line,
// without trailing blanks, and the X window that shows it; no lines when the
// program has no console to share.
std::vector<std::string> console_lines(DWORD process, ULONG_PTR& x11_window) {
    std::vector<std::string> lines;
    FreeConsole();
    if (!AttachConsole(process))
        return lines;
    HANDLE screen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (screen != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(screen, &info)) {
        std::vector<char> row(static_cast<std::size_t>(info.dwSize.X));
        for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
            DWORD read = 0;
            ReadConsoleOutputCharacterA(screen, row.data(), info.dwSize.X, {0, y}, &read);
            std::string line(row.data(), read);
            line.erase(line.find_last_not_of(' ') + 1);
            lines.push_back(line);
        }
    }
    if (screen != INVALID_HANDLE_VALUE)
        CloseHandle(screen);
    x11_window =
        reinterpret_cast<ULONG_PTR>(GetPropA(GetConsoleWindow(), "__wine_x11_whole_window"));
    FreeConsole();
    return lines;
}

// Waits until the console of the running EXE shows TEXT (on the cursor's
// line, at its start, for a prompt), then prints its lines as
// "console| ..." and the X window of the console.
int console_text(const char* exe, const std::string& text, bool prompt) {
    std::vector<std::string> lines;
    ULONG_PTR x11_window = 0;
    const bool shown =
        win32_driver::wait_for(
            [&]() -> HWND {
                const DWORD process = process_named(exe);
                lines = process ? console_lines(process, x11_window) : std::vector<std::string>{};
                if (prompt)
                    return !lines.empty() && lines.back().rfind(text, 0) == 0 ? GetDesktopWindow()
                                                                              : nullptr;
                for (const auto& line : lines) {
                    if (line.find(text) != std::string::npos)
                        return GetDesktopWindow();
                }
                return nullptr;
            },
            wait_ms, 200) != nullptr;
    for (const auto& line : lines)
        std::printf("console| %s\n", line.c_str());
    std::printf("console-x11-window %lu\n", static_cast<unsigned long>(x11_window));
    expect_true("the console of " + std::string(exe) + (prompt ? " asks " : " shows ") +
                    quoted(text),
                shown);
    return failures ? 1 : 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: chooser_driver startup | choose TYPED SHOWN QUESTION|- yes|no "
                 "[REPORT] | answer QUESTION yes|no | focus CONTROL FIELD all|- | cut | "
                 "not-clicks | close yes|no | hold TITLE SECONDS | hidden TITLE | "
                 "time-start RUNS CLASS TITLE EXE | console-text|console-prompt EXE TEXT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "startup" && argc == 2)
        return startup();
    if (command == "choose" && (argc == 6 || argc == 7))
        return choose(argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : "");
    if (command == "answer" && argc == 4)
        return answer_question(argv[2], argv[3]);
    if (command == "focus" && argc == 5) {
        expect_focus(main_window(), argv[2], argv[3], argv[4]);
        return failures ? 1 : 0;
    }
    if (command == "cut" && argc == 2)
        return cut();
    if (command == "not-clicks" && argc == 2)
        return not_clicks();
    if (command == "close" && argc == 3)
        return close_question(argv[2]);
    if (command == "hold" && argc == 4)
        return hold(argv[2], std::atoi(argv[3]));
    if (command == "hidden" && argc == 3)
        return hidden(argv[2]);
    if (command == "console-hidden" && argc == 3)
        return console_hidden(argv[2]);
    if (command == "list" && argc == 2)
        return list_windows();
    if (command == "time-start" && argc == 6)
        return time_start(std::atoi(argv[2]), argv[3], argv[4], argv[5]);
    if (command == "console-text" && argc == 4)
        return console_text(argv[2], argv[3], false);
    if (command == "console-prompt" && argc == 4)
        return console_text(argv[2], argv[3], true);
    return usage();
}

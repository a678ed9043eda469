// model_chooser: the main window, its form and its messages.
//
// WinMain hides the console, registers the class, creates, shows and places
// the main window, sets its icon, loads the display text, builds the form and
// runs the message loop. WndProc hands each message to one small function.
// The choice itself (reading the field, asking, launching) is in choice.cpp.

#include "choice.h"
#include "display_text.h"

#include "win32.h"

// Process-wide state of the window and its form.
HWND hwnd1 = nullptr;              // the program's console window
HINSTANCE hInstance_spc = nullptr; // given to buttons and the label
HINSTANCE hThisInstance = nullptr; // given to the fields and the frame; stays null
HWND hwnd_cx1 = nullptr;           // frame of the confirm option
HWND hd_modify = nullptr;          // the confirm option
HWND hd_modify01 = nullptr;        // the " finished " label
HWND focus_kept = nullptr;         // the control to focus when the window is active again
HDC hdc = nullptr;
PAINTSTRUCT ps;
RECT rc;
const char g_szClassName[] = "The trelvane analysis ";

namespace {

constexpr const char icon_path[] = "c:\\ambrelle\\program_ROSKA\\BB.ico";
constexpr int control_id = 1;

// One child control of the form, as laid out in the main window's client area.
struct control_layout {
    const char* window_class;
    const char* text;
    DWORD extra_style;
    int x, y, width, height;
    int id;
    bool program_instance; // hInstance_spc, else hThisInstance
};

constexpr control_layout frame_layout{"STATIC", "", SS_BLACKFRAME, 420, 275, 250, 60, 0, false};
// "choosing", the field and the option take the focus by Tab, in that
// order (their creation order); the frame and the label do not.
constexpr control_layout option_layout{
    "button", " ", BS_AUTORADIOBUTTON | WS_TABSTOP, 425, 285, 15, 15, 1, true};
constexpr control_layout label_layout{"STATIC", " finished ", 0, 425, 300, 200, 25, 1, true};

HWND create_control(const control_layout& c, const char* text, int x, int y) {
    return CreateWindowExA(0, c.window_class, text, WS_CHILD | WS_VISIBLE | c.extra_style, x, y,
                           c.width, c.height, hwnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                           c.program_instance ? hInstance_spc : hThisInstance, nullptr);
}

HWND create_control(const control_layout& c) {
    return create_control(c, c.text, c.x, c.y);
}

// Frame, option and label, in that order.
void create_confirm_option() {
    hwnd_cx1 = create_control(frame_layout);
    hd_modify = create_control(option_layout);
    hd_modify01 = create_control(label_layout);
}

// Row k lies in column k / 10 and line k % 10.
void create_row(int k) {
    constexpr control_layout button{"button", nullptr, BS_PUSHBUTTON | WS_TABSTOP, 20, 50, 100, 20,
                                    1,        true};
    constexpr control_layout field{"Edit", "", WS_BORDER | WS_TABSTOP, 140, 50, 100, 20, 0, false};
    const int column = k / 10;
    const int line = k % 10;
    hwnd_command[k] =
        create_control(button, command_strx[k], button.x + 350 * column, button.y + 30 * line);
    hwnddisplay[k] = create_control(field, field.text, field.x + 350 * column, field.y + 30 * line);
}

void show_error(const char* text) {
    MessageBoxA(nullptr, text, "Error!", MB_ICONEXCLAMATION | MB_OK);
}

// Hides a top-level window found by its exact title, if there is one.
HWND hide_window_titled(const char* title) {
    HWND found = FindWindowA(nullptr, title);
    if (found)
        ShowWindow(found, SW_HIDE);
    return found;
}

bool is_click_on(WPARAM wParam, LPARAM lParam, HWND control) {
    return control != nullptr && LOWORD(wParam) == control_id && HIWORD(wParam) == BN_CLICKED &&
           reinterpret_cast<HWND>(lParam) == control;
}

// A click on a row's button reads its field and writes it back: the field is
// cut to what one read takes.
void on_row_button(int k) {
    GetWindowTextA(hwnddisplay[k], command_content[k].data(), field_read_max);
    SetWindowTextA(hwnddisplay[k], command_content[k].data());
}

// Row 0's entry field, or null while the form is not built yet (the window
// is shown, and activated, before its controls exist).
HWND first_field() {
    return hwnddisplay.empty() ? nullptr : hwnddisplay[0];
}

// The focus goes to the field with its text selected, so that what the user
// types next replaces it.
void focus_field() {
    focus_kept = first_field();
    SetFocus(focus_kept);
    SendMessageA(focus_kept, EM_SETSEL, 0, -1);
}

// A click on the confirm option: ask, then launch and quit on Yes; when the
// answer is not Yes or the program did not start (the user was told why),
// give the user a fresh, unchecked option and the field again.
void on_confirm_option() {
    const int answer = ask_right();
    CloseWindow(hd_modify);
    if (answer == IDYES && bye_bye() == 0) {
        PostQuitMessage(0);
        return;
    }
    // The old controls are destroyed, not left below the new ones: a child
    // left in place would lie above the new option (new children go to the
    // bottom) and take its clicks, and the handles would pile up.
    for (HWND old : {hd_modify01, hd_modify, hwnd_cx1}) {
        if (old)
            DestroyWindow(old);
    }
    create_confirm_option();
    focus_field();
}

void on_command(WPARAM wParam, LPARAM lParam) {
    for (int k = 0; k < limit; ++k) {
        if (is_click_on(wParam, lParam, hwnd_command[k]))
            on_row_button(k);
    }
    if (is_click_on(wParam, lParam, hd_modify))
        on_confirm_option();
}

// As in a dialog, the focused control is kept while the window is inactive
// and gets the focus back when the window is activated again (after a
// message box, for one); the default handling would give the focus to the
// main window itself, where typed keys reach no control. Before the form
// exists the default handling is left to do its part.
bool on_activate(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus))
            focus_kept = focus;
        return true;
    }
    HWND target = focus_kept && IsChild(window, focus_kept) ? focus_kept : first_field();
    if (!target || HIWORD(wParam) != 0) // no form yet, or minimized
        return false;
    SetFocus(target);
    return true;
}

// Enter in the field or on the option acts as a click on the option. The
// keyboard navigation would instead send a command of id 1 for the first
// child of that id, "choosing".
bool on_enter_key(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN || !hd_modify ||
        (message.hwnd != first_field() && message.hwnd != hd_modify))
        return false;
    SendMessageA(hd_modify, BM_CLICK, 0, 0);
    return true;
}

void on_close() {
    if (MessageBoxA(nullptr, " The program is closed!", suite_caption,
                    MB_YESNO | MB_ICONQUESTION) == IDYES)
        PostQuitMessage(0);
}

} // namespace

// Paints the display text into the main window, from x = 20 to 580.
int www() {
    hdc = BeginPaint(hwnd, &ps);
    GetClientRect(hwnd, &rc);
    rc.left = 20;
    rc.top = 10;
    rc.right = 580;
    DrawTextA(hdc, titel_string, -1, &rc, DT_WORDBREAK | DT_VCENTER | DT_WORD_ELLIPSIS);
    EndPaint(hwnd, &ps);
    return 0;
}

// Loads the display text, then builds the form: one row and the confirm option.
int read_data() {
    load_display_text(display_text_path, titel_string, display_text_size);
    reserve_form_rows(1);
    for (int k = 0; k < limit; ++k)
        create_row(k);
    create_confirm_option();
    return 0;
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        UpdateWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        // A paint request can only come for the main window once its handle
        // is known; before that, let the default handling validate it.
        if (window != hwnd)
            return DefWindowProcA(window, message, wParam, lParam);
        www();
        return 0;
    case WM_CLOSE:
        on_close();
        return 0;
    case WM_ACTIVATE:
        if (on_activate(window, wParam))
            return 0;
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_COMMAND:
        on_command(wParam, lParam);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    // The console window carries the program's path as its title. The
    // system may still be making it when the program starts, and a search by
    // title would then miss it and leave it shown: asking for our console's
    // window first waits until it exists. A program started without a
    // console of its own has no window so titled, and nothing is hidden.
    {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        GetConsoleWindow();
        hwnd1 = hide_window_titled(path);
    }
    hide_window_titled(suite_caption);
    if (hwnd1) {
        UpdateWindow(hwnd1);
        SetWindowTextA(hwnd1, g_szClassName);
    }

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(WNDCLASSEXA);
    wc.style = 0;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = g_szClassName;
    wc.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    if (!RegisterClassExA(&wc)) {
        show_error("Window Registration Failed!");
        return 0;
    }

    hwnd = CreateWindowExA(WS_EX_CLIENTEDGE, g_szClassName, "The trelvane analysis ",
                           WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 240, 120, nullptr,
                           nullptr, hInstance, nullptr);
    if (!hwnd) {
        show_error("Window Creation Failed!");
        return 0;
    }
    ShowWindow(hwnd, SW_SHOWMAXIMIZED);
    MoveWindow(hwnd, 0, 0, 700, 450, TRUE);

    // A missing icon file gives a null icon; the window keeps the class icon.
    HANDLE icon = LoadImageA(GetModuleHandleA(nullptr), icon_path, IMAGE_ICON, 256, 256,
                             LR_DEFAULTSIZE | LR_LOADFROMFILE);
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    hInstance_spc = hInstance;
    read_data();
    // The window may have painted before the text was loaded: show it now.
    InvalidateRect(hwnd, nullptr, TRUE);
    // The window was activated before its controls existed: typed keys go to
    // the field from the start.
    focus_field();

    // Tab, Shift+Tab and Space among the controls, as in a dialog.
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (on_enter_key(message) || IsDialogMessageA(hwnd, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

// Drives the Open dialog of a running file_picker from the same Wine prefix,
// as a user would: types a path into the file name field and confirms, or
// cancels. Prints what it expected and what it found when something is off,
// and exits 1 then. Built with -municode: the path arrives in UTF-16, so it
// may hold any character, and it is typed as a wide text.
//
//   picker_dialog_driver choose <path>   confirm <path>
//   picker_dialog_driver cancel          cancel the dialog
//   picker_dialog_driver refuse <path>   confirm <path>, expect the dialog to
//                                        refuse it and stay open, then cancel
#include <windows.h>

#include "win32_driver.h"
#include <dlgs.h>

#include <cstdio>
#include <string>

namespace {

using win32_driver::class_of;
using win32_driver::text_of;
using win32_driver::wide_text_of;

constexpr DWORD wait_limit_ms = 30000;
constexpr DWORD poll_ms = 50;

// The Open dialog: a visible dialog window titled "Open" with no owner. With
// an owner: any visible dialog window that owner shows, a message box.
bool is_wanted_window(HWND window, HWND owner) {
    return IsWindowVisible(window) && class_of(window) == "#32770" &&
           GetWindow(window, GW_OWNER) == owner && (owner != nullptr || text_of(window) == "Open");
}

struct window_search {
    HWND owner;
    HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM search_address) {
    auto* search = reinterpret_cast<window_search*>(search_address);
    if (is_wanted_window(window, search->owner)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND find_open_window(HWND owner) {
    window_search search{owner, nullptr};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND wait_for_open_window(HWND owner) {
    return win32_driver::wait_for([owner] { return find_open_window(owner); }, wait_limit_ms,
                                  poll_ms);
}

BOOL CALLBACK print_child(HWND child, LPARAM) {
    std::printf("  child id 0x%04X class \"%s\" text \"%s\"%s\n",
                static_cast<unsigned>(GetDlgCtrlID(child)), class_of(child).c_str(),
                text_of(child).c_str(), IsWindowVisible(child) ? "" : " (hidden)");
    return TRUE;
}

BOOL CALLBACK match_edit(HWND child, LPARAM found_address) {
    if (class_of(child) == "Edit") {
        *reinterpret_cast<HWND*>(found_address) = child;
        return FALSE;
    }
    return TRUE;
}

// The file name field: the edit box inside the file name combo box, or, in
// the older layout, the plain edit box.
HWND file_name_field(HWND dialog) {
    HWND field = nullptr;
    if (HWND combo = GetDlgItem(dialog, cmb13)) {
        EnumChildWindows(combo, match_edit, reinterpret_cast<LPARAM>(&field));
    }
    return field != nullptr ? field : GetDlgItem(dialog, edt1);
}

int fail(const char* what, HWND dialog) {
    std::printf("dialog driver: %s\n", what);
    if (dialog != nullptr) {
        std::printf("the Open dialog's controls:\n");
        EnumChildWindows(dialog, print_child, 0);
    }
    std::fflush(stdout);
    return 1;
}

// A wide text in UTF-8, for the messages.
std::string utf8_of(const std::wstring& text) {
    std::string bytes(text.size() * 3, '\0');
    const int count =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                            static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return bytes;
}

int type_path(HWND dialog, const std::wstring& path) {
    HWND field = file_name_field(dialog);
    if (field == nullptr) {
        return fail("expected a file name field in the Open dialog, found none", dialog);
    }
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    const std::wstring typed = wide_text_of(field);
    if (typed != path) {
        std::printf("dialog driver: expected the file name field to hold \"%s\" (%zu characters), "
                    "it holds \"%s\" (%zu characters)\n",
                    utf8_of(path).c_str(), path.size(), utf8_of(typed).c_str(), typed.size());
        return 1;
    }
    return 0;
}

// Presses a dialog button. Posted, not sent: a refusal opens a message box
// that would hold a sent message until it is closed.
void press(HWND dialog, int button) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

int refuse(HWND dialog, const std::wstring& path) {
    if (int failed = type_path(dialog, path)) {
        return failed;
    }
    press(dialog, IDOK);
    HWND message = wait_for_open_window(dialog);
    if (message == nullptr) {
        return fail("expected a message box refusing the missing file, none came", dialog);
    }
    char said[512] = "";
    HWND line = FindWindowExA(message, nullptr, "Static", nullptr);
    for (; line != nullptr && said[0] == '\0';
         line = FindWindowExA(message, line, "Static", nullptr)) {
        GetWindowTextA(line, said, sizeof said);
    }
    std::printf("dialog driver: the dialog refused \"%s\": \"%s\" said \"%s\"\n",
                utf8_of(path).c_str(), text_of(message).c_str(), said);
    press(message, IDOK);
    const DWORD start = GetTickCount();
    while (IsWindow(message) && GetTickCount() - start < wait_limit_ms) {
        Sleep(poll_ms);
    }
    if (IsWindow(message)) {
        return fail("expected the message box to close when confirmed, it stayed", dialog);
    }
    if (!IsWindow(dialog) || !IsWindowVisible(dialog)) {
        return fail("expected the Open dialog to stay open after refusing, it closed", nullptr);
    }
    press(dialog, IDCANCEL);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring action = argc > 1 ? argv[1] : L"";
    const bool with_path = action == L"choose" || action == L"refuse";
    if (!(with_path ? argc == 3 : action == L"cancel" && argc == 2)) {
        std::printf("usage: picker_dialog_driver choose <path> | refuse <path> | cancel\n");
        return 2;
    }
    HWND dialog = wait_for_open_window(nullptr);
    if (dialog == nullptr) {
        return fail("expected a visible Open dialog within 30 s, none came", nullptr);
    }
    if (action == L"cancel") {
        press(dialog, IDCANCEL);
        return 0;
    }
    if (action == L"refuse") {
        return refuse(dialog, argv[2]);
    }
    if (int failed = type_path(dialog, argv[2])) {
        return failed;
    }
    press(dialog, IDOK);
    return 0;
}

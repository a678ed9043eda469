// install_check: the install test's hands and eyes inside the Wine prefix.
//
//   install_check version <file>   print the file's version resource, one
//                                  "key=value" line each
//   install_check close-chooser    close the chooser's main window and answer
//                                  Yes to the close question
//   install_check cancel-open      press Cancel in the file picker's Open dialog
//   install_check wait-chooser     wait until the chooser's main window shows
//   install_check rule folder|file <SDDL>
//                                  parse the access rule with the system's
//                                  parser and check what it grants
//
// Exit status 0 when done; 1 with a message saying what was expected and what
// came. Every wait is bounded.

#include <windows.h>
#include <sddl.h>

#include "win32_driver.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr DWORD wait_limit_ms = 30000;
constexpr DWORD poll_ms = 100;
constexpr char chooser_title[] = "The trelvane analysis ";
constexpr char suite_caption[] = " Kestrane Co., ";
constexpr char close_question[] = " The program is closed!";
constexpr int message_text_id = 0xFFFF; // the text of a message box

int fail(const std::string& what) {
    std::printf("FAIL: %s\n", what.c_str());
    return 1;
}

// A visible top-level window of the class with the exact title, or null when
// none came within the wait limit.
HWND wait_for_window(const char* window_class, const char* title) {
    return win32_driver::wait_for([=] { return win32_driver::visible_window(window_class, title); },
                                  wait_limit_ms, poll_ms);
}

// Clicks a button of a dialog, waiting at most the wait limit for the dialog
// to take it.
bool click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!button)
        return false;
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, wait_limit_ms, &result) !=
           0;
}

int close_chooser() {
    HWND main = wait_for_window(chooser_title, chooser_title);
    if (!main)
        return fail("expected the visible window \"The trelvane analysis \", none came");
    PostMessageA(main, WM_CLOSE, 0, 0);
    HWND box = wait_for_window("#32770", suite_caption);
    if (!box)
        return fail("expected the question box \" Kestrane Co., \" after WM_CLOSE, none came");
    const std::string question = win32_driver::text_of(GetDlgItem(box, message_text_id));
    if (question != close_question)
        return fail("expected the question \" The program is closed!\", came \"" + question + "\"");
    if (!click(box, IDYES))
        return fail("expected a Yes button in the question box to click");
    std::printf("ok: answered Yes to \"%s\"\n", question.c_str());
    return 0;
}

int cancel_open() {
    HWND dialog = wait_for_window("#32770", "Open");
    if (!dialog)
        return fail("expected the visible dialog \"Open\", none came");
    if (!click(dialog, IDCANCEL))
        return fail("expected a Cancel button in the Open dialog to click");
    std::printf("ok: cancelled the Open dialog\n");
    return 0;
}

int wait_chooser() {
    if (!wait_for_window(chooser_title, chooser_title))
        return fail("expected the visible window \"The trelvane analysis \", none came");
    std::printf("ok: the chooser's window shows\n");
    return 0;
}

// What an access rule of the installed tree must say, by kind of object.
// SYSTEM and Administrators have full control; Users have what they need
// and nobody else has any right in `never`; the owner, whoever it is, is
// capped by an OWNER RIGHTS entry (else an owner could change the rule).
constexpr ACCESS_MASK change_rights = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
constexpr ACCESS_MASK write_rights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | GENERIC_WRITE;
struct rule_kind {
    const char* name;
    BYTE inherit;     // the inheritance flags of every entry
    ACCESS_MASK need; // Users hold all of these
    ACCESS_MASK never;
};
constexpr rule_kind rule_kinds[] = {
    // Folders, passed on to everything below: list, read, traverse, run.
    {"folder", OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
     change_rights | write_rights},
    // The hand-off file: file_picker's GENERIC_WRITE open, which replaces
    // the data, and reading it back; no delete, rename or rule change.
    {"file", 0, FILE_GENERIC_READ | FILE_GENERIC_WRITE, change_rights},
};

int check_rule(const char* kind_name, const char* sddl) {
    const rule_kind* kind = nullptr;
    for (const rule_kind& k : rule_kinds)
        if (std::strcmp(k.name, kind_name) == 0)
            kind = &k;
    if (!kind)
        return fail(std::string("unknown kind of object ") + kind_name);

    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr))
        return fail(std::string("the system does not parse ") + sddl);
    std::string wrong;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorControl(sd, &control, &revision);
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    if (!(control & SE_DACL_PROTECTED))
        wrong += " not protected from inheritance;";
    if (!present || !dacl)
        wrong += " no DACL (everyone may do anything);";
    bool system = false, admins = false, users = false, owner = false;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        char* sid = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
            ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !ConvertSidToStringSidA(&ace->SidStart, &sid)) {
            wrong += " an entry that is no plain allow entry;";
            continue;
        }
        const std::string who = sid;
        LocalFree(sid);
        const ACCESS_MASK mask = ace->Mask;
        if (ace->Header.AceFlags != kind->inherit)
            wrong += " " + who + " has other inheritance flags;";
        if (who == "S-1-5-18" || who == "S-1-5-32-544") {
            if (mask != FILE_ALL_ACCESS)
                wrong += " " + who + " has less than full control;";
            (who == "S-1-5-18" ? system : admins) = true;
            continue;
        }
        if (mask & kind->never)
            wrong += " " + who + " may write, delete or change the rule;";
        users = users || (who == "S-1-5-32-545" && (mask & kind->need) == kind->need);
        owner = owner || who == "S-1-3-4";
    }
    LocalFree(sd);
    if (!system || !admins)
        wrong += " SYSTEM or Administrators without full control;";
    if (!users)
        wrong += " Users without what they need;";
    if (!owner)
        wrong += " the owner not capped (no OWNER RIGHTS entry);";
    if (!wrong.empty())
        return fail(std::string(kind->name) + " rule " + sddl + ":" + wrong);
    std::printf("ok: %s rule %s\n", kind->name, sddl);
    return 0;
}

void print_four_part(const char* key, DWORD high, DWORD low) {
    std::printf("%s=%u.%u.%u.%u\n", key, unsigned{HIWORD(high)}, unsigned{LOWORD(high)},
                unsigned{HIWORD(low)}, unsigned{LOWORD(low)});
}

int print_version(const char* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    if (size == 0)
        return fail(std::string("expected a version resource in ") + file + ", found none");
    std::string data(size, '\0');
    if (!GetFileVersionInfoA(file, 0, size, data.data()))
        return fail(std::string("could not read the version resource of ") + file);

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        print_four_part("FILEVERSION", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
        print_four_part("PRODUCTVERSION", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    }

    // The strings are looked up through the translation the resource names,
    // as Windows does when it shows a file's properties.
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) || length < 4)
        return fail(std::string("expected a translation entry in the version resource of ") + file);
    const auto* translation = static_cast<const WORD*>(value);
    static constexpr const char* keys[] = {"FileDescription", "FileVersion",      "ProductName",
                                           "ProductVersion",  "OriginalFilename", "InternalName"};
    for (const char* key : keys) {
        char path[128];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation[0],
                      translation[1], key);
        if (VerQueryValueA(data.data(), path, &value, &length) && length > 0)
            std::printf("%s=%s\n", key, static_cast<const char*>(value));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "version") == 0)
        return print_version(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "close-chooser") == 0)
        return close_chooser();
    if (argc == 2 && std::strcmp(argv[1], "cancel-open") == 0)
        return cancel_open();
    if (argc == 2 && std::strcmp(argv[1], "wait-chooser") == 0)
        return wait_chooser();
    if (argc == 4 && std::strcmp(argv[1], "rule") == 0)
        return check_rule(argv[2], argv[3]);
    std::printf("usage: install_check version <file> | close-chooser | cancel-open | wait-chooser"
                " | rule folder|file <SDDL>\n");
    return 2;
}

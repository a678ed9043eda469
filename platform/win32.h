// The Win32 operations that portable code calls, by their Win32 names.
//
// On Windows this is <windows.h> itself. Elsewhere it declares the small
// subset the portable code uses; the native test build links a recording
// layer (tests/fakes) that implements them, so the logic that calls them is
// unit-tested on Linux.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#else

#include <cstdarg>
#include <cstdint>

struct HWND__;
struct HINSTANCE__;
typedef HWND__* HWND;
typedef HINSTANCE__* HINSTANCE;
typedef int BOOL;
typedef unsigned int UINT;
typedef std::uint32_t DWORD;
typedef const void* LPCVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;

#define WINAPI

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr UINT MB_OK = 0x00000000u;
constexpr UINT MB_YESNO = 0x00000004u;
constexpr UINT MB_ICONQUESTION = 0x00000020u;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030u;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200u;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000u;

int GetWindowTextA(HWND window, LPSTR text, int max_count);
BOOL SetWindowTextA(HWND window, LPCSTR text);
BOOL ShowWindow(HWND window, int show_command);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                        int show_command);
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list* arguments);

#endif

// What the file_picker end-to-end script does inside the Wine prefix: hold a
// file open, read the file a hand-off line names, and run file_picker to
// read its whole exit code (the shell sees only the low 8 bits of it).
//
//   picker_file_helper hold <file> <ready file> <stop file> <seconds>
//       Holds <file> open with share mode 0, so no other program can open
//       it, and creates <ready file>; lets it go when <stop file> appears.
//       Exits 0 then, 1 when the file could not be opened, 2 on the limit.
//   picker_file_helper read <hand-off file>
//       Opens the path its line names with the ANSI file functions, as the
//       programs that read the hand-off file do, and copies that file to
//       standard output. Exits 0, or 1 when either cannot be read.
//   picker_file_helper run <seconds> <program> [<argument>...]
//       Runs the program with this helper's standard handles and prints
//       "exit code <n>" on standard error. Exits 0 then, 1 when it could not
//       be started, 2 when it was ended on the limit.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

int hold(const wchar_t* file, const wchar_t* ready_file, const wchar_t* stop_file,
         const wchar_t* seconds) {
    HANDLE held =
        CreateFileW(file, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "file helper: could not open %ls: error %lu\n", file, GetLastError());
        return 1;
    }
    HANDLE ready = CreateFileW(ready_file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(ready);
    const DWORD limit_ms = static_cast<DWORD>(std::wcstoul(seconds, nullptr, 10)) * 1000;
    const DWORD start = GetTickCount();
    while (GetFileAttributesW(stop_file) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= limit_ms) {
            CloseHandle(held);
            return 2;
        }
        Sleep(50);
    }
    CloseHandle(held);
    return 0;
}

// Reads up to size bytes of an open file; the count read, or -1.
long read_some(HANDLE file, char* bytes, DWORD size) {
    DWORD count = 0;
    return ReadFile(file, bytes, size, &count, nullptr) ? static_cast<long>(count) : -1;
}

int read_named(const wchar_t* handoff_file) {
    HANDLE handoff = CreateFileW(handoff_file, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    char line[300] = {};
    const long size = handoff == INVALID_HANDLE_VALUE ? -1 : read_some(handoff, line, sizeof line);
    CloseHandle(handoff);
    if (size < 2 || line[size - 2] != '\r' || line[size - 1] != '\n') {
        std::fprintf(stderr, "file helper: no line ended by CR LF in %ls\n", handoff_file);
        return 1;
    }
    line[size - 2] = '\0';
    HANDLE named = CreateFileA(line, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "file helper: CreateFileA could not open \"%s\": error %lu\n", line,
                     GetLastError());
        return 1;
    }
    char bytes[4096];
    long count = 0;
    while ((count = read_some(named, bytes, sizeof bytes)) > 0) {
        std::fwrite(bytes, 1, static_cast<std::size_t>(count), stdout);
    }
    CloseHandle(named);
    return count == 0 ? 0 : 1;
}

int run(int argc, wchar_t** argv) {
    std::wstring command_line;
    for (int i = 3; i < argc; ++i) {
        command_line += std::wstring(i > 3 ? L" \"" : L"\"") + argv[i] + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[3], command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "file helper: could not start %ls: error %lu\n", argv[3],
                     GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    const DWORD limit_ms = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) * 1000;
    int result = 0;
    if (WaitForSingleObject(process.hProcess, limit_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        result = 2;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    std::fprintf(stderr, "exit code %lu\n", code);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"hold" && argc == 6) {
        return hold(argv[2], argv[3], argv[4], argv[5]);
    }
    if (command == L"read" && argc == 3) {
        return read_named(argv[2]);
    }
    if (command == L"run" && argc >= 4) {
        return run(argc, argv);
    }
    std::fprintf(stderr,
                 "usage: picker_file_helper hold <file> <ready file> <stop file> "
                 "<seconds> | read <hand-off file> | run <seconds> <program> [<argument>...]\n");
    return 1;
}

// Holds a file open with share mode 0, so no other program can open it,
// until a stop file appears or a time limit passes.
//
//   picker_file_holder <file> <ready file> <stop file> <seconds>
//
// Creates <ready file> once the file is held. Exits 0 when released by the
// stop file, 1 when the file could not be opened, 2 on the time limit.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::printf("usage: picker_file_holder <file> <ready file> <stop file> <seconds>\n");
        return 1;
    }
    HANDLE held = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::printf("file holder: could not open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(ready);
    const DWORD limit_ms = static_cast<DWORD>(std::atoi(argv[4])) * 1000;
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= limit_ms) {
            CloseHandle(held);
            return 2;
        }
        Sleep(50);
    }
    CloseHandle(held);
    return 0;
}

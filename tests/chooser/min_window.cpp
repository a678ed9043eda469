// The floor for the start-up benchmark: the least a Win32 window program
// does (register a class, create and show a window, run the message loop),
// built like model_chooser (console subsystem, static) and measured the same
// way by scripts/bench-startup.

#include <windows.h>

namespace {
LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "trel minimal window";
    if (!RegisterClassA(&wc))
        return 1;
    HWND window = CreateWindowExA(0, wc.lpszClassName, "trel minimal window", WS_OVERLAPPEDWINDOW,
                                  0, 0, 700, 450, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

// Keeps Wine's desktop and services alive for a whole test run, so that no test
// process pays for their start and none inherits the test runner's pipes.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    HWND window = CreateWindowExW(0, L"STATIC", L"tessel test keeper", 0, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
    MSG msg;
    while (window && GetMessageW(&msg, nullptr, 0, 0))
        DispatchMessageW(&msg);
    return 0;
}

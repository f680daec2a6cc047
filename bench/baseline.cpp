// The smallest program that does what Tessel's start-up ends in: a hidden top-level
// window and a message loop. The benchmark compares Tessel against it.
// Built a second time with BASELINE_WITH_TESSEL_IMPORTS: the same program importing the
// DLLs Tessel imports, with its manifest, to tell the loader's share from Tessel's own.
#include <windows.h>
#ifdef BASELINE_WITH_TESSEL_IMPORTS
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <wininet.h>
#endif

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The same quit request as Tessel's, so one measuring tool ends both.
    if (message == WM_USER + 1) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#ifdef BASELINE_WITH_TESSEL_IMPORTS
    // Never true; the calls only put each DLL into the import table.
    if (GetTickCount64() == 1) {
        InitCommonControls();
        GetOpenFileNameW(nullptr);
        ShellExecuteW(nullptr, nullptr, nullptr, nullptr, nullptr, 0);
        CoInitialize(nullptr);
        SysFreeString(nullptr);
        InternetCloseHandle(nullptr);
    }
#endif
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"TesselBenchBaseline";
    if (!RegisterClassExW(&wc))
        return 0;
    HWND window =
        CreateWindowExW(0, wc.lpszClassName, L"Baseline", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                        CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 0;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 1;
}

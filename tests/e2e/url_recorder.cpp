// The web and mail handler of isolated.sh's prefix: each page or mail opened is a line of
// C:\opened.txt, two at once two lines (cmd's echo lost one), so a link opened twice shows.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR target, int) {
    char line[2048];
    int length =
        WideCharToMultiByte(CP_ACP, 0, target, -1, line, sizeof line - 2, nullptr, nullptr);
    if (length == 0)
        return 1;
    lstrcpyA(line + length - 1, "\r\n");
    // Wine's appends are not atomic between processes: take turns.
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"url_recorder");
    WaitForSingleObject(turn, INFINITE);
    HANDLE file =
        CreateFileW(L"C:\\opened.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    BOOL ok = WriteFile(file, line, DWORD(length + 1), &written, nullptr);
    CloseHandle(file);
    ReleaseMutex(turn);
    return ok ? 0 : 1;
}

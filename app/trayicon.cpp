#include "app/trayicon.h"
#include "app/globals.h"
#include "app/mainwindow.h"

namespace {

// While the shell is not up (at logon, or restarting) an add fails: try again for two minutes.
constexpr UINT_PTR TrayRetryTimer = 30;
constexpr UINT TrayRetryMs = 4000;
constexpr int TrayRetryTicks = 30;
int TrayRetriesLeft;

// An add also fails when the icon is already there; an update of its tip to the same text
// tells the two apart without anything the user sees.
bool AddOrFindTrayIcon() {
    if (Shell_NotifyIconW(NIM_ADD, &App.TrayIconRecord))
        return true;
    NOTIFYICONDATAW tipOnly = App.TrayIconRecord;
    tipOnly.uFlags = NIF_TIP;
    return Shell_NotifyIconW(NIM_MODIFY, &tipOnly);
}

void CALLBACK RetryTrayIcon(HWND window, UINT, UINT_PTR timer, DWORD) {
    if (IsWindowVisible(window) || AddOrFindTrayIcon() || --TrayRetriesLeft <= 0)
        KillTimer(window, timer);
}

void RetryTrayIconLater() {
    TrayRetriesLeft = TrayRetryTicks;
    SetTimer(App.MainWindow, TrayRetryTimer, TrayRetryMs, RetryTrayIcon);
}

} // namespace

void FillTrayIconRecord() {
    NOTIFYICONDATAW& tray = App.TrayIconRecord;
    tray = {};
    tray.cbSize = sizeof(tray);
    tray.hWnd = App.MainWindow;
    tray.uID = 0;
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    tray.uCallbackMessage = WM_APP_TRAY;
    tray.hIcon = App.AppIcon.get();
    lstrcpynW(tray.szTip, TrayTipText, ARRAYSIZE(tray.szTip));
    lstrcpynW(tray.szInfo, TrayTipText, ARRAYSIZE(tray.szInfo));
}

void HideToTray(HWND window) {
    ShowWindow(window, SW_HIDE);
    AddTrayIcon();
}

void ShowFromTray(HWND window) {
    ShowWindow(window, SW_RESTORE);
    BringWindowToTop(window);
    RemoveTrayIcon();
}

void AddTrayIcon() {
    if (!AddOrFindTrayIcon())
        RetryTrayIconLater();
}

void RemoveTrayIcon() {
    Shell_NotifyIconW(NIM_DELETE, &App.TrayIconRecord);
}

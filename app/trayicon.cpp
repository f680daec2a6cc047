#include "app/trayicon.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "disklist/pending.h"
#include "resources/resource.h"
#include <commctrl.h>

namespace {

// The hint balloon comes with the icon at start-up and with the first hide of a run, not with
// every hide: on Windows 10 and later each balloon stays behind in the notification centre.
bool HintWanted(int hides) {
    return hides <= 1;
}

void WantHint(bool wanted) {
    UINT& flags = App.TrayIconRecord.uFlags;
    flags = wanted ? flags | NIF_INFO : flags & ~UINT(NIF_INFO);
}

// The taskbar's small icon size, drawn for it rather than scaled by the shell.
HICON LoadTrayIcon() {
    HICON icon = nullptr;
    return SUCCEEDED(LoadIconMetric(App.Instance, MAKEINTRESOURCEW(IDI_APP), LIM_SMALL, &icon))
               ? icon
               : nullptr;
}

} // namespace

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
    App.TrayIcon.reset(LoadTrayIcon());
    tray.hIcon = App.TrayIcon ? App.TrayIcon.get() : App.AppIcon.get();
    lstrcpynW(tray.szTip, TrayTipText, ARRAYSIZE(tray.szTip));
    lstrcpynW(tray.szInfo, TrayTipText, ARRAYSIZE(tray.szInfo));
    WantHint(HintWanted(App.WindowHides));
}

void HideToTray(HWND window) {
    RefreshTrayTip();
    // A close sent to the hidden window is no hide by the user.
    if (ShowWindow(window, SW_HIDE))
        WantHint(HintWanted(++App.WindowHides));
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

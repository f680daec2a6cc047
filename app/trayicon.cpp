#include "app/trayicon.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "disklist/pending.h"

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
    RefreshTrayTip();
    ShowWindow(window, SW_HIDE);
    AddTrayIcon();
}

void ShowFromTray(HWND window) {
    ShowWindow(window, SW_RESTORE);
    BringWindowToTop(window);
    RemoveTrayIcon();
}

void AddTrayIcon() {
    Shell_NotifyIconW(NIM_ADD, &App.TrayIconRecord);
}

void RemoveTrayIcon() {
    Shell_NotifyIconW(NIM_DELETE, &App.TrayIconRecord);
}

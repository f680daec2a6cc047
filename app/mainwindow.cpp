#include "app/mainwindow.h"
#include "app/dpi.h"
#include "app/elevation.h"
#include "app/globals.h"
#include "app/trayicon.h"
#include "dialogs/about.h"
#include "disklist/listview.h"
#include "disklist/pending.h"
#include "resources/resource.h"
#include "settings/exportimport.h"
#include "settings/options.h"
#include "update/updater.h"
#include <dbt.h>

namespace {

void ConfirmExit(HWND window) {
    if (MessageBoxW(window, ExitQuestion, QuestionCaption,
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        PostQuitMessage(0);
}

void CheckForUpdatesNow(HWND window) {
    if (App.UpdateInProgress) {
        MessageBeep(MB_ICONEXCLAMATION);
        MessageBoxW(window, UpdateRunningMessage, InformationCaption, MB_OK);
        return;
    }
    if (HANDLE worker = CreateThread(nullptr, 0, UpdateWorker, nullptr, 0, nullptr))
        CloseHandle(worker);
}

void MsgCommand(HWND window, WORD id) {
    switch (id) {
    case IDM_EXPORT_SETTINGS:
        ExportSettings();
        break;
    case IDM_IMPORT_SETTINGS:
        ImportSettings();
        break;
    case IDM_EXIT:
        ConfirmExit(window);
        break;
    case IDM_ABOUT:
        DialogBoxParamW(App.Instance, MAKEINTRESOURCEW(IDD_ABOUT), window, AboutDlgProc, 0);
        break;
    case IDM_OPTIONS:
        DialogBoxParamW(App.Instance, MAKEINTRESOURCEW(IDD_OPTIONS), window, OptionsDialogProc, 0);
        break;
    case IDM_DONATE:
        OpenAsUser(TESSEL_DONATION_URL);
        break;
    case IDM_CHECK_UPDATES:
        CheckForUpdatesNow(window);
        break;
    }
}

// The window moved to a monitor of another scale, or the scale changed: the window takes the
// rectangle Windows suggests, and the list its font, images and columns as at its creation.
void ChangeDpi(HWND window, UINT dpi, const RECT& suggested) {
    SetDiskListDpi(dpi);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // The size may be the same, and then no WM_SIZE comes.
    RECT client = {};
    GetClientRect(window, &client);
    LayoutDiskList(client.right, client.bottom);
}

// Volume arrivals are broadcast to every top-level window; no registration is needed.
void OnDeviceChange(WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (event == DBT_DEVICEARRIVAL && header && header->dbch_devicetype == DBT_DEVTYP_VOLUME)
        RequestPendingPass(Trigger::VolumeArrived);
}

// AUTOMATIC comes on every resume, SUSPEND only once the user is back: one pass either way.
void OnPowerBroadcast(WPARAM event) {
    if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND)
        RequestPendingPass(Trigger::Wake);
}

void OnSessionChange(WPARAM event) {
    if (event == WTS_SESSION_UNLOCK)
        RequestPendingPass(Trigger::Wake);
}

void OnTrayCallback(HWND window, LPARAM event) {
    // The balloons name what is not mounted and say that a click opens the list.
    if (event == WM_LBUTTONDBLCLK || event == NIN_BALLOONUSERCLICK)
        ShowFromTray(window);
}

} // namespace

int CreateMainWindow() {
    App.MainWindow =
        CreateWindowExW(0, AppGuid, MainWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                        CW_USEDEFAULT, 0, nullptr, App.MenuBar.get(), App.Instance, nullptr);
    if (!App.MainWindow)
        return 0;
    // After an Explorer restart the icon must come back, or a hidden Tessel is unreachable.
    App.TaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    FillTrayIconRecord();
    ShowWindow(App.MainWindow, SW_HIDE);
    UpdateWindow(App.MainWindow);
    AddTrayIcon();
    return 1;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_APP_QUIT:
        PostQuitMessage(0);
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        const UINT dpi = WindowDpi(window);
        info->ptMinTrackSize = {ScaleForDpi(MinTrackWidth, dpi), ScaleForDpi(MinTrackHeight, dpi)};
        return 0;
    }
    case WM_CLOSE:
        HideToTray(window);
        return 0;
    case WM_SIZE:
        LayoutDiskList(LOWORD(lParam), HIWORD(lParam));
        break;
    case WM_DPICHANGED:
        ChangeDpi(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_COMMAND:
        if (reinterpret_cast<HWND>(lParam) == App.DiskList && App.DiskList)
            SendMessageW(App.DiskList, WM_COMMAND, wParam, lParam);
        // Menu commands carry 0 in the high word; the About accelerator carries 1.
        else if (HIWORD(wParam) == 0 || (HIWORD(wParam) == 1 && LOWORD(wParam) == IDM_ABOUT))
            MsgCommand(window, LOWORD(wParam));
        break;
    case WM_NOTIFY:
        if (reinterpret_cast<const NMHDR*>(lParam)->hwndFrom == App.DiskList)
            SendMessageW(App.DiskList, WM_NOTIFY, wParam, lParam);
        break;
    case WM_APP_TRAY:
        OnTrayCallback(window, lParam);
        break;
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        break;
    case WM_POWERBROADCAST:
        OnPowerBroadcast(wParam);
        break;
    case WM_WTSSESSION_CHANGE:
        OnSessionChange(wParam);
        break;
    case WM_APP_NETWORK_CHANGED:
        RequestPendingPass(Trigger::NetworkChanged);
        return 0;
    case WM_APP_PENDING_CHECKED:
        OnPendingChecked(lParam);
        return 0;
    case WM_TIMER:
        OnPendingTimer(wParam);
        break;
    case WM_SYSCOMMAND:
        if (wParam == SC_MINIMIZE) {
            HideToTray(window);
            return 0;
        }
        break;
    default:
        if (message == App.TaskbarCreatedMessage && message && !IsWindowVisible(window))
            AddTrayIcon();
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

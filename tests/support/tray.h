// Whether a window has an icon in the notification area: a modify of nothing
// succeeds only for an icon that exists.
#pragma once
#include <windows.h>
#include <shellapi.h>

inline bool TrayIconPresent(HWND window, UINT id = 0) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = id;
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

// The display scale. Windows 10 1607 and later tell it per window and per DPI; Windows 7 and 8
// have one system DPI, which these fall back to.
#pragma once
#include <windows.h>

// The DPI a window is shown at; for no window, the system's (the taskbar's) DPI.
UINT WindowDpi(HWND window);
// A length laid out for 96 DPI, at this DPI.
int ScaleForDpi(int pixels, UINT dpi);
// The system's small icon size at this DPI: 16 at 96, 24 at 144, 32 at 192.
int SmallIconSize(UINT dpi);
// The font of icon titles at this DPI, the one a list view starts with; the caller owns it.
HFONT CreateIconTitleFont(UINT dpi);

// The options dialog: start at logon, check for updates at start.
#pragma once
#include <windows.h>

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

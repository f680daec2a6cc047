// The list control's subclass: the input hub for drops, context commands and notifications.
#pragma once
#include <windows.h>

LRESULT CALLBACK ListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

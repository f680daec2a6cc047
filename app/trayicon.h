// The notification-area icon: the only way back to a hidden Tessel.
#pragma once
#include <windows.h>

void FillTrayIconRecord();
void AddTrayIcon();
void RemoveTrayIcon();
void HideToTray(HWND window);
void ShowFromTray(HWND window);

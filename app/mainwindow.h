// The hidden main window, its menu commands and its tray icon.
#pragma once
#include <windows.h>

constexpr wchar_t TrayTipText[] = L"Double-click to open Tessel Window";
constexpr wchar_t ExitQuestion[] =
    L"Are you sure want to exit ?\r\nNote, all mounted disk's will be unmounted.";
constexpr wchar_t QuestionCaption[] = L"Question";
constexpr wchar_t UpdateRunningMessage[] = L"Update already in progress ...";
constexpr wchar_t InformationCaption[] = L"Iformation";
constexpr LONG MinTrackWidth = 320;
constexpr LONG MinTrackHeight = 200;

int CreateMainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The one process-wide record: every long-lived handle, buffer and flag.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <virtdisk.h>
#include "app/unique_any.h"

// Shared path buffers hold 32,800 wide characters (65,600 bytes).
constexpr DWORD PathBufferChars = 32800;

// Mutex name, window class name, registry key and Run value name.
#define TESSEL_GUID L"{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}"
constexpr wchar_t AppGuid[] = TESSEL_GUID;
constexpr wchar_t MainWindowTitle[] = L"Tessel";

// The caption of every error box.
constexpr wchar_t ErrorCaption[] = L"Error";

// Private window messages.
constexpr UINT WM_APP_QUIT = WM_USER + 1;
constexpr UINT WM_APP_TRAY = WM_USER + 100;

enum ListIcon { ListIconDisk, ListIconError, ListIconStartupYes, ListIconStartupNo, ListIconCount };

struct AppGlobals {
    HINSTANCE Instance;
    OSVERSIONINFOW VersionInfo;
    UINT_PTR WindowsEightOrLater;
    UniqueHandle InstanceMutex;
    wchar_t UserName[260];
    // Declared before BaseKey so that the exit-time clean-up closes BaseKey first.
    UniqueHkey SettingsKey;
    UniqueHkey BaseKey;
    DWORD EnumPosition;
    UniqueHicon AppIcon;
    UniqueHicon TrayIcon;
    UniqueHicon ListIcons[ListIconCount];
    UniqueHmenu ContextMenu;
    HMENU ContextSubmenu; // owned by ContextMenu
    UniqueHmenu MenuBar;
    ATOM ClassAtom;
    HWND MainWindow;
    UINT TaskbarCreatedMessage;
    HWND DiskList;
    // The DPI the list is laid out for, and its font at that DPI.
    UINT DiskListDpi;
    UniqueHfont DiskListFont;
    WNDPROC DiskListProc;
    NOTIFYICONDATAW TrayIconRecord;
    int WindowHides; // in this run
    UniqueHeapText PathBuffer;
    UniqueHeapText ModulePathBuffer;
    DWORD LastDiskError;
    GET_VIRTUAL_DISK_INFO DiskInfo;
    wchar_t DecimalBuffer[32];
    volatile LONG UpdateInProgress;
};

extern AppGlobals App;

static_assert(sizeof(OSVERSIONINFOW) == 276);
static_assert(sizeof(NOTIFYICONDATAW) == 976);
static_assert(sizeof(GET_VIRTUAL_DISK_INFO) == 32);

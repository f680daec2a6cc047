// The disk list: one list-view row per image, and the only code that talks to the control.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include "disklist/compact.h"
#include "disklist/pending.h"

// Status column texts.
constexpr wchar_t StatusMounted[] = L"Mounted";
constexpr wchar_t StatusUnmounted[] = L"Unmounted";
constexpr wchar_t StatusMountError[] = L"Mount error";
constexpr wchar_t StatusOpenError[] = L"Error open VHD";
constexpr wchar_t StatusUnmountError[] = L"Error unmount disk";
constexpr wchar_t StatusCloseError[] = L"Unmounted, but closing handle error";
constexpr wchar_t StatusDeleteError[] = L"Error delete VHD file";

// Every text the status column shows: the column is as wide as the widest of them beside the
// error image, so a new status text belongs here too.
inline constexpr const wchar_t* StatusColumnTexts[] = {
    StatusMounted,
    StatusUnmounted,
    StatusMountError,
    StatusOpenError,
    StatusUnmountError,
    StatusCloseError,
    StatusDeleteError,
    StatusCompactWait,
    StatusDetachError,
    StatusMountedCompacting,
    StatusMountedCompacted,
    StatusMountedCompactError,
    StatusUnmountedCompacting,
    StatusUnmountedCompacted,
    StatusUnmountedCompactError,
    StatusNoFileName,
    StatusWaitingForDrive,
    StatusInUseRetrying,
    StatusWaitingForNetwork,
};

// Startup column texts.
constexpr wchar_t StartupYesText[] = L"Yes, mount at Windows startup";
constexpr wchar_t StartupNoText[] = L"No, don't mount at Windows startup";
inline constexpr const wchar_t* StartupColumnTexts[] = {StartupYesText, StartupNoText};

// Column headers.
constexpr wchar_t PathColumnTitle[] = L"Virtual disk file name";
constexpr wchar_t StatusColumnTitle[] = L"Status";
constexpr wchar_t StartupColumnTitle[] = L"Mount at startup";

constexpr DWORD DiskListStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | LVS_REPORT;
constexpr DWORD DiskListExStyle = LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_CHECKBOXES |
                                  LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER |
                                  LVS_EX_AUTOSIZECOLUMNS;
static_assert(DiskListStyle == 0x50300001 && DiskListExStyle == 0x10010027);

int CreateDiskList();
int AddDiskListColumns();
void AttachDiskListImages(HIMAGELIST images);
// Gives the list its images and font for this DPI; the next layout sizes the columns for it.
void SetDiskListDpi(UINT dpi);
// Fills the client area. Columns 1 and 2 fit their widest text beside an image; column 0
// takes what they leave, never less than its initial width, so no horizontal scroll bar
// shows while the window is wide enough.
void LayoutDiskList(int width, int height);

bool InsertDiskRow(const wchar_t* path);
void SetRowStatus(int row, const wchar_t* text);
void SetRowStatusError(int row);
void SetRowStartup(int row, bool on);
void SetRowChecked(int row, bool checked);
bool IsRowChecked(int row);
bool SetRowHandle(int row, HANDLE handle);
HANDLE GetRowHandle(int row);
bool ReadRowPath(int row);
int RowCount();
bool IsRowSelected(int row);
int FindRowByPath(const wchar_t* path);
void RemoveRow(int row);
int GetCurrentRow();
void SetCurrentRow(int row);

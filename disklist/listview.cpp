#include "disklist/listview.h"
#include "app/globals.h"
#include "disklist/listproc.h"
#include "resources/resource.h"
#include <algorithm>

namespace {

enum Column { PathColumn, StatusColumn, StartupColumn };

constexpr int StatusColumnWidth = 190;
constexpr int StartupColumnWidth = 210;
constexpr int PathColumnWidth = 220;

LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(App.DiskList, message, wParam, lParam);
}

void InsertColumn(int position, const wchar_t* title, int width) {
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_MINWIDTH;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.cxMin = width;
    column.pszText = const_cast<wchar_t*>(title);
    Send(LVM_INSERTCOLUMNW, position, reinterpret_cast<LPARAM>(&column));
}

void SetColumnWidth(int position, int width) {
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = width;
    Send(LVM_SETCOLUMNW, position, reinterpret_cast<LPARAM>(&column));
}

void SetSubItemText(int row, int subItem, const wchar_t* text) {
    LVITEMW item = {};
    item.iSubItem = subItem;
    item.pszText = const_cast<wchar_t*>(text);
    Send(LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

void SetSubItemImage(int row, int subItem, int image) {
    LVITEMW item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iSubItem = subItem;
    item.iImage = image;
    Send(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void SetStateImage(int row, UINT state) {
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = state;
    Send(LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

} // namespace

int CreateDiskList() {
    RECT client = {};
    GetClientRect(App.MainWindow, &client);
    App.DiskList =
        CreateWindowExW(0, WC_LISTVIEWW, nullptr, DiskListStyle, 0, 0, client.right - client.left,
                        client.bottom - client.top, App.MainWindow,
                        reinterpret_cast<HMENU>(IDC_DISKLIST), App.Instance, nullptr);
    if (!App.DiskList)
        return 0;
    DragAcceptFiles(App.DiskList, TRUE);
    Send(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, DiskListExStyle);
    AddDiskListColumns();
    ShowWindow(App.DiskList, SW_SHOW);
    UpdateWindow(App.DiskList);
    App.DiskListProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(App.DiskList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListWindowProc)));
    return 1;
}

int AddDiskListColumns() {
    InsertColumn(PathColumn, PathColumnTitle, PathColumnWidth);
    InsertColumn(StatusColumn, StatusColumnTitle, StatusColumnWidth);
    InsertColumn(StartupColumn, StartupColumnTitle, StartupColumnWidth);
    return 1;
}

void AttachDiskListImages(HIMAGELIST images) {
    Send(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
}

void LayoutDiskList(int width, int height) {
    MoveWindow(App.DiskList, 0, 0, width, height, TRUE);
    SetColumnWidth(PathColumn,
                   std::max(PathColumnWidth, width - StatusColumnWidth - StartupColumnWidth));
    SetColumnWidth(StatusColumn, StatusColumnWidth);
    SetColumnWidth(StartupColumn, StartupColumnWidth);
}

bool InsertDiskRow(const wchar_t* path) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = RowCount();
    item.pszText = const_cast<wchar_t*>(path);
    item.lParam = 0;
    return Send(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) != -1;
}

void SetRowStatus(int row, const wchar_t* text) {
    SetSubItemText(row, StatusColumn, text);
}

void SetRowStatusError(int row) {
    SetSubItemImage(row, StatusColumn, ListIconError);
}

void SetRowStartup(int row, bool on) {
    SetSubItemText(row, StartupColumn, on ? StartupYesText : StartupNoText);
    SetSubItemImage(row, StartupColumn, on ? ListIconStartupYes : ListIconStartupNo);
}

void SetRowChecked(int row, bool checked) {
    SetStateImage(row, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1));
}

bool IsRowChecked(int row) {
    // Only index 1 means unchecked; a row without a check box image counts as checked.
    UINT state = static_cast<UINT>(Send(LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return (state >> 12) != 1;
}

bool SetRowHandle(int row, HANDLE handle) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = reinterpret_cast<LPARAM>(handle);
    return Send(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != 0;
}

HANDLE GetRowHandle(int row) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!Send(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<HANDLE>(item.lParam);
}

bool ReadRowPath(int row) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = App.PathBuffer.get();
    item.cchTextMax = PathBufferChars;
    return Send(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) != 0;
}

int RowCount() {
    return static_cast<int>(Send(LVM_GETITEMCOUNT));
}

bool IsRowSelected(int row) {
    return Send(LVM_GETITEMSTATE, row, LVIS_SELECTED) == LVIS_SELECTED;
}

int FindRowByPath(const wchar_t* path) {
    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;
    find.psz = path;
    return static_cast<int>(
        Send(LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

void RemoveRow(int row) {
    Send(LVM_DELETEITEM, row);
}

int GetCurrentRow() {
    return static_cast<int>(Send(LVM_GETHOTITEM));
}

void SetCurrentRow(int row) {
    Send(LVM_SETHOTITEM, row);
}

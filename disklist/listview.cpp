#include "disklist/listview.h"
#include "app/dpi.h"
#include "app/globals.h"
#include "app/imagelist.h"
#include "app/startup.h"
#include "disklist/listproc.h"
#include "resources/resource.h"
#include <algorithm>
#include <span>

namespace {

enum Column { PathColumn, StatusColumn, StartupColumn };

// At 96 DPI. The padding is what the control keeps around a sub-item's image and text: a
// column only as wide as the text and the image cuts the text.
constexpr int PathColumnMinWidth = 220;
constexpr int LabelPadding = 12;

struct ColumnWidths {
    int Path, PathMin, Status, Startup;
};

LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(App.DiskList, message, wParam, lParam);
}

int WidestText(std::span<const wchar_t* const> texts) {
    int widest = 0;
    for (const wchar_t* text : texts)
        widest =
            std::max(widest, int(Send(LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text))));
    return widest;
}

// The one layout rule, for the list's font at this DPI and a client area this wide.
ColumnWidths ColumnLayout(UINT dpi, int clientWidth) {
    const int beside = SmallIconSize(dpi) + ScaleForDpi(LabelPadding, dpi);
    ColumnWidths columns;
    columns.Status = WidestText(StatusColumnTexts) + beside;
    columns.Startup = WidestText(StartupColumnTexts) + beside;
    columns.PathMin = ScaleForDpi(PathColumnMinWidth, dpi);
    columns.Path = std::max(columns.PathMin, clientWidth - columns.Status - columns.Startup);
    return columns;
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

void SetColumnWidth(int position, int width, int minWidth) {
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH | LVCF_MINWIDTH;
    column.cx = width;
    column.cxMin = minWidth;
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
    SetDiskListDpi(WindowDpi(App.MainWindow));
    AddDiskListColumns();
    ShowWindow(App.DiskList, SW_SHOW);
    UpdateWindow(App.DiskList);
    App.DiskListProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(App.DiskList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListWindowProc)));
    return 1;
}

int AddDiskListColumns() {
    const ColumnWidths columns = ColumnLayout(App.DiskListDpi, 0);
    InsertColumn(PathColumn, PathColumnTitle, columns.PathMin);
    InsertColumn(StatusColumn, StatusColumnTitle, columns.Status);
    InsertColumn(StartupColumn, StartupColumnTitle, columns.Startup);
    return 1;
}

void AttachDiskListImages(HIMAGELIST images) {
    Send(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
}

void SetDiskListDpi(UINT dpi) {
    App.DiskListDpi = dpi;
    BuildImageList(dpi);
    AttachDiskListImages(ImageListObject.List);
    // The old font goes only once the list has let go of it.
    if (UniqueHfont font{CreateIconTitleFont(dpi)}) {
        Send(WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        App.DiskListFont = std::move(font);
    }
}

void LayoutDiskList(int width, int height) {
    MoveWindow(App.DiskList, 0, 0, width, height, TRUE);
    const ColumnWidths columns = ColumnLayout(App.DiskListDpi, width);
    SetColumnWidth(PathColumn, columns.Path, columns.PathMin);
    SetColumnWidth(StatusColumn, columns.Status, columns.Status);
    SetColumnWidth(StartupColumn, columns.Startup, columns.Startup);
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

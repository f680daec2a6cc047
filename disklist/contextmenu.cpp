#include "disklist/contextmenu.h"
#include "app/globals.h"
#include "dialogs/diskinfo.h"
#include "disklist/listview.h"
#include "disklist/pending.h"
#include "resources/resource.h"

namespace {

BOOL SetContextItemState(UINT id, UINT state) {
    MENUITEMINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    info.fState = state;
    return SetMenuItemInfoW(App.ContextSubmenu, id, FALSE, &info);
}
static_assert(sizeof(MENUITEMINFOW) == 80 && MFS_GRAYED == 3);

void SetContextItem(UINT id, bool enabled) {
    if (enabled)
        EnableContextItem(id);
    else
        GreyContextItem(id);
}

// A row waiting for its image can be unmounted: that ends the wait.
bool Unmountable(int row) {
    return GetRowHandle(row) != nullptr || IsRowPending(row);
}

// Among the selected rows, those whose handle state equals `mounted` (for unmounting, those
// that can be unmounted); none selected or no current row counts as nothing to do.
int NothingSelected(bool mounted) {
    if (GetCurrentRow() == -1 || RowCount() == 0)
        return 1;
    int selected = 0, matching = 0;
    const int count = RowCount();
    for (int row = 0; row < count; ++row) {
        if (!IsRowSelected(row))
            continue;
        ++selected;
        if (mounted ? GetRowHandle(row) != nullptr : !Unmountable(row))
            ++matching;
    }
    return selected == matching;
}

// The first row with (or without) a handle, scanning from row 0.
bool AnyRowMounted(bool mounted) {
    const int count = RowCount();
    for (int row = 0; row < count; ++row)
        if ((GetRowHandle(row) != nullptr) == mounted)
            return true;
    return false;
}

bool AnyRowUnmountable() {
    const int count = RowCount();
    for (int row = 0; row < count; ++row)
        if (Unmountable(row))
            return true;
    return false;
}

bool AnyRowSelected() {
    const int count = RowCount();
    for (int row = 0; row < count; ++row)
        if (IsRowSelected(row))
            return true;
    return false;
}

void SetItemsForRows() {
    EnableContextItem(IDM_COMPACT_ALL);
    EnableContextItem(IDM_STARTUP_ALL_ON);
    EnableContextItem(IDM_STARTUP_ALL_OFF);
    SetContextItem(IDM_MOUNT_ALL, AnyRowMounted(false));
    SetContextItem(IDM_UNMOUNT_ALL, AnyRowUnmountable());
    SetContextItem(IDM_MOUNT, !NothingToMount());
    SetContextItem(IDM_UNMOUNT, !NothingToUnmount());
    SetContextItem(IDM_COMPACT, GetCurrentRow() != -1 && AnyRowSelected());
}

constexpr UINT ItemsGreyWithoutRows[] = {IDM_MOUNT_ALL, IDM_UNMOUNT_ALL, IDM_COMPACT_ALL,
                                         IDM_STARTUP_ALL_ON, IDM_STARTUP_ALL_OFF};

void SetItemsForEmptyList() {
    for (UINT id : ItemsGreyWithoutRows)
        GreyContextItem(id);
}

} // namespace

int NothingToMount() {
    return NothingSelected(true);
}

int NothingToUnmount() {
    return NothingSelected(false);
}

BOOL GreyContextItem(UINT id) {
    return SetContextItemState(id, MFS_GRAYED);
}

BOOL EnableContextItem(UINT id) {
    return SetContextItemState(id, MFS_ENABLED);
}

void SetContextMenuItems() {
    if (RowCount())
        SetItemsForRows();
    else
        SetItemsForEmptyList();
}

void ShowContextMenu(int clickedRow) {
    SetContextMenuItems();
    if (clickedRow != -1)
        SetCurrentRow(clickedRow);
    // Offered exactly when the command would show the dialog for the row clicked on.
    SetContextItem(IDM_DISK_INFO, DiskInfoAvailable());
    POINT cursor = {};
    GetCursorPos(&cursor);
    TrackPopupMenu(App.ContextSubmenu, TPM_CENTERALIGN, cursor.x, cursor.y, 0, App.DiskList,
                   nullptr);
}

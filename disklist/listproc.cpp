#include "disklist/listproc.h"
#include "app/globals.h"
#include "dialogs/diskinfo.h"
#include "disklist/compact.h"
#include "disklist/contextmenu.h"
#include "disklist/drop.h"
#include "disklist/listview.h"
#include "disklist/mount.h"
#include "disklist/pending.h"
#include "disklist/remove.h"
#include "resources/resource.h"
#include "settings/store.h"
#include <commctrl.h>

namespace {

// Compaction runs long at normal priority; afterwards the thread idles again and says so.
void AfterCompaction() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
    MessageBeep(MB_ICONASTERISK);
}

void Dispatch(WORD id) {
    switch (id) {
    case IDM_INSERT_AND_MOUNT:
        InsertAndMountDisk();
        break;
    case IDM_MOUNT:
        MountSelectedDisks();
        break;
    case IDM_UNMOUNT:
        UnmountSelectedDisks();
        break;
    case IDM_COMPACT:
        CompactSelectedDisks();
        AfterCompaction();
        break;
    case IDM_MOUNT_ALL:
        MountAllDisks();
        break;
    case IDM_UNMOUNT_ALL:
        UnmountAllDisks();
        break;
    case IDM_COMPACT_ALL:
        CompactAllDisks();
        AfterCompaction();
        break;
    case IDM_UNMOUNT_ALL_AND_EXIT:
        UnmountAllAndExit();
        break;
    case IDM_STARTUP_ALL_ON:
        SetAllStartupOn();
        break;
    case IDM_STARTUP_ALL_OFF:
        SetAllStartupOff();
        break;
    case IDM_DISK_INFO:
        ShowDiskInfo();
        break;
    case IDM_DELETE_FILES:
        DeleteSelectedDiskFiles();
        break;
    }
}

void StoreStartupFlag(int row) {
    ReadRowPath(row);
    const bool checked = IsRowChecked(row);
    WriteStringValue(App.SettingsKey.get(), App.PathBuffer.get(),
                     checked ? StartupFlagOn : StartupFlagOff);
    SetRowStartup(row, checked);
    // Unmarked, a row that waits for its image waits no more.
    if (!checked && ForgetPendingImage(App.PathBuffer.get()))
        SetRowStatus(row, StatusUnmounted);
}

void MakeCurrent(int row) {
    if (row != -1)
        SetCurrentRow(row);
}

// A double-click has left the clicked row the one selected: its dialog opens if it is mounted.
void ShowDiskInfoOf(int row) {
    if (row == -1)
        return;
    SetCurrentRow(row);
    ShowDiskInfo();
}

// True when the notification is handled here and not passed on.
bool Notify(const NMHDR* header) {
    // The header control reports its own clicks to the list with the same codes.
    if (header->hwndFrom != App.DiskList)
        return false;
    switch (header->code) {
    case NM_CLICK:
        MakeCurrent(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem);
        return false;
    case NM_DBLCLK:
        ShowDiskInfoOf(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem);
        return false;
    case NM_RCLICK:
        ShowContextMenu(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem);
        return false;
    case LVN_ITEMCHANGED: {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
        MakeCurrent(change->iItem);
        if (change->uNewState == 0)
            return true;
        if (change->iItem != -1)
            StoreStartupFlag(change->iItem);
        return false;
    }
    case LVN_KEYDOWN:
        if (reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey != VK_DELETE)
            return false;
        RemoveSelectedDisks();
        return true;
    }
    return false;
}

} // namespace

LRESULT CALLBACK ListWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DROPFILES:
        AddDroppedFiles(reinterpret_cast<HDROP>(wParam));
        break;
    case WM_COMMAND:
        Dispatch(LOWORD(wParam));
        break;
    case WM_NOTIFY:
        if (Notify(reinterpret_cast<const NMHDR*>(lParam)))
            return 1;
        break;
    }
    return CallWindowProcW(App.DiskListProc, window, message, wParam, lParam);
}

#include "disklist/mount.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "disklist/listview.h"
#include "disklist/pending.h"
#include "settings/store.h"
#include "vdisk/diskimage.h"
#include <commdlg.h>

namespace {

constexpr wchar_t OpenFilter[] = L"Virtual Disk\0*.vhd;*.vhdx;*.iso\0";
constexpr DWORD OpenFlags = OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_LONGNAMES | OFN_ENABLESIZING;
static_assert(OpenFlags == 0xA81000 && sizeof(OPENFILENAMEW) == 152);

bool ChooseImageFile() {
    App.PathBuffer.get()[0] = L'\0';
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = App.DiskList;
    dialog.lpstrFilter = OpenFilter;
    dialog.lpstrFile = App.PathBuffer.get();
    dialog.nMaxFile = PathBufferChars;
    dialog.Flags = OpenFlags;
    return GetOpenFileNameW(&dialog);
}

void ShowMounted(int row, HANDLE image) {
    SetRowHandle(row, image);
    SetCurrentRow(row);
    SetRowStatus(row, StatusMounted);
}

void MountRows(bool selectedOnly) {
    const int count = RowCount();
    for (int row = 0; row < count; ++row) {
        if ((selectedOnly && !IsRowSelected(row)) || GetRowHandle(row) || !ReadRowPath(row))
            continue;
        // By hand it is tried once, with a box on failure, and no longer waited for.
        ForgetPendingImage(App.PathBuffer.get());
        HANDLE image = nullptr;
        if (!OpenDiskImage(App.PathBuffer.get(), &image)) {
            SetRowStatus(row, StatusOpenError);
            SetRowStatusError(row);
            ShowSystemError(App.LastDiskError);
            continue;
        }
        if (AttachDiskImage(image)) {
            ShowMounted(row, image);
            continue;
        }
        SetRowStatus(row, StatusMountError);
        SetRowStatusError(row);
        CloseHandle(image);
        ShowSystemError(App.LastDiskError);
    }
}

// Unmounting a row that waits for its image ends the wait.
void StopWaiting(int row) {
    if (!IsRowPending(row))
        return;
    ForgetPendingImage(App.PathBuffer.get());
    SetRowStatus(row, StatusUnmounted);
}

} // namespace

void StoreNewRow(int row, const wchar_t* path) {
    WriteStringValue(App.SettingsKey.get(), path, StartupFlagOff);
    SetRowStartup(row, false);
}

void InsertAndMountDisk() {
    if (!ChooseImageFile() || FindRowByPath(App.PathBuffer.get()) != -1)
        return;
    HANDLE image = nullptr;
    if (!OpenDiskImage(App.PathBuffer.get(), &image)) {
        ShowSystemError(App.LastDiskError);
        return;
    }
    const int row = RowCount();
    InsertDiskRow(App.PathBuffer.get());
    StoreNewRow(row, App.PathBuffer.get());
    if (AttachDiskImage(image)) {
        ShowMounted(row, image);
        return;
    }
    SetRowHandle(row, nullptr);
    SetRowStatus(row, StatusMountError);
    CloseHandle(image);
    ShowSystemError(App.LastDiskError);
}

void MountSelectedDisks() {
    MountRows(true);
}

void MountAllDisks() {
    MountRows(false);
}

void UnmountSelectedDisks() {
    for (int row = RowCount() - 1; row >= 0; --row) {
        if (!IsRowSelected(row))
            continue;
        HANDLE image = GetRowHandle(row);
        if (!image) {
            StopWaiting(row);
            continue;
        }
        App.LastDiskError = DetachDiskImage(image);
        if (App.LastDiskError != ERROR_SUCCESS) {
            SetRowStatus(row, StatusUnmountError);
            continue;
        }
        if (!CloseHandle(image)) {
            SetRowStatus(row, StatusCloseError);
            continue;
        }
        SetRowHandle(row, nullptr);
        SetCurrentRow(row);
        SetRowStatus(row, StatusUnmounted);
    }
}

void UnmountAllDisks() {
    const int count = RowCount();
    for (int row = 0; row < count; ++row) {
        HANDLE image = GetRowHandle(row);
        if (!image) {
            StopWaiting(row);
            continue;
        }
        App.LastDiskError = DetachDiskImage(image);
        if (App.LastDiskError != ERROR_SUCCESS)
            continue;
        SetRowHandle(row, nullptr);
        SetCurrentRow(row);
        CloseHandle(image);
        SetRowStatus(row, StatusUnmounted);
    }
}

void UnmountAllAndExit() {
    if (MessageBoxW(App.DiskList, ExitUnmountQuestion, QuestionCaption,
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    UnmountAllDisks();
    SendMessageW(App.MainWindow, WM_APP_QUIT, 0, 0);
}

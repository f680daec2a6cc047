#include "disklist/load.h"
#include "app/globals.h"
#include "disklist/listview.h"
#include "disklist/pending.h"
#include "settings/store.h"
#include "vdisk/diskimage.h"

namespace {

// Mounts a row marked for startup; the outcome shows only in the row, and a failure that
// passes leaves the row pending.
void MountAtStartup(int row, const wchar_t* path) {
    SetRowChecked(row, true);
    SetRowStartup(row, true);
    bool openFailed = false;
    if (MountMarkedRow(row, path, &openFailed) || NoteLogonFailure(row, path, App.LastDiskError))
        return;
    ShowMountFailure(row, openFailed);
}

void ShowUnmounted(int row) {
    SetRowStatus(row, StatusUnmounted);
    SetRowStartup(row, false);
    SetRowChecked(row, false);
    SetRowHandle(row, nullptr);
}

} // namespace

bool MountMarkedRow(int row, const wchar_t* path, bool* openFailed) {
    HANDLE image = nullptr;
    *openFailed = !OpenDiskImage(path, &image);
    if (*openFailed)
        return false;
    if (!AttachDiskImage(image)) {
        CloseHandle(image);
        return false;
    }
    SetRowStatus(row, StatusMounted);
    SetRowHandle(row, image);
    return true;
}

void ShowMountFailure(int row, bool openFailed) {
    SetRowStatus(row, openFailed ? StatusOpenError : StatusMountError);
    SetRowStatusError(row);
    SetRowHandle(row, nullptr);
}

int LoadDiskList() {
    UniqueHeapText name(
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, PathBufferChars * sizeof(wchar_t))));
    UniqueAny<BYTE*, &FreeProcessHeap> data(
        static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, ImageDataBytes)));
    if (!name || !data)
        return 1;
    int row = 0;
    for (;;) {
        ImageValue value = ReadImageValue(App.EnumPosition++, name.get(), data.get());
        if (value == ImageValue::End)
            break;
        if (value == ImageValue::Skipped)
            continue;
        InsertDiskRow(name.get());
        if (IsStartupFlagOn(data.get()))
            MountAtStartup(row, name.get());
        else
            ShowUnmounted(row);
        ++row;
    }
    StartPendingRetries();
    return 1;
}

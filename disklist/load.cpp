#include "disklist/load.h"
#include "app/globals.h"
#include "disklist/listview.h"
#include "settings/store.h"
#include "vdisk/diskimage.h"

namespace {

// Mounts a row marked for startup; the outcome shows only in the row.
void MountAtStartup(int row, const wchar_t* path) {
    SetRowChecked(row, true);
    SetRowStartup(row, true);
    HANDLE image = nullptr;
    if (!OpenDiskImage(path, &image)) {
        SetRowStatus(row, StatusOpenError);
        SetRowStatusError(row);
        SetRowHandle(row, nullptr);
        return;
    }
    if (AttachDiskImage(image)) {
        SetRowStatus(row, StatusMounted);
        SetRowHandle(row, image);
        return;
    }
    SetRowStatus(row, StatusMountError);
    SetRowStatusError(row);
    CloseHandle(image);
    SetRowHandle(row, nullptr);
}

void ShowUnmounted(int row) {
    SetRowStatus(row, StatusUnmounted);
    SetRowStartup(row, false);
    SetRowChecked(row, false);
    SetRowHandle(row, nullptr);
}

} // namespace

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
    return 1;
}

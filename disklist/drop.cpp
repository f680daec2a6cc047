#include "disklist/drop.h"
#include "app/globals.h"
#include "disklist/listview.h"
#include "disklist/mount.h"
#include "vdisk/diskimage.h"

namespace {

constexpr SIZE_T DropBufferBytes = 0x100000;
constexpr UINT DropBufferChars = DropBufferBytes / sizeof(wchar_t);

void AddIfImage(const wchar_t* name) {
    if (FindRowByPath(name) != -1)
        return;
    HANDLE image = nullptr;
    if (!OpenDiskImage(name, &image))
        return;
    // Only tested here, not mounted.
    CloseHandle(image);
    const int row = RowCount();
    if (InsertDiskRow(name))
        StoreNewRow(row, name);
}

} // namespace

int AddDroppedFiles(HDROP drop) {
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (count) {
        UniqueHeapText name(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, DropBufferBytes)));
        for (UINT index = 0; name && index < count; ++index)
            if (DragQueryFileW(drop, index, name.get(), DropBufferChars))
                AddIfImage(name.get());
    }
    DragFinish(drop);
    return 1;
}

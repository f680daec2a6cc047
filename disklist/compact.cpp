#include "disklist/compact.h"

#include "app/globals.h"
#include "disklist/listview.h"
#include "vdisk/compactimage.h"
#include "vdisk/diskimage.h"

namespace {

static_assert(CompactConfirmFlags == 0x134);

void MarkFailed(int row, const wchar_t* text) {
    SetRowStatus(row, text);
    SetRowStatusError(row);
}

// A failed detach leaves the image attached, so the row keeps its handle. An ISO image stays
// mounted: nothing compacts it, so it fails where it stands.
void CompactMountedRow(int row, HANDLE image) {
    bool iso = IsIsoImage(image);
    App.LastDiskError = iso ? ERROR_SUCCESS : DetachDiskImage(image);
    if (App.LastDiskError != ERROR_SUCCESS) {
        MarkFailed(row, StatusDetachError);
        ShowSystemError(App.LastDiskError);
        return;
    }
    SetRowStatus(row, StatusMountedCompacting);
    bool compacted = CompactDiskImageAttached(image);
    DWORD compactCode = App.LastDiskError;
    // Mounted again before any box, so the image is back while the user reads it.
    if (!iso && !AttachDiskImage(image)) {
        // Detached for good: the row lets go of its handle, as after a failed mount.
        SetRowHandle(row, nullptr);
        CloseHandle(image);
        MarkFailed(row, StatusMountError);
        ShowSystemError(compacted ? App.LastDiskError : compactCode);
        return;
    }
    if (compacted) {
        SetRowStatus(row, StatusMountedCompacted);
        return;
    }
    MarkFailed(row, StatusMountedCompactError);
    ShowSystemError(compactCode);
}

// Failures of an image that is not mounted show only in its row.
void CompactUnmountedRow(int row) {
    if (!ReadRowPath(row)) {
        MarkFailed(row, StatusNoFileName);
        return;
    }
    HANDLE opened = nullptr;
    if (!OpenDiskImage(App.PathBuffer.get(), &opened)) {
        MarkFailed(row, StatusOpenError);
        return;
    }
    UniqueHandle image(opened);
    SetRowStatus(row, StatusUnmountedCompacting);
    if (CompactDiskImageAttached(image.get()))
        SetRowStatus(row, StatusUnmountedCompacted);
    else
        MarkFailed(row, StatusUnmountedCompactError);
}

void CompactRows(bool selectedOnly) {
    // Read before the question: rows removed while a box is open simply fail to change.
    int count = RowCount();
    if (MessageBoxW(App.MainWindow, CompactConfirmText, CompactConfirmCaption,
                    CompactConfirmFlags) != IDYES)
        return;
    for (int row = 0; row < count; ++row) {
        if (selectedOnly && !IsRowSelected(row))
            continue;
        HANDLE image = GetRowHandle(row);
        SetRowStatus(row, StatusCompactWait);
        if (image)
            CompactMountedRow(row, image);
        else
            CompactUnmountedRow(row);
    }
}

} // namespace

void CompactSelectedDisks() {
    CompactRows(true);
}

void CompactAllDisks() {
    CompactRows(false);
}

#include "disklist/remove.h"
#include "app/globals.h"
#include "disklist/listview.h"
#include "disklist/pending.h"
#include "settings/store.h"
#include "vdisk/diskimage.h"

namespace {

constexpr wchar_t NoLead[] = L"";

void DetachAndClose(HANDLE image) {
    App.LastDiskError = DetachDiskImage(image);
    CloseHandle(image);
}

// The lead text and then the row's path, in a buffer of its own: PathBuffer is refilled by
// every change the list reports (a removal too) and, while a box is open, by the user's
// clicks. Null when the row cannot be read.
UniqueHeapText CopyRowPath(int row, const wchar_t* lead) {
    UniqueHeapText text;
    if (!ReadRowPath(row))
        return text;
    text.reset(static_cast<wchar_t*>(
        HeapAlloc(GetProcessHeap(), 0,
                  (lstrlenW(lead) + lstrlenW(App.PathBuffer.get()) + 1) * sizeof(wchar_t))));
    if (text) {
        lstrcpyW(text.get(), lead);
        lstrcatW(text.get(), App.PathBuffer.get());
    }
    return text;
}

// Deletes the file the question named. The row is found again by that path: rows may have
// come and gone while the box was open.
void DeleteNamedFile(const wchar_t* path) {
    const int row = FindRowByPath(path);
    if (row == -1)
        return;
    if (!DeleteFileW(path)) {
        SetRowStatus(row, StatusDeleteError);
        return;
    }
    // The value goes after the row: the list reports the removal as a change of the row,
    // which would store the value again.
    RemoveRow(row);
    DeleteImageValue(path);
    ForgetPendingImage(path);
}

bool AskToDelete(const wchar_t* question) {
    return MessageBoxW(nullptr, question, DeleteFileCaption,
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void SetAllStartup(bool on) {
    const int count = RowCount();
    for (int row = 0; row < count; ++row) {
        ReadRowPath(row);
        WriteStringValue(App.SettingsKey.get(), App.PathBuffer.get(),
                         on ? StartupFlagOn : StartupFlagOff);
        SetRowChecked(row, on);
        SetRowStartup(row, on);
    }
}

} // namespace

void RemoveSelectedDisks() {
    for (int row = RowCount() - 1; row >= 0; --row) {
        if (!IsRowSelected(row))
            continue;
        if (HANDLE image = GetRowHandle(row))
            DetachAndClose(image);
        UniqueHeapText path = CopyRowPath(row, NoLead);
        // The value goes after the row, as above.
        RemoveRow(row);
        if (path) {
            DeleteImageValue(path.get());
            ForgetPendingImage(path.get());
        }
    }
}

void DeleteSelectedDiskFiles() {
    static constexpr int PathOffset =
        ARRAYSIZE(DeleteFileQuestion) + ARRAYSIZE(DeleteFilePathBreak) - 2;
    wchar_t lead[PathOffset + 1];
    lstrcpyW(lead, DeleteFileQuestion);
    lstrcatW(lead, DeleteFilePathBreak);
    for (int row = RowCount() - 1; row >= 0; --row) {
        if (!IsRowSelected(row))
            continue;
        if (HANDLE image = GetRowHandle(row)) {
            DetachAndClose(image);
            SetRowHandle(row, nullptr);
            SetRowStatus(row, StatusUnmounted);
        }
        UniqueHeapText question = CopyRowPath(row, lead);
        if (question && AskToDelete(question.get()))
            DeleteNamedFile(question.get() + PathOffset);
    }
}

void SetAllStartupOn() {
    SetAllStartup(true);
}

void SetAllStartupOff() {
    SetAllStartup(false);
}

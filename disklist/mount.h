// The mount and unmount commands of the context menu.
#pragma once

constexpr wchar_t ExitUnmountQuestion[] =
    L"Are you sure want to exit ?\r\nNote, all mounted disk's will be unmounted.";

void InsertAndMountDisk();
void MountSelectedDisks();
void MountAllDisks();
void UnmountSelectedDisks();
void UnmountAllDisks();
void UnmountAllAndExit();
// A row added by the user is stored at once, unmarked, so it survives the next logon.
void StoreNewRow(int row, const wchar_t* path);

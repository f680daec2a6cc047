// The startup load: rows from the registry, marked images mounted.
#pragma once
#include <windows.h>

int LoadDiskList();

// Opens and attaches a marked row's image as the load does; on success the row shows it
// mounted and holds its handle. On failure LastDiskError holds the code and *openFailed says
// whether the open was the step that failed.
bool MountMarkedRow(int row, const wchar_t* path, bool* openFailed);
// The row as a failed logon mount leaves it: the failure text and the error image.
void ShowMountFailure(int row, bool openFailed);

// The disk image operations: the one place that reaches the virtual disk service.
// Each returns 1 on success and 0 on failure; open, attach, compact and detach leave their
// status code in App.LastDiskError for ShowSystemError.
#pragma once
#include <windows.h>

// Windows 8 and later: opens once with the type the file's signature names (VHD, VHDX or
// ISO), so that the service's code explains a refusal; a file without one is tried as each
// type, keeping the most telling code. A file that cannot be read keeps that code (2, 5, 32
// ...) and never reaches the service. Before Windows 8, VHD only. The extension plays no
// part. A name that is not a full path to a file never reaches the service
// (ERROR_BAD_PATHNAME).
int OpenDiskImage(const wchar_t* path, HANDLE* handle);
// Read-only when the service reports the opened image as an ISO image.
int AttachDiskImage(HANDLE handle);
int CompactDiskImage(HANDLE handle);
// Fills App.DiskInfo for one information kind; App.LastDiskError is left alone.
int QueryDiskInfo(HANDLE handle, DWORD kind);
// Detaches, keeping the handle open and usable; returns the status code, which the caller
// stores in App.LastDiskError.
DWORD DetachDiskImage(HANDLE handle);
// A modal error box with the system's text for the code.
void ShowSystemError(DWORD code);

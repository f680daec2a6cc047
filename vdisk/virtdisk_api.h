// The platform's virtual disk service, loaded only from the system directory so that a
// virtdisk.dll planted beside the program or in the current folder is never used. A call
// whose function could not be found returns the loader's error code.
#pragma once
#include <windows.h>
#include <virtdisk.h>

DWORD VirtDiskOpen(PVIRTUAL_STORAGE_TYPE type, PCWSTR path, VIRTUAL_DISK_ACCESS_MASK access,
                   OPEN_VIRTUAL_DISK_FLAG flags, POPEN_VIRTUAL_DISK_PARAMETERS parameters,
                   PHANDLE handle);
DWORD VirtDiskAttach(HANDLE handle, PSECURITY_DESCRIPTOR security, ATTACH_VIRTUAL_DISK_FLAG flags,
                     ULONG providerFlags, PATTACH_VIRTUAL_DISK_PARAMETERS parameters,
                     LPOVERLAPPED overlapped);
DWORD VirtDiskDetach(HANDLE handle, DETACH_VIRTUAL_DISK_FLAG flags, ULONG providerFlags);
DWORD VirtDiskCompact(HANDLE handle, COMPACT_VIRTUAL_DISK_FLAG flags,
                      PCOMPACT_VIRTUAL_DISK_PARAMETERS parameters, LPOVERLAPPED overlapped);
DWORD VirtDiskGetInformation(HANDLE handle, PULONG size, PGET_VIRTUAL_DISK_INFO info,
                             PULONG sizeUsed);

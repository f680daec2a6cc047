// Which kind of image a file holds, from the signature its format puts in it, so that the
// service is asked once with the right type and its answer explains a refusal.
#pragma once
#include <windows.h>

// 0 and the storage device type (VIRTUAL_STORAGE_TYPE_DEVICE_UNKNOWN when no signature is
// found); else the code that reading the file failed with (2, 3, 5, 32, 53 ...).
DWORD ReadImageType(const wchar_t* path, DWORD* device);

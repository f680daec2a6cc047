// Which names the disk service is given: full paths to files only. A relative name would
// depend on the current folder, and a device name (\\.\PhysicalDrive0, \\?\GLOBALROOT\...,
// C:\images\COM1.vhd) would have the service read a device as an image.
#pragma once
#include <cstddef>

// A drive or UNC path (or its \\?\ form) whose last part is not a device name.
bool IsImageFilePath(const wchar_t* path);
// The length of the path's volume root ("X:\", "\\server\share\" or their "\\?\" forms),
// separator included; 0 when the path has none.
size_t VolumeRootLength(const wchar_t* path);

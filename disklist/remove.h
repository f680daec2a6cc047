// The commands that forget images, delete image files, and mark every image for startup.
#pragma once

constexpr wchar_t DeleteFileQuestion[] = L"Are you sure to delete VHD from disk ?";
// The question names its file on a line of its own below the text.
constexpr wchar_t DeleteFilePathBreak[] = L"\r\n\r\n";
constexpr wchar_t DeleteFileCaption[] = L"Warning";

void RemoveSelectedDisks();
void DeleteSelectedDiskFiles();
void SetAllStartupOn();
void SetAllStartupOff();

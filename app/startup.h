// The life of the process: start-up, the message loop and teardown.
#pragma once
#include <windows.h>

constexpr wchar_t AdministratorMessage[] =
    L"Error creating registry key under HKEY_LOCAL_MACHINE.\r\n"
    L"You must install this program with administrative privileges.";
constexpr wchar_t MemoryErrorMessage[] = L"Memory allocation error";

// The entry routine's work; returns the process exit code (0 refused or failed, 1 normal end).
int RunTessel(HINSTANCE instance);
// Start-up up to the message loop; false when the start ended early (exit code 0).
bool StartTessel(HINSTANCE instance);
void RunMessageLoop();
// The shared image list with the four list icons, in their image-index order, at the small
// icon size of this DPI; called again, it takes the new size.
void BuildImageList(UINT dpi);

int EnablePrivilege(const wchar_t* name);
void ReleaseResources();

// Start-up's derivations, kept apart so that they can be checked for every input.
UINT_PTR WindowsEightOrLaterFrom(BOOL queried, const OSVERSIONINFOW& version);
UINT ImageListColorFlag(int bitsPerPixel);

// The background update check.
#pragma once
#include <windows.h>
#include "tessel_version.h"

// Tessel's own version; a published number above it is a newer version.
constexpr DWORD BuiltInVersion = TESSEL_VERSION_NUMBER;

constexpr wchar_t NewVersionMessage[] =
    L"New version available !\r\nPlease uninstall old version\r\n"
    L"before install new version.\r\n\r\n"
    L"Now will start your browser ...";
constexpr wchar_t VersionCaption[] = L"Version information";
constexpr wchar_t ConnectionErrorMessage[] =
    L"Error getting version information.\r\nCheck your internet connection.";

DWORD WINAPI UpdateWorker(void* parameter);
// 1 when a version number was read and compared, else 0.
int CheckForNewVersion();

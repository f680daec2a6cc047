// Registry states that tests set up and take down in the test prefix.
#pragma once
#include <windows.h>
#include <string>

// Turns HKLM\path into a key that links to itself, so no one can create or open it
// (Wine ignores key ACLs, but a link loop fails on every platform).
bool BreakKey(const std::wstring& path);
void MendKey(const std::wstring& path);

void DeleteTree(HKEY root, const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& path);

struct StringValue {
    bool Found = false;
    DWORD Type = 0;
    DWORD Bytes = 0;
    std::wstring Text;
};
StringValue ReadValue(HKEY root, const std::wstring& path, const std::wstring& name);

std::wstring CurrentUserName();
// HKLM-relative paths of the settings keys.
std::wstring BaseSettingsPath();
std::wstring UserSettingsPath();

// The registry layout: keys, value names, the string write rule and the reading rules.
#pragma once
#include <windows.h>
#include "app/globals.h"

constexpr wchar_t BaseKeyPath[] = L"SOFTWARE\\" TESSEL_GUID;
// The base key as the registry tool names it.
constexpr wchar_t BaseKeyFullName[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\" TESSEL_GUID;
constexpr wchar_t RunKeyPath[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t RunValueName[] = TESSEL_GUID;
constexpr wchar_t SystemPolicyKeyPath[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t EnableLuaName[] = L"EnableLUA";
constexpr wchar_t CheckForUpdateName[] = L"CheckForUpdate";
constexpr wchar_t StartupFlagOn[] = L"+";
constexpr wchar_t StartupFlagOff[] = L"-";

// Longest text WriteStringValue stores: no terminator within this many characters
// stores an empty value.
constexpr size_t StringValueLimit = 65540;
// Image values: names up to a path buffer, data up to 512 bytes.
constexpr DWORD ImageDataBytes = 512;

// Creates or opens a key with full access; null when no handle came back.
HKEY CreateKey(HKEY parent, const wchar_t* path);

// Opens BaseKey and SettingsKey (falling back to the base key when the user's
// subkey cannot be had); false when either base handle could not be obtained.
bool OpenSettingsKeys();
// Moves SettingsKey from the base key to the user's subkey when that can be had.
void OpenUserSettingsKey(const wchar_t* userName);

int WriteStringValue(HKEY key, const wchar_t* name, const wchar_t* text);
// Forgets one image; a missing value or a null SettingsKey is no error.
void DeleteImageValue(const wchar_t* path);

enum class ImageValue { Found, Skipped, End };

// Reads the value at index of SettingsKey as a disk image entry: its name (the path)
// into name (PathBufferChars), its data into data (ImageDataBytes, cleared first).
ImageValue ReadImageValue(DWORD index, wchar_t* name, BYTE* data);

// Only the first character counts: "+" mounts at startup.
inline bool IsStartupFlagOn(const BYTE* data) {
    return reinterpret_cast<const wchar_t*>(data)[0] == L'+';
}

// CheckForUpdate as a 4-byte word; false when the key is null, the value is missing
// or does not fit 4 bytes.
bool ReadCheckForUpdate(DWORD* value);
// Skipped when the key is null.
void WriteCheckForUpdate(DWORD value);

// The Run value, through the Run key opened for the one call: present only as REG_SZ.
bool IsRunValueSet();
// Stores command as the Run value; false when the key or the write failed.
bool WriteRunValue(const wchar_t* command);
// True also when there was no value to delete.
bool DeleteRunValue();

// User Account Control is on unless EnableLUA says 0 (missing, Windows takes it as on).
bool IsUacOn();

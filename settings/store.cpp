#include "settings/store.h"
#include <cwchar>

HKEY CreateKey(HKEY parent, const wchar_t* path) {
    HKEY key = nullptr;
    RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    return key;
}

bool OpenSettingsKeys() {
    App.BaseKey.reset(CreateKey(HKEY_LOCAL_MACHINE, BaseKeyPath));
    if (!App.BaseKey)
        return false;
    App.SettingsKey.reset(CreateKey(HKEY_LOCAL_MACHINE, BaseKeyPath));
    if (!App.SettingsKey)
        return false;
    DWORD size = ARRAYSIZE(App.UserName);
    GetUserNameW(App.UserName, &size);
    OpenUserSettingsKey(App.UserName);
    return true;
}

void OpenUserSettingsKey(const wchar_t* userName) {
    // An empty name opens the base key once more, so the settings live there.
    if (HKEY userKey = CreateKey(App.SettingsKey.get(), userName))
        App.SettingsKey.reset(userKey);
}

int WriteStringValue(HKEY key, const wchar_t* name, const wchar_t* text) {
    if (!key)
        return 0;
    DWORD size = 0;
    if (text) {
        size_t count = wcsnlen(text, StringValueLimit);
        if (count < StringValueLimit)
            size = static_cast<DWORD>((count + 1) * sizeof(wchar_t));
    }
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) ==
           ERROR_SUCCESS;
}

void DeleteImageValue(const wchar_t* path) {
    if (App.SettingsKey)
        RegDeleteValueW(App.SettingsKey.get(), path);
}

ImageValue ReadImageValue(DWORD index, wchar_t* name, BYTE* data) {
    if (!App.SettingsKey)
        return ImageValue::End;
    DWORD nameChars = PathBufferChars;
    DWORD dataBytes = ImageDataBytes;
    DWORD type = 0;
    // A value without data leaves the buffer alone; cleared, it reads as not marked.
    ZeroMemory(data, ImageDataBytes);
    LSTATUS status = RegEnumValueW(App.SettingsKey.get(), index, name, &nameChars, nullptr, &type,
                                   data, &dataBytes);
    if (status == ERROR_NO_MORE_ITEMS)
        return ImageValue::End;
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return ImageValue::Skipped;
    return ImageValue::Found;
}

bool ReadCheckForUpdate(DWORD* value) {
    *value = 0;
    if (!App.SettingsKey)
        return false;
    DWORD size = sizeof(*value);
    return RegQueryValueExW(App.SettingsKey.get(), CheckForUpdateName, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
}

void WriteCheckForUpdate(DWORD value) {
    if (App.SettingsKey)
        RegSetValueExW(App.SettingsKey.get(), CheckForUpdateName, 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

bool IsRunValueSet() {
    UniqueHkey run(CreateKey(HKEY_LOCAL_MACHINE, RunKeyPath));
    DWORD type = REG_NONE;
    return run &&
           RegQueryValueExW(run.get(), RunValueName, nullptr, &type, nullptr, nullptr) ==
               ERROR_SUCCESS &&
           type == REG_SZ;
}

bool WriteRunValue(const wchar_t* command) {
    UniqueHkey run(CreateKey(HKEY_LOCAL_MACHINE, RunKeyPath));
    return WriteStringValue(run.get(), RunValueName, command) == 1;
}

bool DeleteRunValue() {
    UniqueHkey run(CreateKey(HKEY_LOCAL_MACHINE, RunKeyPath));
    if (!run)
        return false;
    LSTATUS status = RegDeleteValueW(run.get(), RunValueName);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool IsUacOn() {
    DWORD value = 0;
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, SystemPolicyKeyPath, EnableLuaName, RRF_RT_REG_DWORD,
                        nullptr, &value, &size) != ERROR_SUCCESS ||
           value != 0;
}

#include "registry_fixtures.h"
#include <vector>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);

bool BreakKey(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring target = L"\\Registry\\Machine\\" + path;
    LSTATUS status = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                                    reinterpret_cast<const BYTE*>(target.data()),
                                    static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void MendKey(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, DELETE, &key) !=
        ERROR_SUCCESS)
        return;
    NtDeleteKey(key);
    RegCloseKey(key);
}

void DeleteTree(HKEY root, const std::wstring& path) {
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

StringValue ReadValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    StringValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &value.Type, nullptr, &bytes) ==
        ERROR_SUCCESS) {
        std::vector<BYTE> data(bytes + sizeof(wchar_t));
        value.Found = RegQueryValueExW(key, name.c_str(), nullptr, &value.Type, data.data(),
                                       &bytes) == ERROR_SUCCESS;
        value.Bytes = bytes;
        value.Text.assign(reinterpret_cast<const wchar_t*>(data.data()), bytes / sizeof(wchar_t));
        while (!value.Text.empty() && value.Text.back() == L'\0')
            value.Text.pop_back();
    }
    RegCloseKey(key);
    return value;
}

std::wstring CurrentUserName() {
    wchar_t name[260] = {};
    DWORD size = ARRAYSIZE(name);
    GetUserNameW(name, &size);
    return name;
}

std::wstring BaseSettingsPath() {
    return L"SOFTWARE\\{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}";
}

std::wstring UserSettingsPath() {
    return BaseSettingsPath() + L"\\" + CurrentUserName();
}

#include "registry_fixtures.h"
#include <vector>

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

std::wstring BaseSettingsPath() {
    return L"SOFTWARE\\{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}";
}

// Old names, kept until the tests that use them are reshaped.
#pragma once
#include "helpers.h"

struct StringValue {
    bool Found = false;
    DWORD Type = 0;
    DWORD Bytes = 0;
    std::wstring Text;
};
StringValue ReadValue(HKEY root, const std::wstring& path, const std::wstring& name);
std::wstring BaseSettingsPath();

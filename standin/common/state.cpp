#include "state.h"

namespace standin {

const wchar_t* OperationName(Operation op) {
    switch (op) {
    case Operation::Open:
        return L"open";
    case Operation::Attach:
        return L"attach";
    case Operation::Detach:
        return L"detach";
    case Operation::Compact:
        return L"compact";
    case Operation::Info:
        return L"info";
    }
    return L"?";
}

std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

std::wstring StateFolder() {
    std::wstring folder = EnvironmentValue(StateVariable);
    if (folder.empty())
        folder = DefaultStateFolder;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

uint64_t PathKey(const wchar_t* path) {
    DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(path, size, full.data(), nullptr));
    std::wstring upper(full.size(), L'\0');
    if (!full.empty())
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, full.data(), int(full.size()), upper.data(),
                     int(upper.size()));
    uint64_t hash = 0xCBF29CE484222325; // FNV-1a
    for (wchar_t c : upper)
        hash = (hash ^ uint16_t(c)) * 0x100000001B3;
    return hash;
}

static std::wstring KeyedFile(const std::wstring& prefix, const wchar_t* imagePath) {
    wchar_t hex[17];
    uint64_t key = PathKey(imagePath);
    for (int i = 15; i >= 0; --i, key >>= 4)
        hex[i] = L"0123456789abcdef"[key & 15];
    hex[16] = 0;
    return StateFolder() + L"\\" + prefix + hex;
}

std::wstring FaultFile(Operation op, const wchar_t* imagePath) {
    return KeyedFile(std::wstring(L"fault-") + OperationName(op) + L"-", imagePath);
}

std::string ToUtf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size);
    return out;
}

} // namespace standin

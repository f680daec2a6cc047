#include "helpers.h"
#include "settings/store.h"
#include <filesystem>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);

TempFolder::TempFolder() {
    static int counter = 0;
    path_ =
        (std::filesystem::temp_directory_path() /
         ("tessel-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter)))
            .wstring();
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void UseStandinFolder(const TempFolder& folder) {
    SetEnvironmentVariableW(standin::JournalVariable, folder.PathOf(L"journal.txt").c_str());
    SetEnvironmentVariableW(standin::StateVariable, folder.PathOf(L"state").c_str());
}

std::vector<standin::JournalEntry> JournalFor(const std::wstring& path, const wchar_t* op) {
    std::vector<standin::JournalEntry> entries;
    for (standin::JournalEntry& entry : standin::ReadJournal())
        if (lstrcmpiW(entry.Path.c_str(), path.c_str()) == 0 && (!op || entry.Op == op))
            entries.push_back(std::move(entry));
    return entries;
}

std::vector<BYTE> StringData(const std::wstring& text) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<RegistryValue> ReadValues(HKEY root, const std::wstring& path) {
    std::vector<RegistryValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    std::vector<wchar_t> name(32800);
    for (DWORD i = 0;; ++i) {
        DWORD nameChars = DWORD(name.size()), type = 0, size = 0;
        if (RegEnumValueW(key, i, name.data(), &nameChars, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        RegistryValue value{name.data(), type, std::vector<BYTE>(size)};
        nameChars = DWORD(name.size());
        RegEnumValueW(key, i, name.data(), &nameChars, nullptr, &type, value.Data.data(), &size);
        value.Data.resize(size);
        values.push_back(std::move(value));
    }
    RegCloseKey(key);
    return values;
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void DeleteTree(HKEY root, const std::wstring& path) {
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

bool BreakKey(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring target = L"\\Registry\\Machine\\" + path;
    LSTATUS status = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                                    reinterpret_cast<const BYTE*>(target.data()),
                                    DWORD(target.size() * sizeof(wchar_t)));
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

std::wstring UserSettingsPath() {
    wchar_t name[260] = {};
    DWORD size = ARRAYSIZE(name);
    GetUserNameW(name, &size);
    return std::wstring(BaseKeyPath) + L"\\" + name;
}

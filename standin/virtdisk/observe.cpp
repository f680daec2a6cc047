#include "observe.h"

#include <cstdio>
#include <cstdlib>

namespace standin {

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%lX", value);
    return text;
}

void Journal(const wchar_t* op, DWORD code, const std::wstring& path, const std::wstring& fields) {
    std::wstring journal = EnvironmentValue(JournalVariable);
    if (journal.empty())
        return;
    std::wstring line = std::wstring(op) + L"\t" + std::to_wstring(GetCurrentProcessId()) + L"\t" +
                        std::to_wstring(code) + L"\t" + path;
    if (!fields.empty())
        line += L"\t" + fields;
    std::string text = ToUtf8(line + L"\n");
    HANDLE file = CreateFileW(journal.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
}

bool TakeFault(Operation op, const std::wstring& path, DWORD* code) {
    HANDLE file = CreateFileW(FaultFile(op, path.c_str()).c_str(), GENERIC_READ | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char text[32] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    *code = DWORD(strtoul(text, nullptr, 0));
    return true;
}

} // namespace standin

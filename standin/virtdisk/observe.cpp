#include "observe.h"

#include <cstdio>
#include <cstdlib>

namespace standin {

// Another process taking the same fault holds its file for well under a millisecond.
constexpr int FaultWaitLimit = 1000;

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
    // Opened exclusively, so that two processes never both take the last of a count.
    std::wstring name = FaultFile(op, path.c_str());
    HANDLE file;
    for (int wait = 0;; ++wait) {
        file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            wait == FaultWaitLimit)
            break;
        Sleep(1);
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char text[32] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    char* rest = nullptr;
    *code = DWORD(strtoul(text, &rest, 0));
    unsigned long count = strtoul(rest, &rest, 10), skip = strtoul(rest, nullptr, 10);
    if (skip || count > 1) {
        std::string left = std::to_string(*code) + " " + std::to_string(skip ? count : count - 1) +
                           " " + std::to_string(skip ? skip - 1 : 0);
        DWORD written = 0;
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        WriteFile(file, left.data(), DWORD(left.size()), &written, nullptr);
        SetEndOfFile(file);
    } else {
        FILE_DISPOSITION_INFO gone = {TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    }
    CloseHandle(file);
    return !skip;
}

} // namespace standin

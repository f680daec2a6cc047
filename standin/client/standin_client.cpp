#include "standin_client.h"

#include <cwchar>

namespace standin {
namespace {

std::string ReadWholeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::wstring::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::vector<std::wstring> Lines(const std::string& utf8) {
    std::vector<std::wstring> lines;
    for (std::wstring& line : Split(FromUtf8(utf8), L'\n'))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

template <typename Visit> void ForEachStateFile(const wchar_t* prefix, Visit visit) {
    std::wstring folder = StateFolder();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\" + prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        visit(folder + L"\\" + found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

std::wstring JournalEntry::Field(const std::wstring& name) const {
    for (const std::wstring& field : Fields)
        if (field.size() > name.size() && field.compare(0, name.size(), name) == 0 &&
            field[name.size()] == L'=')
            return field.substr(name.size() + 1);
    return {};
}

std::vector<Attachment> ListAttached() {
    std::vector<Attachment> attached;
    ForEachStateFile(LedgerPrefix, [&](const std::wstring& file) {
        const wchar_t* pid = file.c_str() + file.rfind(LedgerPrefix) + wcslen(LedgerPrefix);
        for (const std::wstring& line : Lines(ReadWholeFile(file))) {
            std::vector<std::wstring> parts = Split(line, L'\t');
            bool readOnly = parts[0] == FromUtf8(LedgerReadOnly);
            if (parts.size() == 3 && (readOnly || parts[0] == FromUtf8(LedgerReadWrite)))
                attached.push_back({parts[1], readOnly, DWORD(wcstoul(pid, nullptr, 10))});
        }
    });
    return attached;
}

bool InjectFault(Operation op, const std::wstring& path, DWORD code, unsigned count,
                 unsigned skip) {
    HANDLE file = CreateFileW(FaultFile(op, path.c_str()).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string text =
        std::to_string(code) + " " + std::to_string(count) + " " + std::to_string(skip);
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok;
}

bool ClearFaults() {
    bool ok = true;
    ForEachStateFile(L"fault-",
                     [&](const std::wstring& file) { ok &= DeleteFileW(file.c_str()) != 0; });
    return ok;
}

std::vector<JournalEntry> ReadJournal() {
    std::vector<JournalEntry> entries;
    for (const std::wstring& line : Lines(ReadWholeFile(EnvironmentValue(JournalVariable)))) {
        std::vector<std::wstring> parts = Split(line, L'\t');
        if (parts.size() < 4)
            continue;
        JournalEntry entry;
        entry.Op = parts[0];
        entry.ProcessId = DWORD(wcstoul(parts[1].c_str(), nullptr, 10));
        entry.Code = DWORD(wcstoul(parts[2].c_str(), nullptr, 10));
        entry.Path = parts[3];
        entry.Fields.assign(parts.begin() + 4, parts.end());
        entries.push_back(entry);
    }
    return entries;
}

bool ClearJournal() {
    std::wstring journal = EnvironmentValue(JournalVariable);
    return !journal.empty() &&
           (DeleteFileW(journal.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND);
}

bool ParseOperation(const std::wstring& name, Operation* op) {
    for (Operation candidate : {Operation::Open, Operation::Attach, Operation::Detach,
                                Operation::Compact, Operation::Info})
        if (name == OperationName(candidate)) {
            *op = candidate;
            return true;
        }
    return false;
}

} // namespace standin

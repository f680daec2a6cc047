#include "records.h"

#include <vector>

#include "observe.h"

namespace standin {
namespace {

SRWLOCK Lock = SRWLOCK_INIT;
std::vector<Record*> Records; // guarded by Lock
LONG PipeCounter = 0;

// Closing the caller's end, or a new handle taking its value, ends the record for good.
void CloseRecord(Record* record) {
    if (record->Closed)
        return;
    record->Closed = true;
    Journal(L"close", 0, record->Path, L"");
    EndAttachment(record);
    CloseHandle(record->File);
}

DWORD WINAPI Watch(void* parameter) {
    Record* record = static_cast<Record*>(parameter);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char byte;
    DWORD read;
    // Anything the caller writes is ignored; only the break matters.
    while (ReadFile(record->Pipe, &byte, 1, nullptr, &overlapped) ||
           GetLastError() == ERROR_IO_PENDING) {
        if (!GetOverlappedResult(record->Pipe, &overlapped, &read, TRUE))
            break;
    }
    CloseHandle(overlapped.hEvent);
    {
        RecordLock lock;
        CloseRecord(record);
        std::erase(Records, record);
    }
    CloseHandle(record->Pipe);
    delete record;
    return 0;
}

bool IsAlive(const Record* record) {
    DWORD available = 0;
    return !record->Closed && PeekNamedPipe(record->Pipe, nullptr, 0, nullptr, &available, nullptr);
}

// The watcher threads run in this library until their handle closes: it must stay loaded.
void PinLibrary() {
    HMODULE self;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinLibrary), &self);
}

} // namespace

RecordLock::RecordLock() {
    AcquireSRWLockExclusive(&Lock);
}
RecordLock::~RecordLock() {
    ReleaseSRWLockExclusive(&Lock);
}

DWORD AddRecord(Record* record, HANDLE* handle) {
    wchar_t name[96];
    swprintf(name, 96, L"\\\\.\\pipe\\virtdisk-standin-%lu-%ld", GetCurrentProcessId(),
             InterlockedIncrement(&PipeCounter));
    record->Pipe = CreateNamedPipeW(
        name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 0, 0, nullptr);
    if (record->Pipe == INVALID_HANDLE_VALUE)
        return GetLastError();
    record->CallerEnd = CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (record->CallerEnd == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        CloseHandle(record->Pipe);
        return error;
    }
    PinLibrary();
    for (Record* old : Records)
        if (old->CallerEnd == record->CallerEnd)
            CloseRecord(old); // the caller closed it: the value is free again
    Records.push_back(record);
    HANDLE watcher =
        CreateThread(nullptr, 64 * 1024, Watch, record, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (watcher)
        CloseHandle(watcher);
    *handle = record->CallerEnd;
    return 0;
}

void EndClosedRecords() {
    for (Record* record : Records)
        if (!IsAlive(record))
            CloseRecord(record);
}

Record* FindRecord(HANDLE handle) {
    for (Record* record : Records)
        if (record->CallerEnd == handle && handle && IsAlive(record))
            return record;
    return nullptr;
}

DWORD BeginAttachment(Record* record, bool readOnly) {
    HANDLE marker = CreateFileW(AttachedFile(record->Path.c_str()).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return GetLastError();
    std::string text =
        ToUtf8(std::wstring(readOnly ? L"ro" : L"rw") + L"\t" +
               std::to_wstring(GetCurrentProcessId()) + L"\t" + record->Path + L"\n");
    DWORD written = 0;
    WriteFile(marker, text.data(), DWORD(text.size()), &written, nullptr);
    record->AttachedMarker = marker;
    record->Attached = true;
    record->ReadOnly = readOnly;
    return 0;
}

void EndAttachment(Record* record) {
    if (!record->Attached)
        return;
    CloseHandle(record->AttachedMarker);
    record->AttachedMarker = nullptr;
    record->Attached = false;
    record->ReadOnly = false;
}

} // namespace standin

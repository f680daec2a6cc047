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
}

DWORD WINAPI Watch(void* parameter) {
    Record* record = static_cast<Record*>(parameter);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char byte;
    DWORD read;
    // Anything the caller writes is ignored; only the break matters.
    while (ReadFile(record->Watched, &byte, 1, nullptr, &overlapped) ||
           GetLastError() == ERROR_IO_PENDING) {
        if (!GetOverlappedResult(record->Watched, &overlapped, &read, TRUE))
            break;
    }
    CloseHandle(overlapped.hEvent);
    {
        RecordLock lock;
        CloseRecord(record);
        std::erase(Records, record);
    }
    CloseHandle(record->Watched);
    delete record;
    return 0;
}

bool IsAlive(const Record* record) {
    DWORD available = 0;
    return !record->Closed &&
           PeekNamedPipe(record->Watched, nullptr, 0, nullptr, &available, nullptr);
}

// The watcher threads run in this library until their handle closes: it must stay loaded.
void PinLibrary() {
    HMODULE self;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinLibrary), &self);
}

std::wstring PipeName(const Record* record, bool exclusive) {
    wchar_t name[96];
    if (exclusive)
        swprintf(name, 96, L"\\\\.\\pipe\\virtdisk-standin-image-%016llx",
                 static_cast<unsigned long long>(PathKey(record->Path.c_str())));
    else
        swprintf(name, 96, L"\\\\.\\pipe\\virtdisk-standin-%lu-%ld", GetCurrentProcessId(),
                 InterlockedIncrement(&PipeCounter));
    return name;
}

} // namespace

RecordLock::RecordLock() {
    AcquireSRWLockExclusive(&Lock);
}
RecordLock::~RecordLock() {
    ReleaseSRWLockExclusive(&Lock);
}

DWORD CreateCallerHandle(Record* record, bool exclusive) {
    std::wstring name = PipeName(record, exclusive);
    record->CallerEnd = CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 0, 0, nullptr);
    if (record->CallerEnd == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        record->CallerEnd = nullptr;
        bool taken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
        return exclusive && taken ? ERROR_SHARING_VIOLATION : error;
    }
    record->Watched = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
    if (record->Watched == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        CloseHandle(record->CallerEnd);
        record->CallerEnd = record->Watched = nullptr;
        return error;
    }
    return 0;
}

void DiscardCallerHandle(Record* record) {
    CloseHandle(record->CallerEnd);
    CloseHandle(record->Watched);
}

void AddRecord(Record* record) {
    PinLibrary();
    for (Record* old : Records)
        if (old->CallerEnd == record->CallerEnd)
            CloseRecord(old); // the caller closed it: the value is free again
    Records.push_back(record);
    HANDLE watcher =
        CreateThread(nullptr, 64 * 1024, Watch, record, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (watcher)
        CloseHandle(watcher);
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
    HANDLE image =
        CreateFileW(record->Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (image == INVALID_HANDLE_VALUE)
        return GetLastError();
    HANDLE marker = CreateFileW(AttachedFile(record->Path.c_str()).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        CloseHandle(image);
        return error;
    }
    std::string text =
        ToUtf8(std::wstring(readOnly ? L"ro" : L"rw") + L"\t" +
               std::to_wstring(GetCurrentProcessId()) + L"\t" + record->Path + L"\n");
    DWORD written = 0;
    WriteFile(marker, text.data(), DWORD(text.size()), &written, nullptr);
    record->HeldImage = image;
    record->AttachedMarker = marker;
    record->Attached = true;
    record->ReadOnly = readOnly;
    return 0;
}

void EndAttachment(Record* record) {
    if (!record->Attached)
        return;
    CloseHandle(record->AttachedMarker);
    CloseHandle(record->HeldImage);
    record->AttachedMarker = record->HeldImage = nullptr;
    record->Attached = false;
    record->ReadOnly = false;
}

} // namespace standin

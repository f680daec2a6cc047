#include "records.h"

#include <unordered_map>
#include <vector>

#include "observe.h"

namespace standin {
namespace {

SRWLOCK Lock = SRWLOCK_INIT;
// Guarded by Lock. A value the caller closed may be handed out again before the watcher
// has finished with its old record, so ByHandle holds only the newest record per value.
std::unordered_map<HANDLE, Record*> ByHandle;
std::unordered_map<uint64_t, std::vector<Record*>> ByImage; // open records per path key
HANDLE Port = nullptr;
LONG PipeCounter = 0;

// Closing the caller's end, or a new handle taking its value, ends the record for good.
void CloseRecord(Record* record) {
    if (record->Closed)
        return;
    record->Closed = true;
    Journal(L"close", 0, record->Path, L"");
    EndAttachment(record);
    auto handle = ByHandle.find(record->CallerEnd);
    if (handle != ByHandle.end() && handle->second == record)
        ByHandle.erase(handle);
    auto image = ByImage.find(PathKey(record->Path.c_str()));
    if (image != ByImage.end()) {
        std::erase(image->second, record);
        if (image->second.empty())
            ByImage.erase(image);
    }
}

// True when the read is pending or done: either way a completion will arrive.
bool Arm(Record* record) {
    record->Pending = OVERLAPPED{};
    return ReadFile(record->Watched, &record->Byte, 1, nullptr, &record->Pending) ||
           GetLastError() == ERROR_IO_PENDING;
}

DWORD WINAPI Watch(void*) {
    for (;;) {
        DWORD bytes;
        ULONG_PTR key;
        OVERLAPPED* overlapped = nullptr;
        BOOL read = GetQueuedCompletionStatus(Port, &bytes, &key, &overlapped, INFINITE);
        if (!overlapped)
            return 0; // the port itself failed
        Record* record = reinterpret_cast<Record*>(key);
        RecordLock lock;
        // Anything the caller writes is ignored, and so is the first packet, which only
        // hands the record over; only the break matters.
        if (read && !record->Closed && Arm(record))
            continue;
        CloseRecord(record);
        CloseHandle(record->Watched);
        delete record;
    }
}

bool IsAlive(const Record* record) {
    DWORD available = 0;
    return !record->Closed &&
           PeekNamedPipe(record->Watched, nullptr, 0, nullptr, &available, nullptr);
}

// The watcher runs in this library for as long as the process: it must stay loaded.
DWORD StartWatcher() {
    if (Port)
        return 0;
    HMODULE self;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&StartWatcher), &self);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (!port)
        return GetLastError();
    HANDLE watcher = CreateThread(nullptr, 64 * 1024, Watch, nullptr,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!watcher) {
        DWORD error = GetLastError();
        CloseHandle(port);
        return error;
    }
    CloseHandle(watcher);
    Port = port;
    return 0;
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

DWORD AddRecord(Record* record) {
    if (DWORD error = StartWatcher())
        return error;
    // The watcher issues every read itself: a read may end with the thread that issued it.
    auto key = reinterpret_cast<ULONG_PTR>(record);
    if (!CreateIoCompletionPort(record->Watched, Port, key, 0) ||
        !PostQueuedCompletionStatus(Port, 0, key, &record->Pending))
        return GetLastError();
    auto taken = ByHandle.find(record->CallerEnd);
    if (taken != ByHandle.end())
        CloseRecord(taken->second); // the caller closed it: the value is free again
    ByHandle[record->CallerEnd] = record;
    ByImage[PathKey(record->Path.c_str())].push_back(record);
    return 0;
}

void EndClosedRecords(const std::wstring& path) {
    auto image = ByImage.find(PathKey(path.c_str()));
    if (image == ByImage.end())
        return;
    std::vector<Record*> open = image->second; // closing edits the list
    for (Record* record : open)
        if (!IsAlive(record))
            CloseRecord(record);
}

Record* FindRecord(HANDLE handle) {
    auto found = ByHandle.find(handle);
    if (!handle || found == ByHandle.end())
        return nullptr;
    Record* record = found->second;
    if (IsAlive(record))
        return record;
    CloseRecord(record);
    return nullptr;
}

DWORD BeginAttachment(Record* record, bool readOnly) {
    HANDLE image =
        CreateFileW(record->Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (image == INVALID_HANDLE_VALUE)
        return GetLastError();
    if (DWORD error = AddToLedger(record->Path, readOnly, &record->Listed)) {
        CloseHandle(image);
        return error;
    }
    record->HeldImage = image;
    record->Attached = true;
    record->ReadOnly = readOnly;
    return 0;
}

void EndAttachment(Record* record) {
    if (!record->Attached)
        return;
    RemoveFromLedger(&record->Listed);
    CloseHandle(record->HeldImage);
    record->HeldImage = nullptr;
    record->Attached = false;
    record->ReadOnly = false;
}

} // namespace standin

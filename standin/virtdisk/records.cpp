#include "records.h"

#include <unordered_map>
#include <vector>
#include <winternl.h>

#include "observe.h"

extern "C" NTSTATUS NTAPI NtCreateNamedPipeFile(PHANDLE, ULONG, POBJECT_ATTRIBUTES,
                                                PIO_STATUS_BLOCK, ULONG, ULONG, ULONG, ULONG, ULONG,
                                                ULONG, ULONG, ULONG, ULONG, PLARGE_INTEGER);

namespace standin {
namespace {

SRWLOCK Lock = SRWLOCK_INIT;
// Guarded by Lock. A value the caller closed may be handed out again before the watcher
// has finished with its old record, so ByHandle holds only the newest record per value.
std::unordered_map<HANDLE, Record*> ByHandle;
std::unordered_map<uint64_t, std::vector<Record*>> ByImage; // open records per path key
HANDLE Port = nullptr;
HANDLE PipeDevice = nullptr; // unnamed pipes are made relative to it

// Closing the caller's end, or a new handle taking its value, ends the record for good.
void CloseRecord(Record* record) {
    if (record->Closed)
        return;
    record->Closed = true;
    Journal(L"close", 0, record->Path, L"");
    EndAttachment(record);
    if (record->Claim)
        CloseHandle(record->Claim);
    record->Claim = nullptr;
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

// The port comes as the parameter: the thread may run before StartWatcher sets Port.
DWORD WINAPI Watch(void* port) {
    for (;;) {
        DWORD bytes;
        ULONG_PTR key;
        OVERLAPPED* overlapped = nullptr;
        BOOL read = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, INFINITE);
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
    HANDLE watcher =
        CreateThread(nullptr, 64 * 1024, Watch, port, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!watcher) {
        DWORD error = GetLastError();
        CloseHandle(port);
        return error;
    }
    CloseHandle(watcher);
    Port = port;
    return 0;
}

// An unnamed pipe: unlike a named one it costs no search of the system-wide pipe names.
DWORD MakePipe(HANDLE* writeEnd, HANDLE* readEnd) {
    if (!PipeDevice) {
        PipeDevice =
            CreateFileW(L"\\\\.\\pipe\\", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (PipeDevice == INVALID_HANDLE_VALUE) {
            PipeDevice = nullptr;
            return GetLastError();
        }
    }
    UNICODE_STRING noName = {};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &noName, 0, PipeDevice, nullptr);
    IO_STATUS_BLOCK io;
    LARGE_INTEGER timeout = {};
    timeout.QuadPart = -10'000'000; // relative, 1 s; no one waits on it
    HANDLE write = nullptr, read = nullptr;
    NTSTATUS status = NtCreateNamedPipeFile(
        &write, GENERIC_WRITE | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io,
        FILE_SHARE_READ, FILE_CREATE, FILE_SYNCHRONOUS_IO_NONALERT, 0, 0, 0, 1, 0, 0, &timeout);
    if (status)
        return RtlNtStatusToDosError(status);
    // The read end, opened relative to the write end, is asynchronous for the watcher.
    attributes.RootDirectory = write;
    status =
        NtCreateFile(&read, GENERIC_READ | SYNCHRONIZE | FILE_WRITE_ATTRIBUTES, &attributes, &io,
                     nullptr, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, 0, nullptr, 0);
    if (status) {
        CloseHandle(write);
        return RtlNtStatusToDosError(status);
    }
    *writeEnd = write;
    *readEnd = read;
    return 0;
}

// Only one holder of an image's name, in any process: the name goes with its last handle.
DWORD ClaimImage(Record* record) {
    wchar_t name[64];
    swprintf(name, 64, L"virtdisk-standin-image-%016llx",
             static_cast<unsigned long long>(PathKey(record->Path.c_str())));
    HANDLE claim = CreateMutexW(nullptr, FALSE, name);
    if (!claim)
        return GetLastError();
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return ERROR_SHARING_VIOLATION;
    }
    record->Claim = claim;
    return 0;
}

} // namespace

RecordLock::RecordLock() {
    AcquireSRWLockExclusive(&Lock);
}
RecordLock::~RecordLock() {
    ReleaseSRWLockExclusive(&Lock);
}

DWORD CreateCallerHandle(Record* record, bool exclusive) {
    if (exclusive)
        if (DWORD error = ClaimImage(record))
            return error;
    DWORD error = MakePipe(&record->CallerEnd, &record->Watched);
    if (error)
        DiscardCallerHandle(record);
    return error;
}

void DiscardCallerHandle(Record* record) {
    for (HANDLE* owned : {&record->CallerEnd, &record->Watched, &record->Claim}) {
        if (*owned)
            CloseHandle(*owned);
        *owned = nullptr;
    }
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
    // The image goes before the ledger line: once a process's ledger is gone, its stand-in
    // holds no file of the state folder or of the images.
    CloseHandle(record->HeldImage);
    record->HeldImage = nullptr;
    RemoveFromLedger(&record->Listed);
    record->Attached = false;
    record->ReadOnly = false;
}

} // namespace standin

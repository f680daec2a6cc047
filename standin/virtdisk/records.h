// Open virtual disk handles. The caller's handle is the client end of a private named pipe:
// when the caller closes it, a watcher thread sees the pipe break and ends the attachment,
// although CloseHandle itself never reaches this library.
#pragma once
#include <string>
#include <windows.h>

#include "images.h"

namespace standin {

struct Record {
    HANDLE CallerEnd = nullptr; // the value handed out
    HANDLE Pipe = nullptr;      // our end, overlapped
    HANDLE File = nullptr;      // the image file
    std::wstring Path;
    DWORD Access = 0;
    ImageInfo Info;
    bool Attached = false;
    bool ReadOnly = false;
    HANDLE AttachedMarker = nullptr; // delete-on-close file in the state folder
    bool Closed = false;
};

// Every call below holds this lock for its whole length; watchers take it too.
class RecordLock {
  public:
    RecordLock();
    ~RecordLock();
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;
};

// Takes ownership of record->File; on success *handle is the caller's end.
DWORD AddRecord(Record* record, HANDLE* handle);
// Ends the records whose caller closed the handle, without waiting for their watchers:
// a closed handle frees its image at once, as on the platform.
void EndClosedRecords();
// The live record for a caller's handle, or null (also for a handle the caller closed).
Record* FindRecord(HANDLE handle);
// Marks the image attached in the state folder, where other processes can list it.
DWORD BeginAttachment(Record* record, bool readOnly);
void EndAttachment(Record* record);

} // namespace standin

// Open virtual disk handles. The caller's handle is the write end of an unnamed pipe whose
// read end this library reads: when the caller closes its handle, the read breaks and a
// watcher thread ends the record, although CloseHandle never reaches this library.
// One watcher serves every handle through a completion port, so a process with a thousand
// handles does not carry a thousand thread stacks.
// A handle that may attach or change the image claims a mutex named after the image, which
// only one handle at a time can hold, in any process; the record gives it up when it ends.
// Every step costs the same however many handles are open. The image file itself is held
// only while attached.
#pragma once
#include <string>
#include <windows.h>

#include "images.h"
#include "ledger.h"

namespace standin {

struct Record {
    HANDLE CallerEnd = nullptr; // the value handed out
    HANDLE Watched = nullptr;   // our end, overlapped
    HANDLE Claim = nullptr;     // for ATTACH_RO, ATTACH_RW or METAOPS access: the image's name
    OVERLAPPED Pending{};       // the read that breaks when the caller closes its end
    char Byte = 0;
    std::wstring Path;
    DWORD Access = 0;
    ImageInfo Info;
    bool Attached = false;
    bool ReadOnly = false;
    HANDLE HeldImage = nullptr; // while attached: the image, not deletable
    LedgerSlot Listed;          // while attached: its line in the ledger
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

// Makes the caller's handle; ERROR_SHARING_VIOLATION when an exclusive one exists.
DWORD CreateCallerHandle(Record* record, bool exclusive);
void DiscardCallerHandle(Record* record);
// Starts watching the record, which from now on belongs to this module; on failure the
// record is still the caller's to discard.
DWORD AddRecord(Record* record);
// Ends this image's records whose caller closed the handle, without waiting for the watcher.
void EndClosedRecords(const std::wstring& path);
// The live record for a caller's handle, or null (also for a handle the caller closed).
Record* FindRecord(HANDLE handle);
// Holds the image and writes it into the ledger, where others can list it.
DWORD BeginAttachment(Record* record, bool readOnly);
void EndAttachment(Record* record);

} // namespace standin

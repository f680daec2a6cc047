// For tests and scripts: what the stand-in virtual disk service has done and holds now,
// and faults to plant in it. Works across processes through the journal and state folder.
#pragma once
#include <string>
#include <vector>
#include <windows.h>

#include "standin/common/state.h"

namespace standin {

struct Attachment {
    std::wstring Path;
    bool ReadOnly = false;
    DWORD ProcessId = 0;
};

struct JournalEntry {
    std::wstring Op; // open, attach, detach, compact, info, close
    DWORD ProcessId = 0;
    DWORD Code = 0;
    std::wstring Path;
    std::vector<std::wstring> Fields; // name=value

    // The value of a name=value field; empty when absent.
    std::wstring Field(const std::wstring& name) const;
};

// Images attached now, by any process.
std::vector<Attachment> ListAttached();
// After `skip` calls that go through, the next `count` calls of `op` on this image fail with
// `code` (as the image path is given); later calls go through.
bool InjectFault(Operation op, const std::wstring& path, DWORD code, unsigned count = 1,
                 unsigned skip = 0);
bool ClearFaults();
// The journal named by VIRTDISK_STANDIN_JOURNAL.
std::vector<JournalEntry> ReadJournal();
bool ClearJournal();

bool ParseOperation(const std::wstring& name, Operation* op);

} // namespace standin

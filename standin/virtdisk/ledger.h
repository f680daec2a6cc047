// The attachments of this process, where other processes can list them: one ledger file per
// process and state folder (standin/common/state.h), held open delete-on-close, so that it
// goes with the process. Each attachment is one line in a slot of its own, written in
// place: attach and detach cost the same however many images are attached. (A file per
// attachment did not: Wine matches a new name against every name in the folder.)
// Callers hold the RecordLock.
#pragma once
#include <cstdint>
#include <string>
#include <windows.h>

namespace standin {

struct Ledger;

struct LedgerSlot {
    Ledger* Owner = nullptr; // null while not in a ledger
    uint64_t Offset = 0;
    unsigned SizeClass = 0;
};

// Writes the attachment into this process's ledger of the current state folder.
DWORD AddToLedger(const std::wstring& path, bool readOnly, LedgerSlot* slot);
void RemoveFromLedger(LedgerSlot* slot);

} // namespace standin

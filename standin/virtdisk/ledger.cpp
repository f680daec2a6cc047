#include "ledger.h"

#include <memory>
#include <vector>

#include "images.h"
#include "standin/common/state.h"

namespace standin {

// Slots are 2^SizeClass bytes, from 64 up to what the longest path needs; a freed slot is
// reused by the next attachment of its size.
constexpr unsigned SmallestClass = 6, ClassCount = 20;

struct Ledger {
    std::wstring Folder;
    HANDLE File = nullptr;
    uint64_t End = 0;
    std::vector<uint64_t> Free[ClassCount];
    size_t Live = 0;
};

namespace {

std::vector<std::unique_ptr<Ledger>> Ledgers; // one per state folder in use

Ledger* LedgerOf(const std::wstring& folder) {
    for (const auto& ledger : Ledgers)
        if (ledger->Folder == folder)
            return ledger.get();
    std::wstring name = folder + L"\\" + LedgerPrefix + std::to_wstring(GetCurrentProcessId());
    HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    Ledgers.push_back(std::make_unique<Ledger>());
    Ledgers.back()->Folder = folder;
    Ledgers.back()->File = file;
    return Ledgers.back().get();
}

// The last attachment gone, the ledger goes too, and with it the file.
void DropIfEmpty(Ledger* ledger) {
    if (ledger->Live)
        return;
    CloseHandle(ledger->File);
    std::erase_if(Ledgers, [&](const auto& held) { return held.get() == ledger; });
}

} // namespace

DWORD AddToLedger(const std::wstring& path, bool readOnly, LedgerSlot* slot) {
    // Written free first, then marked live: a reader never sees half a line as live.
    std::string line = std::string(LedgerFree) + "\t" + ToUtf8(path) + "\t";
    unsigned sizeClass = SmallestClass;
    while ((size_t(1) << sizeClass) < line.size() + 1)
        ++sizeClass;
    if (sizeClass >= ClassCount)
        return ERROR_FILENAME_EXCED_RANGE;
    line.resize((size_t(1) << sizeClass) - 1, ' ');
    line += '\n';
    Ledger* ledger = LedgerOf(StateFolder());
    if (!ledger)
        return GetLastError();
    std::vector<uint64_t>& free = ledger->Free[sizeClass];
    uint64_t offset = ledger->End;
    if (free.empty())
        ledger->End += line.size();
    else {
        offset = free.back();
        free.pop_back();
    }
    const char* mark = readOnly ? LedgerReadOnly : LedgerReadWrite;
    if (!WriteAt(ledger->File, offset, line.data(), line.size()) ||
        !WriteAt(ledger->File, offset, mark, 2)) {
        DWORD error = GetLastError();
        free.push_back(offset);
        DropIfEmpty(ledger);
        return error;
    }
    ++ledger->Live;
    *slot = {ledger, offset, sizeClass};
    return 0;
}

void RemoveFromLedger(LedgerSlot* slot) {
    Ledger* ledger = slot->Owner;
    WriteAt(ledger->File, slot->Offset, LedgerFree, 2);
    ledger->Free[slot->SizeClass].push_back(slot->Offset);
    --ledger->Live;
    DropIfEmpty(ledger);
    *slot = {};
}

} // namespace standin

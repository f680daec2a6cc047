// Where the stand-in keeps what other processes can see: the journal, the attachments
// and the pending faults. Shared by the stand-in and its client.
#pragma once
#include <cstdint>
#include <string>
#include <windows.h>

namespace standin {

constexpr wchar_t JournalVariable[] = L"VIRTDISK_STANDIN_JOURNAL";
constexpr wchar_t StateVariable[] = L"VIRTDISK_STANDIN_STATE";
constexpr wchar_t DefaultStateFolder[] = L"C:\\virtdisk-standin";
// The attachments of process <pid> in this state folder: lines of "ro|rw<TAB>path<TAB>"
// padded with blanks; a line that begins with "--" is free.
constexpr wchar_t LedgerPrefix[] = L"attached-";
constexpr char LedgerReadOnly[] = "ro", LedgerReadWrite[] = "rw", LedgerFree[] = "--";

enum class Operation { Open, Attach, Detach, Compact, Info };
const wchar_t* OperationName(Operation op);

std::wstring EnvironmentValue(const wchar_t* name);
// The state folder, created when missing.
std::wstring StateFolder();
// Same file, same key: full path, upper case, hashed.
uint64_t PathKey(const wchar_t* path);
std::wstring FaultFile(Operation op, const wchar_t* imagePath);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

} // namespace standin

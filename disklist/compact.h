// The compaction commands: each visited row is compacted in list order and keeps what it
// stores; only its status shows the progress and the outcome.
#pragma once
#include <windows.h>

constexpr wchar_t CompactConfirmText[] =
    L"Compacting can take a long time,\r\ndepending of your VHD-disk size.\r\nTessel window may "
    L"not response for this time,\r\nPlease don't force close Tessel while compacting is "
    L"work.\r\nContinue ?";
constexpr wchar_t CompactConfirmCaption[] = L"Confirmation";
// No is the default: the run cannot be cancelled once it has begun.
constexpr UINT CompactConfirmFlags = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;

// Status column texts of a run.
constexpr wchar_t StatusCompactWait[] = L"Compacting, please wait ...";
constexpr wchar_t StatusDetachError[] = L"Mounted, detaching error";
constexpr wchar_t StatusMountedCompacting[] = L"Mounted, compacting ...";
constexpr wchar_t StatusMountedCompacted[] = L"Mounted, compacting done";
constexpr wchar_t StatusMountedCompactError[] = L"Mounted, compacting error";
constexpr wchar_t StatusUnmountedCompacting[] = L"Unmounted, compacting ...";
constexpr wchar_t StatusUnmountedCompacted[] = L"Unmounted, compacting done";
constexpr wchar_t StatusUnmountedCompactError[] = L"Unmounted, compacting error";
constexpr wchar_t StatusNoFileName[] = L"Error getting VHD file name";

void CompactSelectedDisks();
void CompactAllDisks();

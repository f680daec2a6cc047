// Compaction that gives back the space of deleted files. Detached, the service only drops
// blocks that are all zeros; attached read-only for the whole compaction it reads the file
// system and frees what it no longer uses. Like the other disk image operations these return
// 1 on success and 0 on failure, with the code in App.LastDiskError.
#pragma once
#include <windows.h>

// True when the service reports the opened image as an ISO image, which nothing compacts.
bool IsIsoImage(HANDLE handle);
// Attaches the detached image read-only and without drive letters, so that no volume
// appears to the user for the moment, compacts it and detaches it again; the first failure's
// code is kept. An ISO image is not attached: its compaction fails as the service decides.
int CompactDiskImageAttached(HANDLE handle);

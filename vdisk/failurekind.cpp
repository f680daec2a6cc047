#include "vdisk/failurekind.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "app/unique_any.h"
#include "vdisk/imagepath.h"

namespace {

// A scanner or backup agent holding the file gives 5 as often as 32, but so does a real
// access list: three tries tell them apart.
constexpr unsigned AccessDeniedTries = 3;

constexpr DWORD NetworkCodes[] = {
    ERROR_BAD_NETPATH,        ERROR_NETNAME_DELETED,     ERROR_BAD_NET_NAME,     ERROR_SEM_TIMEOUT,
    ERROR_NO_NET_OR_BAD_PATH, ERROR_NETWORK_UNREACHABLE, ERROR_HOST_UNREACHABLE,
};
static_assert(ERROR_BAD_NETPATH == 53 && ERROR_NETNAME_DELETED == 64 && ERROR_BAD_NET_NAME == 67 &&
              ERROR_SEM_TIMEOUT == 121 && ERROR_NO_NET_OR_BAD_PATH == 1203 &&
              ERROR_NETWORK_UNREACHABLE == 1231 && ERROR_HOST_UNREACHABLE == 1232);

constexpr DWORD MissingCodes[] = {
    ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE,
    ERROR_NOT_READY,      ERROR_DEV_NOT_EXIST,
};
static_assert(ERROR_INVALID_DRIVE == 15 && ERROR_NOT_READY == 21 && ERROR_DEV_NOT_EXIST == 55);

bool IsOneOf(DWORD code, const DWORD* first, const DWORD* last) {
    return std::find(first, last, code) != last;
}

} // namespace

FailureKind ClassifyDiskFailure(DWORD code, bool volumePresent, unsigned tries) {
    if (IsOneOf(code, std::begin(NetworkCodes), std::end(NetworkCodes)))
        return FailureKind::Network;
    if (!volumePresent || IsOneOf(code, std::begin(MissingCodes), std::end(MissingCodes)))
        return FailureKind::WaitingForDrive;
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
        return FailureKind::Busy;
    if (code == ERROR_ACCESS_DENIED && tries < AccessDeniedTries)
        return FailureKind::Busy;
    return FailureKind::Permanent;
}

bool ImageVolumePresent(const wchar_t* path) {
    size_t rootLength = VolumeRootLength(path);
    if (!rootLength)
        return true; // not a full path: no volume to wait for
    DWORD chars = DWORD(wcslen(path) + 2);
    UniqueHeapText root(
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, chars * sizeof(wchar_t))));
    if (!root)
        return false;
    // The deepest mount point (a drive mounted in a folder) when the system names one within
    // the path; for a drive that is gone it names the boot volume instead, so then the root as
    // written stands.
    if (!GetVolumePathNameW(path, root.get(), chars) || wcslen(root.get()) < rootLength ||
        _wcsnicmp(root.get(), path, rootLength) != 0) {
        wmemcpy(root.get(), path, rootLength);
        root.get()[rootLength] = L'\0';
    }
    // An empty card reader or optical drive must not bring up the system's "insert a disk" box.
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
    bool present = GetFileAttributesW(root.get()) != INVALID_FILE_ATTRIBUTES;
    SetThreadErrorMode(previousMode, nullptr);
    return present;
}

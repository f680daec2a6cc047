#include "vdisk/diskimage.h"

#include <algorithm>
#include <iterator>

#include "app/globals.h"
#include "vdisk/imagepath.h"
#include "vdisk/imagetype.h"
#include "vdisk/virtdisk_api.h"

namespace {

// For codes the system's message table has no text for: decimal, then hexadecimal.
constexpr wchar_t UnknownErrorFormat[] = L"Unknown error %lu (0x%08lX).";

constexpr DWORD FormatFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
static_assert(FormatFlags == 0x1300);
constexpr DWORD UserDefaultLanguage = 0x400;

struct ProbeStep {
    DWORD DeviceId;
    VIRTUAL_DISK_ACCESS_MASK Access;
};

constexpr ProbeStep ProbeOrder[] = {
    {VIRTUAL_STORAGE_TYPE_DEVICE_VHD, VIRTUAL_DISK_ACCESS_ALL},
    {VIRTUAL_STORAGE_TYPE_DEVICE_VHDX, VIRTUAL_DISK_ACCESS_ALL},
    {VIRTUAL_STORAGE_TYPE_DEVICE_ISO, VIRTUAL_DISK_ACCESS_READ},
};
static_assert(VIRTUAL_DISK_ACCESS_ALL == 0x3F0000 && VIRTUAL_DISK_ACCESS_READ == 0xD0000);

// ERROR_VIRTDISK_PROVIDER_NOT_FOUND and ERROR_VIRTDISK_NOT_VIRTUAL_DISK, which MinGW's
// headers do not name.
constexpr DWORD ErrorVirtdiskProviderNotFound = 0xC03A0014,
                ErrorVirtdiskNotVirtualDisk = 0xC03A0015;

// What a probe of the wrong type answers: the file is not of its type, which explains nothing.
constexpr DWORD NotThisType[] = {ErrorVirtdiskProviderNotFound, ErrorVirtdiskNotVirtualDisk,
                                 ERROR_FILE_CORRUPT};

bool IsNotThisType(DWORD code) {
    return std::find(std::begin(NotThisType), std::end(NotThisType), code) != std::end(NotThisType);
}

bool TryOpen(const ProbeStep& step, const wchar_t* path, HANDLE* handle) {
    VIRTUAL_STORAGE_TYPE type = {step.DeviceId, VIRTUAL_STORAGE_TYPE_VENDOR_MICROSOFT};
    App.LastDiskError =
        VirtDiskOpen(&type, path, step.Access, OPEN_VIRTUAL_DISK_FLAG_NONE, nullptr, handle);
    return App.LastDiskError == ERROR_SUCCESS;
}

// A file without a signature may still be an image the service knows better: each type in
// turn, keeping the first code that says more than "not this type".
bool ProbeEachType(const wchar_t* path, HANDLE* handle) {
    DWORD reason = ERROR_SUCCESS;
    for (const ProbeStep& step : ProbeOrder) {
        if (TryOpen(step, path, handle))
            return true;
        if (reason == ERROR_SUCCESS || (IsNotThisType(reason) && !IsNotThisType(App.LastDiskError)))
            reason = App.LastDiskError;
    }
    App.LastDiskError = reason;
    return false;
}

} // namespace

int OpenDiskImage(const wchar_t* path, HANDLE* handle) {
    if (!IsImageFilePath(path)) {
        App.LastDiskError = ERROR_BAD_PATHNAME;
        return 0;
    }
    // Before Windows 8 the service knows VHD only.
    if (!App.WindowsEightOrLater)
        return TryOpen(ProbeOrder[0], path, handle);
    DWORD device = VIRTUAL_STORAGE_TYPE_DEVICE_UNKNOWN;
    App.LastDiskError = ReadImageType(path, &device);
    if (App.LastDiskError != ERROR_SUCCESS)
        return 0;
    for (const ProbeStep& step : ProbeOrder)
        if (step.DeviceId == device)
            return TryOpen(step, path, handle);
    return ProbeEachType(path, handle);
}

int AttachDiskImage(HANDLE handle) {
    // A failed query leaves the record zero, and the attach's own result decides.
    GET_VIRTUAL_DISK_INFO storage = {};
    storage.Version = GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE;
    ULONG size = sizeof storage;
    VirtDiskGetInformation(handle, &size, &storage, nullptr);
    ATTACH_VIRTUAL_DISK_FLAG flags =
        storage.VirtualStorageType.DeviceId == VIRTUAL_STORAGE_TYPE_DEVICE_ISO
            ? ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY
            : ATTACH_VIRTUAL_DISK_FLAG_NONE;
    ATTACH_VIRTUAL_DISK_PARAMETERS parameters = {};
    parameters.Version = ATTACH_VIRTUAL_DISK_VERSION_1;
    App.LastDiskError = VirtDiskAttach(handle, nullptr, flags, 0, &parameters, nullptr);
    return App.LastDiskError == ERROR_SUCCESS;
}

int CompactDiskImage(HANDLE handle) {
    COMPACT_VIRTUAL_DISK_PARAMETERS parameters = {};
    parameters.Version = COMPACT_VIRTUAL_DISK_VERSION_1;
    App.LastDiskError =
        VirtDiskCompact(handle, COMPACT_VIRTUAL_DISK_FLAG_NONE, &parameters, nullptr);
    return App.LastDiskError == ERROR_SUCCESS;
}

int QueryDiskInfo(HANDLE handle, DWORD kind) {
    App.DiskInfo = {};
    App.DiskInfo.Version = GET_VIRTUAL_DISK_INFO_VERSION(kind);
    ULONG size = sizeof App.DiskInfo;
    return VirtDiskGetInformation(handle, &size, &App.DiskInfo, nullptr) == ERROR_SUCCESS;
}

DWORD DetachDiskImage(HANDLE handle) {
    return VirtDiskDetach(handle, DETACH_VIRTUAL_DISK_FLAG_NONE, 0);
}

void ShowSystemError(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FormatFlags, nullptr, code, UserDefaultLanguage, reinterpret_cast<LPWSTR>(&text),
                   0, nullptr);
    if (text) {
        MessageBoxW(nullptr, text, ErrorCaption, MB_ICONERROR);
        LocalFree(text);
        return;
    }
    wchar_t fallback[64];
    wsprintfW(fallback, UnknownErrorFormat, code, code);
    MessageBoxW(nullptr, fallback, ErrorCaption, MB_ICONERROR);
}

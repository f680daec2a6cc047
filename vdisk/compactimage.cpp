#include "vdisk/compactimage.h"

#include "app/globals.h"
#include "vdisk/diskimage.h"
#include "vdisk/virtdisk_api.h"

namespace {

constexpr ATTACH_VIRTUAL_DISK_FLAG CompactionAttachFlags = ATTACH_VIRTUAL_DISK_FLAG(
    ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY | ATTACH_VIRTUAL_DISK_FLAG_NO_DRIVE_LETTER);

int AttachDiskImageForCompaction(HANDLE handle) {
    ATTACH_VIRTUAL_DISK_PARAMETERS parameters = {};
    parameters.Version = ATTACH_VIRTUAL_DISK_VERSION_1;
    App.LastDiskError =
        VirtDiskAttach(handle, nullptr, CompactionAttachFlags, 0, &parameters, nullptr);
    return App.LastDiskError == ERROR_SUCCESS;
}

} // namespace

bool IsIsoImage(HANDLE handle) {
    // A failed query counts as not ISO: the calls that follow report their own failure.
    GET_VIRTUAL_DISK_INFO storage = {};
    storage.Version = GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE;
    ULONG size = sizeof storage;
    return VirtDiskGetInformation(handle, &size, &storage, nullptr) == ERROR_SUCCESS &&
           storage.VirtualStorageType.DeviceId == VIRTUAL_STORAGE_TYPE_DEVICE_ISO;
}

int CompactDiskImageAttached(HANDLE handle) {
    if (IsIsoImage(handle))
        return CompactDiskImage(handle);
    if (!AttachDiskImageForCompaction(handle))
        return 0;
    bool compacted = CompactDiskImage(handle);
    DWORD compactCode = App.LastDiskError;
    DWORD detachCode = DetachDiskImage(handle);
    App.LastDiskError = compacted ? detachCode : compactCode;
    return App.LastDiskError == ERROR_SUCCESS;
}

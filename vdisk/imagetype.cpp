#include "vdisk/imagetype.h"

#include <cstring>
#include <virtdisk.h>

namespace {

// VHD: the footer's cookie in the last 512 bytes (511 in images from before Virtual PC 2004),
// and in a copy at offset 0 in dynamic and differencing disks. VHDX: the file type identifier
// at 0. ISO 9660 and UDF: the first volume descriptor at sector 16, its identifier at byte 1.
constexpr char VhdCookie[] = "conectix";
constexpr char VhdxSignature[] = "vhdxfile";
constexpr char IsoIdentifier[] = "CD001";
constexpr char UdfIdentifier[] = "BEA01";
constexpr DWORD SignatureSize = 8, IdentifierSize = 5;
constexpr DWORD VhdFooterSize = 512;
constexpr ULONGLONG IdentifierOffset = 16 * 2048 + 1;

bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size) {
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, &at) && read == size;
}

bool Holds(const char* bytes, const char* signature) {
    return memcmp(bytes, signature, strlen(signature)) == 0;
}

DWORD TypeOfOpenFile(HANDLE file) {
    char start[SignatureSize] = {};
    if (ReadAt(file, 0, start, sizeof start)) {
        if (Holds(start, VhdxSignature))
            return VIRTUAL_STORAGE_TYPE_DEVICE_VHDX;
        if (Holds(start, VhdCookie))
            return VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
    }
    LARGE_INTEGER size = {};
    char footer[VhdFooterSize] = {};
    if (GetFileSizeEx(file, &size) && ULONGLONG(size.QuadPart) >= VhdFooterSize &&
        ReadAt(file, size.QuadPart - VhdFooterSize, footer, sizeof footer) &&
        (Holds(footer, VhdCookie) || Holds(footer + 1, VhdCookie)))
        return VIRTUAL_STORAGE_TYPE_DEVICE_VHD;
    char identifier[IdentifierSize] = {};
    if (ReadAt(file, IdentifierOffset, identifier, sizeof identifier) &&
        (Holds(identifier, IsoIdentifier) || Holds(identifier, UdfIdentifier)))
        return VIRTUAL_STORAGE_TYPE_DEVICE_ISO;
    return VIRTUAL_STORAGE_TYPE_DEVICE_UNKNOWN;
}

} // namespace

DWORD ReadImageType(const wchar_t* path, DWORD* device) {
    // Shared every way, so that reading never stands in the way of the service or the holder.
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    *device = TypeOfOpenFile(file);
    CloseHandle(file);
    return ERROR_SUCCESS;
}

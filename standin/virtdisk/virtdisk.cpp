// A stand-in for the platform's virtual disk service (virtdisk.dll) for test machines
// without one. It reads real image files and answers as the service does; attaching makes
// no drive, it only records the attachment where other processes can see it.
//
// Refusal codes, checked in this order within each call. [doc] the VirtDisk reference,
// [rep] reported from real systems, [own] chosen here as the closest real code.
//
// Any call
//   87   ERROR_INVALID_PARAMETER   null pointer, unknown flag or access bit, parameter
//                                  Version unknown, handle not from OpenVirtualDisk or
//                                  already closed                                  [doc]
//   50   ERROR_NOT_SUPPORTED       an OVERLAPPED was passed: this stand-in only
//                                  completes calls synchronously                   [own]
//   any  planted fault (standin/README.md)
//   5    ERROR_ACCESS_DENIED       the handle's access mask lacks the right the call
//                                  needs (ATTACH_RO/RW, DETACH, METAOPS, GET_INFO)  [own]
// OpenVirtualDisk
//   0xC03A0014 ERROR_VIRTDISK_PROVIDER_NOT_FOUND  vendor not Microsoft, device not
//                                  ISO (1), VHD (2) or VHDX (3)                     [own]
//   50   ERROR_NOT_SUPPORTED       ISO with ATTACH_RW, METAOPS or CREATE access: the
//                                  reference calls these "not supported" for ISO   [doc]
//   2, 3, 5, 32 ...                what opening the file gave: missing file [rep],
//                                  missing folder, access denied, and
//   32   ERROR_SHARING_VIOLATION   already open elsewhere (any process) with
//                                  ATTACH_RO, ATTACH_RW or METAOPS while this request
//                                  asks for one of them                            [doc]
//   ISO: 1392 ERROR_FILE_CORRUPT   size not a multiple of 2048, below 34,816 bytes, or
//                                  no CD001/BEA01 at sector 16                     [doc]
//   VHD: 0xC03A0015 ERROR_VIRTDISK_NOT_VIRTUAL_DISK  no footer cookie (text file,
//                                  VHDX, ISO, empty file)                          [own]
//        0xC03A0001 ERROR_VHD_DRIVE_FOOTER_MISSING  the footer is gone but the copy at
//                                  offset 0 is there (file cut short)              [own]
//        0xC03A0002 ERROR_VHD_DRIVE_FOOTER_CHECKSUM_MISMATCH                        [own]
//        0xC03A0005 ERROR_VHD_FORMAT_UNSUPPORTED_VERSION                            [own]
//        0xC03A0004 ERROR_VHD_FORMAT_UNKNOWN  disk type not 2, 3 or 4               [own]
//        0xC03A0013 ERROR_VHD_INVALID_FILE_SIZE  fixed disk shorter than its size   [own]
//        0xC03A0008 ERROR_VHD_SPARSE_HEADER_CORRUPT, 0xC03A0006 ..._CHECKSUM_MISMATCH,
//        0xC03A000B ERROR_VHD_INVALID_BLOCK_SIZE,
//        0xC03A000A ERROR_VHD_BLOCK_ALLOCATION_TABLE_CORRUPT                        [own]
//        0xC03A000D ERROR_VHD_PARENT_VHD_NOT_FOUND, 0xC03A000E
//                   ERROR_VHD_CHILD_PARENT_ID_MISMATCH  differencing disk's parent  [own]
//   VHDX: 0xC03A0015 no "vhdxfile" identifier (VHD, ISO, text, empty)               [own]
//        1392 ERROR_FILE_CORRUPT   no valid header, region table or metadata; a
//                                  damaged VHDX gave 0x80070570, the HRESULT of 1392 [rep]
// AttachVirtualDisk
//   1314 ERROR_PRIVILEGE_NOT_HELD  token lacks SE_MANAGE_VOLUME_PRIVILEGE (held, not
//                                  necessarily enabled)                        [doc][rep]
//   0xC03A001C ERROR_VHD_INVALID_STATE  already attached                           [own]
//   50   ERROR_NOT_SUPPORTED       ISO without ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY ("not
//                                  supported" for ISO), PERMANENT_LIFETIME (this
//                                  stand-in ends attachments with their handle)    [doc]
// DetachVirtualDisk
//   0xC03A001C ERROR_VHD_INVALID_STATE  not attached                               [own]
// CompactVirtualDisk
//   0xC03A001B ERROR_VHD_INVALID_TYPE  fixed VHD or VHDX, ISO                       [own]
//   0xC03A001C ERROR_VHD_INVALID_STATE  attached read-write; VHDX with a log to replay [own]
// GetVirtualDiskInformation
//   122  ERROR_INSUFFICIENT_BUFFER size below 8 + the answer's size; the size needed is
//                                  written back                                    [own]
//   87   a kind other than SIZE (1), VIRTUAL_STORAGE_TYPE (6), PROVIDER_SUBTYPE (7)  [own]
#include <windows.h>
#include <virtdisk.h>

#include "images.h"
#include "observe.h"
#include "records.h"

using namespace standin;

namespace {

constexpr GUID VendorMicrosoft = {
    0xEC984AEC, 0xA0F9, 0x47E9, {0x90, 0x1F, 0x71, 0x41, 0x5A, 0x66, 0x34, 0x5B}};

constexpr DWORD AccessAll = 0x3F0000;
constexpr DWORD AccessAttachRo = 0x10000, AccessAttachRw = 0x20000, AccessDetach = 0x40000,
                AccessGetInfo = 0x80000, AccessCreate = 0x100000, AccessMetaops = 0x200000;
// Only one handle at a time may hold any of these.
constexpr DWORD AccessExclusive = AccessAttachRo | AccessAttachRw | AccessMetaops;
constexpr DWORD AccessWrites = AccessAttachRw | AccessMetaops | AccessCreate;
constexpr DWORD OpenFlagsKnown = 0x3; // NO_PARENTS, BLANK_FILE
constexpr DWORD AttachFlagsKnown = 0x3F;

bool HoldsManageVolumePrivilege() {
    HANDLE token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    LUID privilege;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::string buffer(size, '\0');
    bool held = false;
    if (LookupPrivilegeValueW(nullptr, SE_MANAGE_VOLUME_NAME, &privilege) &&
        GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
            held |= entry.Luid.LowPart == privilege.LowPart &&
                    entry.Luid.HighPart == privilege.HighPart &&
                    !(entry.Attributes & SE_PRIVILEGE_REMOVED);
        }
    }
    CloseHandle(token);
    return held;
}

std::wstring Field(const wchar_t* name, const std::wstring& value) {
    return std::wstring(name) + L"=" + value;
}

DWORD CheckOpenArguments(PVIRTUAL_STORAGE_TYPE type, PCWSTR path, DWORD access, DWORD flags,
                         POPEN_VIRTUAL_DISK_PARAMETERS parameters, PHANDLE handle) {
    if (!type || !path || !handle || (access & ~AccessAll) || (flags & ~OpenFlagsKnown))
        return ERROR_INVALID_PARAMETER;
    if (parameters && (parameters->Version < OPEN_VIRTUAL_DISK_VERSION_1 ||
                       parameters->Version > OPEN_VIRTUAL_DISK_VERSION_2))
        return ERROR_INVALID_PARAMETER;
    bool versionTwoOrLater = parameters && parameters->Version >= OPEN_VIRTUAL_DISK_VERSION_2;
    if (!access && !versionTwoOrLater)
        return ERROR_INVALID_PARAMETER;
    if (!IsEqualGUID(type->VendorId, VendorMicrosoft) || type->DeviceId < DeviceIso ||
        type->DeviceId > DeviceVhdx)
        return ErrorVirtdiskProviderNotFound;
    if (type->DeviceId == DeviceIso && (access & AccessWrites))
        return ERROR_NOT_SUPPORTED;
    return 0;
}

HANDLE OpenImageFile(const std::wstring& path, bool write) {
    return CreateFileW(path.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0),
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD ProbeFile(Record* record, DWORD device) {
    HANDLE file = OpenImageFile(record->Path, record->Access & AccessWrites);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD code = ProbeImage(file, record->Path, device, &record->Info);
    CloseHandle(file);
    return code;
}

DWORD OpenImage(DWORD device, const std::wstring& path, DWORD access, PHANDLE handle) {
    auto* record = new Record;
    record->Path = path;
    record->Access = access;
    DWORD code = CreateCallerHandle(record, access & AccessExclusive);
    if (!code) {
        code = ProbeFile(record, device);
        if (!code)
            code = AddRecord(record);
        if (code)
            DiscardCallerHandle(record);
    }
    if (code) {
        delete record;
        return code;
    }
    *handle = record->CallerEnd;
    return 0;
}

DWORD AttachChecks(Record* record, DWORD flags) {
    bool readOnly = flags & ATTACH_VIRTUAL_DISK_FLAG_READ_ONLY;
    if (!HoldsManageVolumePrivilege())
        return ERROR_PRIVILEGE_NOT_HELD;
    if (record->Attached)
        return ErrorVhdInvalidState;
    if ((record->Info.Device == DeviceIso && !readOnly) ||
        (flags & ATTACH_VIRTUAL_DISK_FLAG_PERMANENT_LIFETIME))
        return ERROR_NOT_SUPPORTED;
    DWORD needed = readOnly ? AccessAttachRo | AccessAttachRw : AccessAttachRw;
    if (!(record->Access & needed))
        return ERROR_ACCESS_DENIED;
    return BeginAttachment(record, readOnly);
}

DWORD CompactChecks(Record* record) {
    if (!(record->Access & AccessMetaops))
        return ERROR_ACCESS_DENIED;
    const ImageInfo& info = record->Info;
    if (info.Device == DeviceIso || info.Subtype == SubtypeFixed)
        return ErrorVhdInvalidType;
    if ((record->Attached && !record->ReadOnly) || info.LogPending)
        return ErrorVhdInvalidState;
    HANDLE file = OpenImageFile(record->Path, true);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD code = CompactImage(file, info);
    CloseHandle(file);
    return code;
}

uint64_t PhysicalSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

DWORD FillInformation(const Record* record, PULONG size, PGET_VIRTUAL_DISK_INFO info,
                      PULONG sizeUsed) {
    ULONG needed;
    switch (info->Version) {
    case GET_VIRTUAL_DISK_INFO_SIZE:
        needed = 8 + sizeof info->Size;
        break;
    case GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE:
        needed = 8 + sizeof info->VirtualStorageType;
        break;
    case GET_VIRTUAL_DISK_INFO_PROVIDER_SUBTYPE:
        needed = 8 + sizeof info->ProviderSubtype;
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    const ImageInfo& image = record->Info;
    switch (info->Version) {
    case GET_VIRTUAL_DISK_INFO_SIZE:
        info->Size.VirtualSize = image.VirtualSize;
        info->Size.PhysicalSize = PhysicalSize(record->Path);
        info->Size.BlockSize = image.Subtype == SubtypeFixed ? 0 : image.BlockSize;
        info->Size.SectorSize = image.SectorSize;
        break;
    case GET_VIRTUAL_DISK_INFO_VIRTUAL_STORAGE_TYPE:
        info->VirtualStorageType.DeviceId = image.Device;
        info->VirtualStorageType.VendorId = VendorMicrosoft;
        break;
    default:
        info->ProviderSubtype = image.Subtype;
        break;
    }
    *size = needed;
    if (sizeUsed)
        *sizeUsed = needed;
    return 0;
}

} // namespace

// Exported under the platform's names by virtdisk.def.
extern "C" {

DWORD WINAPI StandinOpenVirtualDisk(PVIRTUAL_STORAGE_TYPE type, PCWSTR path,
                                    VIRTUAL_DISK_ACCESS_MASK access, OPEN_VIRTUAL_DISK_FLAG flags,
                                    POPEN_VIRTUAL_DISK_PARAMETERS parameters, PHANDLE handle) {
    std::wstring name = path ? path : L"";
    DWORD code = CheckOpenArguments(type, path, access, flags, parameters, handle);
    if (!code && !TakeFault(Operation::Open, name, &code)) {
        RecordLock lock;
        EndClosedRecords(name);
        code = OpenImage(type->DeviceId, name, access, handle);
    }
    Journal(L"open", code, name,
            Field(L"device", std::to_wstring(type ? type->DeviceId : 0)) + L"\t" +
                Field(L"access", Hex(access)) + L"\t" + Field(L"flags", Hex(flags)));
    return code;
}

DWORD WINAPI StandinAttachVirtualDisk(HANDLE handle, PSECURITY_DESCRIPTOR,
                                      ATTACH_VIRTUAL_DISK_FLAG flags, ULONG providerFlags,
                                      PATTACH_VIRTUAL_DISK_PARAMETERS parameters,
                                      LPOVERLAPPED overlapped) {
    RecordLock lock;
    Record* record = FindRecord(handle);
    std::wstring path = record ? record->Path : L"-";
    DWORD code = 0;
    if (!record || (flags & ~AttachFlagsKnown) || providerFlags ||
        (parameters && parameters->Version != ATTACH_VIRTUAL_DISK_VERSION_1))
        code = ERROR_INVALID_PARAMETER;
    else if (overlapped)
        code = ERROR_NOT_SUPPORTED;
    else if (!TakeFault(Operation::Attach, path, &code))
        code = AttachChecks(record, flags);
    Journal(L"attach", code, path, Field(L"flags", Hex(flags)));
    return code;
}

DWORD WINAPI StandinDetachVirtualDisk(HANDLE handle, DETACH_VIRTUAL_DISK_FLAG flags,
                                      ULONG providerFlags) {
    RecordLock lock;
    Record* record = FindRecord(handle);
    std::wstring path = record ? record->Path : L"-";
    DWORD code = 0;
    if (!record || flags || providerFlags)
        code = ERROR_INVALID_PARAMETER;
    else if (TakeFault(Operation::Detach, path, &code))
        ;
    else if (!(record->Access & AccessDetach))
        code = ERROR_ACCESS_DENIED;
    else if (!record->Attached)
        code = ErrorVhdInvalidState;
    else
        EndAttachment(record);
    Journal(L"detach", code, path, Field(L"flags", Hex(flags)));
    return code;
}

DWORD WINAPI StandinCompactVirtualDisk(HANDLE handle, COMPACT_VIRTUAL_DISK_FLAG flags,
                                       PCOMPACT_VIRTUAL_DISK_PARAMETERS parameters,
                                       LPOVERLAPPED overlapped) {
    RecordLock lock;
    Record* record = FindRecord(handle);
    std::wstring path = record ? record->Path : L"-";
    DWORD code = 0;
    if (!record || flags || (parameters && parameters->Version != COMPACT_VIRTUAL_DISK_VERSION_1))
        code = ERROR_INVALID_PARAMETER;
    else if (overlapped)
        code = ERROR_NOT_SUPPORTED;
    else if (!TakeFault(Operation::Compact, path, &code))
        code = CompactChecks(record);
    Journal(L"compact", code, path, Field(L"flags", Hex(flags)));
    return code;
}

DWORD WINAPI StandinGetVirtualDiskInformation(HANDLE handle, PULONG size,
                                              PGET_VIRTUAL_DISK_INFO info, PULONG sizeUsed) {
    RecordLock lock;
    Record* record = FindRecord(handle);
    std::wstring path = record ? record->Path : L"-";
    DWORD kind = info ? DWORD(info->Version) : 0;
    DWORD code;
    if (!record || !size || !info)
        code = ERROR_INVALID_PARAMETER;
    else if (TakeFault(Operation::Info, path, &code))
        ;
    else if (!(record->Access & AccessGetInfo))
        code = ERROR_ACCESS_DENIED;
    else
        code = FillInformation(record, size, info, sizeUsed);
    Journal(L"info", code, path, Field(L"kind", std::to_wstring(kind)));
    return code;
}

} // extern "C"

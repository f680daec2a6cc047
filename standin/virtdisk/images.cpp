#include "images.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "standin/common/bytes.h"
#include "standin/common/formats.h"

namespace standin {

bool ReadAt(HANDLE file, uint64_t offset, void* buffer, uint64_t size) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD done = 0;
    return ReadFile(file, buffer, DWORD(size), &done, &at) && done == size;
}

bool WriteAt(HANDLE file, uint64_t offset, const void* buffer, uint64_t size) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD done = 0;
    return WriteFile(file, buffer, DWORD(size), &done, &at) && done == size;
}

uint64_t FileSize(HANDLE file) {
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    return uint64_t(size.QuadPart);
}

namespace {

using Bytes = std::vector<uint8_t>;

bool IsPowerOfTwo(uint64_t value) {
    return value && !(value & (value - 1));
}

uint64_t RoundUp(uint64_t value, uint64_t unit) {
    return (value + unit - 1) / unit * unit;
}

// --- VHD -------------------------------------------------------------------

std::wstring Utf16Text(const uint8_t* p, uint32_t bytes, bool bigEndian) {
    std::wstring text;
    for (uint32_t i = 0; i + 1 < bytes; i += 2) {
        wchar_t c = wchar_t(bigEndian ? LoadBe16(p + i) : LoadLe16(p + i));
        if (!c)
            break;
        text += c;
    }
    return text;
}

std::wstring Folder(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
    return full.substr(0, full.find_last_of(L"\\/") + 1);
}

// The parent must exist where a locator says and carry the identifier the child expects.
DWORD CheckParent(HANDLE file, const std::wstring& path, const uint8_t* header) {
    for (uint32_t i = 0; i < vhd::LocatorCount; ++i) {
        const uint8_t* entry = header + vhd::HOffLocators + i * vhd::LocatorSize;
        uint32_t platform = LoadBe32(entry);
        uint32_t length = LoadBe32(entry + 8);
        if ((platform != vhd::PlatformW2ku && platform != vhd::PlatformW2ru) || length > 65536)
            continue;
        Bytes data(length);
        if (!ReadAt(file, LoadBe64(entry + 16), data.data(), length))
            continue;
        std::wstring parentPath = Utf16Text(data.data(), length, false);
        if (platform == vhd::PlatformW2ru)
            parentPath = Folder(path) + parentPath;
        HANDLE parent = CreateFileW(parentPath.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (parent == INVALID_HANDLE_VALUE)
            continue;
        uint8_t footer[vhd::FooterSize] = {};
        uint64_t size = FileSize(parent);
        bool read = size >= vhd::FooterSize &&
                    ReadAt(parent, size - vhd::FooterSize, footer, sizeof footer);
        CloseHandle(parent);
        if (!read || memcmp(footer, "conectix", 8) != 0 ||
            memcmp(footer + vhd::OffUniqueId, header + vhd::HOffParentId, 16) != 0)
            return ErrorVhdChildParentIdMismatch;
        return 0;
    }
    return ErrorVhdParentVhdNotFound;
}

DWORD ProbeSparseHeader(HANDLE file, const std::wstring& path, uint64_t fileSize,
                        const uint8_t* footer, ImageInfo* info) {
    uint64_t headerOffset = LoadBe64(footer + vhd::OffDataOffset);
    uint8_t header[vhd::HeaderSize];
    if (fileSize < vhd::FooterSize + vhd::HeaderSize ||
        headerOffset > fileSize - vhd::FooterSize - vhd::HeaderSize ||
        !ReadAt(file, headerOffset, header, sizeof header) || memcmp(header, "cxsparse", 8) != 0)
        return ErrorVhdSparseHeaderCorrupt;
    if (LoadBe32(header + vhd::HOffChecksum) !=
        VhdChecksum(header, vhd::HeaderSize, vhd::HOffChecksum))
        return ErrorVhdSparseHeaderChecksumMismatch;
    uint32_t blockSize = LoadBe32(header + vhd::HOffBlockSize);
    if (!IsPowerOfTwo(blockSize) || blockSize < 4096)
        return ErrorVhdInvalidBlockSize;
    uint64_t entries = LoadBe32(header + vhd::HOffMaxEntries);
    uint64_t table = LoadBe64(header + vhd::HOffTableOffset);
    if (entries * blockSize < info->VirtualSize || table + entries * 4 > fileSize)
        return ErrorVhdBlockAllocationTableCorrupt;
    info->BlockSize = blockSize;
    info->TableOffset = table;
    info->TableEntries = entries;
    info->DataFloor = std::max(headerOffset + vhd::HeaderSize, RoundUp(table + entries * 4, 512));
    if (info->Subtype != SubtypeDifferencing)
        return 0;
    for (uint32_t i = 0; i < vhd::LocatorCount; ++i) {
        const uint8_t* entry = header + vhd::HOffLocators + i * vhd::LocatorSize;
        if (LoadBe32(entry))
            info->DataFloor =
                std::max(info->DataFloor, LoadBe64(entry + 16) + LoadBe32(entry + 4) * 512ull);
    }
    return CheckParent(file, path, header);
}

DWORD ProbeVhd(HANDLE file, const std::wstring& path, uint64_t size, ImageInfo* info) {
    uint8_t footer[vhd::FooterSize];
    if (size < vhd::FooterSize || !ReadAt(file, size - vhd::FooterSize, footer, sizeof footer))
        return ErrorVirtdiskNotVirtualDisk;
    if (memcmp(footer, "conectix", 8) != 0) {
        // A dynamic disk keeps a copy at the start: the file was cut, not something else.
        bool copy = ReadAt(file, 0, footer, sizeof footer) && memcmp(footer, "conectix", 8) == 0;
        return copy ? ErrorVhdDriveFooterMissing : ErrorVirtdiskNotVirtualDisk;
    }
    if (LoadBe32(footer + vhd::OffChecksum) !=
        VhdChecksum(footer, vhd::FooterSize, vhd::OffChecksum))
        return ErrorVhdDriveFooterChecksumMismatch;
    if (LoadBe32(footer + vhd::OffVersion) >> 16 != 1)
        return ErrorVhdFormatUnsupportedVersion;
    info->Device = DeviceVhd;
    info->Subtype = LoadBe32(footer + vhd::OffDiskType);
    info->VirtualSize = LoadBe64(footer + vhd::OffCurrentSize);
    info->SectorSize = vhd::SectorSize;
    switch (info->Subtype) {
    case vhd::TypeFixed:
        return size - vhd::FooterSize >= info->VirtualSize ? 0 : ErrorVhdInvalidFileSize;
    case vhd::TypeDynamic:
    case vhd::TypeDifferencing:
        return ProbeSparseHeader(file, path, size, footer, info);
    default:
        return ErrorVhdFormatUnknown;
    }
}

// --- VHDX ------------------------------------------------------------------

bool SameGuid(const uint8_t* p, const GUID& guid) {
    uint8_t expected[16];
    StoreLe32(expected, guid.Data1);
    StoreLe16(expected + 4, guid.Data2);
    StoreLe16(expected + 6, guid.Data3);
    memcpy(expected + 8, guid.Data4, 8);
    return memcmp(p, expected, 16) == 0;
}

bool ValidHeader(HANDLE file, int slot, Bytes* header) {
    header->resize(vhdx::HeaderSize);
    return ReadAt(file, vhdx::HeaderOffset[slot], header->data(), vhdx::HeaderSize) &&
           memcmp(header->data(), "head", 4) == 0 &&
           LoadLe32(header->data() + 4) == VhdxChecksum(header->data(), vhdx::HeaderSize) &&
           LoadLe16(header->data() + vhdx::HOffVersion) == 1;
}

bool ValidRegionTable(HANDLE file, int slot, Bytes* table) {
    table->resize(vhdx::RegionTableSize);
    return ReadAt(file, vhdx::RegionTableOffset[slot], table->data(), vhdx::RegionTableSize) &&
           memcmp(table->data(), "regi", 4) == 0 &&
           LoadLe32(table->data() + 4) == VhdxChecksum(table->data(), vhdx::RegionTableSize) &&
           LoadLe32(table->data() + 8) <= 2047;
}

struct Region {
    uint64_t Offset = 0, Length = 0;
};

// Every metadata item this reader needs, or false.
bool ReadMetadata(HANDLE file, const Region& region, ImageInfo* info, uint32_t* flags) {
    Bytes table(vhdx::MetadataTableSize);
    if (!ReadAt(file, region.Offset, table.data(), table.size()) ||
        memcmp(table.data(), "metadata", 8) != 0)
        return false;
    uint32_t found = 0;
    uint16_t count = LoadLe16(table.data() + 10);
    for (uint32_t i = 0; i < count && i < 2047; ++i) {
        const uint8_t* entry = table.data() + 32 + i * 32;
        uint8_t value[8] = {};
        uint32_t offset = LoadLe32(entry + 16), length = LoadLe32(entry + 20);
        if (length > 8 || offset + uint64_t(length) > region.Length)
            continue;
        if (!ReadAt(file, region.Offset + offset, value, length))
            return false;
        if (SameGuid(entry, vhdx::FileParameters)) {
            info->BlockSize = LoadLe32(value);
            *flags = LoadLe32(value + 4);
            found |= 1;
        } else if (SameGuid(entry, vhdx::VirtualDiskSize)) {
            info->VirtualSize = LoadLe64(value);
            found |= 2;
        } else if (SameGuid(entry, vhdx::LogicalSectorSize)) {
            info->SectorSize = LoadLe32(value);
            found |= 4;
        }
    }
    return found == 7 && IsPowerOfTwo(info->BlockSize) && info->BlockSize >= vhdx::MiB &&
           info->BlockSize <= 256 * vhdx::MiB &&
           (info->SectorSize == 512 || info->SectorSize == 4096) && info->VirtualSize &&
           info->VirtualSize % info->SectorSize == 0;
}

DWORD ProbeVhdx(HANDLE file, uint64_t size, ImageInfo* info) {
    char identifier[8];
    if (size < vhdx::RegionTableOffset[1] + vhdx::RegionTableSize ||
        !ReadAt(file, 0, identifier, 8) || memcmp(identifier, "vhdxfile", 8) != 0)
        return ErrorVirtdiskNotVirtualDisk;
    Bytes headers[2];
    bool valid[2] = {ValidHeader(file, 0, &headers[0]), ValidHeader(file, 1, &headers[1])};
    if (!valid[0] && !valid[1])
        return ERROR_FILE_CORRUPT;
    int current = !valid[0] || (valid[1] && LoadLe64(headers[1].data() + vhdx::HOffSequence) >
                                                LoadLe64(headers[0].data() + vhdx::HOffSequence));
    const uint8_t* header = headers[current].data();
    Bytes table;
    if (!ValidRegionTable(file, 0, &table) && !ValidRegionTable(file, 1, &table))
        return ERROR_FILE_CORRUPT;
    Region bat, metadata;
    for (uint32_t i = 0; i < LoadLe32(table.data() + 8); ++i) {
        const uint8_t* entry = table.data() + 16 + i * 32;
        Region region{LoadLe64(entry + 16), LoadLe32(entry + 24)};
        if (SameGuid(entry, vhdx::BatRegion))
            bat = region;
        else if (SameGuid(entry, vhdx::MetadataRegion))
            metadata = region;
        else if (LoadLe32(entry + 28) & 1)
            return ERROR_FILE_CORRUPT; // a required region this reader does not know
    }
    uint32_t flags = 0;
    if (!bat.Length || !metadata.Length || !ReadMetadata(file, metadata, info, &flags))
        return ERROR_FILE_CORRUPT;
    info->Device = DeviceVhdx;
    info->Subtype = (flags & vhdx::HasParent)              ? SubtypeDifferencing
                    : (flags & vhdx::LeaveBlocksAllocated) ? SubtypeFixed
                                                           : SubtypeDynamic;
    info->Blocks = (info->VirtualSize + info->BlockSize - 1) / info->BlockSize;
    info->ChunkRatio = vhdx::ChunkRatio(info->SectorSize, info->BlockSize);
    info->TableOffset = bat.Offset;
    info->TableEntries = bat.Length / 8;
    if (vhdx::PayloadBatIndex(info->Blocks - 1, info->ChunkRatio) >= info->TableEntries)
        return ERROR_FILE_CORRUPT;
    uint64_t logEnd =
        LoadLe64(header + vhdx::HOffLogOffset) + LoadLe32(header + vhdx::HOffLogLength);
    info->DataFloor = RoundUp(
        std::max({bat.Offset + bat.Length, metadata.Offset + metadata.Length, logEnd, vhdx::MiB}),
        vhdx::MiB);
    info->CurrentHeader = current;
    info->LogPending = !AllZero(header + vhdx::HOffLogGuid, 16);
    return 0;
}

// --- ISO -------------------------------------------------------------------

DWORD ProbeIso(HANDLE file, uint64_t size, ImageInfo* info) {
    char descriptor[6];
    if (size % iso::SectorSize || size < iso::MinimumSize ||
        !ReadAt(file, uint64_t(iso::DescriptorSector) * iso::SectorSize, descriptor, 6) ||
        (memcmp(descriptor + 1, "CD001", 5) != 0 && memcmp(descriptor + 1, "BEA01", 5) != 0))
        return ERROR_FILE_CORRUPT;
    info->Device = DeviceIso;
    info->Subtype = SubtypeFixed;
    info->VirtualSize = size;
    info->SectorSize = iso::SectorSize;
    return 0;
}

} // namespace

DWORD ProbeImage(HANDLE file, const std::wstring& path, DWORD device, ImageInfo* info) {
    uint64_t size = FileSize(file);
    switch (device) {
    case DeviceVhd:
        return ProbeVhd(file, path, size, info);
    case DeviceVhdx:
        return ProbeVhdx(file, size, info);
    case DeviceIso:
        return ProbeIso(file, size, info);
    }
    return ErrorVirtdiskProviderNotFound;
}

} // namespace standin
